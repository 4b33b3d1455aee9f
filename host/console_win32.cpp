#include <windows.h>
#include <io.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/atomic_file.h"
#include "host/console.h"

namespace {
std::atomic<bool> g_stop{false};
std::atomic<bool> g_catching{false};

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

void zelo_catch_stop_requests() {
    g_catching = true;
    SetConsoleCtrlHandler(&on_console_event, TRUE);
}

bool zelo_stop_requested() { return g_stop; }

bool zelo_stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

namespace {

// Ctrl+C passed on by zelo.com: a program of the window subsystem receives
// no console events of its own everywhere (wine delivers none), so the
// launcher sets an event it handed down. A run stops as on Ctrl+C; any other
// mode ends as Ctrl+C ends a program, its unfinished files removed first.
DWORD WINAPI wait_for_launcher(void* event) {
    if (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) != WAIT_OBJECT_0) return 0;
    if (g_catching) {
        g_stop = true;
        return 0;
    }
    QZ_atomic_files_interrupt();
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void take_stop_event() {
    char text[32] = {};
    const DWORD n = GetEnvironmentVariableA(kStopEventVariable, text, sizeof text);
    if (n == 0 || n >= sizeof text) return;
    SetEnvironmentVariableA(kStopEventVariable, nullptr);  // not for programs this one starts
    const unsigned long long value = std::strtoull(text, nullptr, 10);
    if (value == 0) return;
    HANDLE event = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
    if (HANDLE t = CreateThread(nullptr, 0, &wait_for_launcher, event, 0, nullptr)) CloseHandle(t);
}

}  // namespace

void zelo_join_parent_console() {
    take_stop_event();
    // Handles given by the starter (zelo.com passes its own; a redirection
    // passes a file) stay; the missing ones go to the console. Asked before
    // joining it, which may fill them in where the C library does not look.
    auto missing = [](DWORD which) {
        const HANDLE h = GetStdHandle(which);
        return h == nullptr || h == INVALID_HANDLE_VALUE;
    };
    const bool in = missing(STD_INPUT_HANDLE), out = missing(STD_OUTPUT_HANDLE), err = missing(STD_ERROR_HANDLE);
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;  // started from no console: nothing to join
    if (out) std::freopen("CONOUT$", "w", stdout);
    if (err) std::freopen("CONOUT$", "w", stderr);
    if (in) std::freopen("CONIN$", "r", stdin);
}

// The wave device's and the ASIO driver's threads are the system's or the
// driver's; the working set is left to the system.
bool zelo_keep_memory_resident() { return false; }
