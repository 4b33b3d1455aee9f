#include <windows.h>
#include <io.h>

#include <atomic>
#include <cstdio>

#include "host/console.h"

namespace {
std::atomic<bool> g_stop{false};

// Called on a thread of its own: the run notices the flag within its next
// tick, shuts the driver down and prints its summary. A closed console window
// gives the process a few seconds for that before it is ended.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            g_stop = true;
            return TRUE;
        default:
            return FALSE;
    }
}
}  // namespace

void zelo_catch_stop_requests() { SetConsoleCtrlHandler(&on_console_event, TRUE); }

bool zelo_stop_requested() { return g_stop; }

bool zelo_stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

// The wave device's and the ASIO driver's threads are the system's or the
// driver's; the working set is left to the system.
bool zelo_keep_memory_resident() { return false; }
