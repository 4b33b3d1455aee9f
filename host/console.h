// What a live run needs from the console it was started in: a stop request
// (Ctrl+C, or a termination request where the system has one) and whether the
// level line goes to a terminal (otherwise only the summary is printed).
#pragma once

// From here on, an interrupt sets the flag zelo_stop_requested() reads instead
// of ending the program.
void zelo_catch_stop_requests();
bool zelo_stop_requested();

bool zelo_stdout_is_terminal();

// For the command-line modes of a program without a console of its own (the
// Windows program): joins the console it was started from, if any, so that
// Ctrl+C reaches it, and writes there what has no other place to go.
void zelo_join_parent_console();

// The environment variable through which zelo.com hands the program the
// event it sets on Ctrl+C (a handle number, inherited).
constexpr const char* kStopEventVariable = "ZELO_STOP_EVENT";

// Keeps the program's pages in memory where the system allows it, so that no
// page fault (a first touch, or a page the system took back) stalls a sound
// cycle. Call once everything the cycles use is set up; false when refused.
bool zelo_keep_memory_resident();
