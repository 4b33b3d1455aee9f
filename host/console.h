// What a live run needs from the console it was started in: a stop request
// (Ctrl+C, or a termination request where the system has one) and whether the
// level line goes to a terminal (otherwise only the summary is printed).
#pragma once

// From here on, an interrupt sets the flag zelo_stop_requested() reads instead
// of ending the program.
void zelo_catch_stop_requests();
bool zelo_stop_requested();

bool zelo_stdout_is_terminal();
