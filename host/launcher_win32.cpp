// zelo.com, the console face of zelo.exe. The program itself is a Windows
// program (double-clicked, it opens its window and no console); typed in a
// console, `zelo` finds this file first (.com before .exe), which starts the
// program beside it with the same arguments and its own standard handles,
// passes Ctrl+C on, waits for it and ends with its status, so the console
// waits too.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "host/console.h"

namespace {

// Set on Ctrl+C, Ctrl+Break or a closed console: the program, of the window
// subsystem, gets no console events everywhere, so it waits on this event
// (handed down by handle) and stops as on Ctrl+C; this one goes on waiting
// for it to end.
HANDLE g_stop = nullptr;
HANDLE g_program = nullptr;

BOOL WINAPI pass_on(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            if (g_stop) SetEvent(g_stop);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            // This process ends when the handler returns: the program gets
            // the few seconds the system allows to finish first.
            if (g_stop) SetEvent(g_stop);
            if (g_program) WaitForSingleObject(g_program, 4000);
            return TRUE;
        default:
            return FALSE;
    }
}

// The command line after this program's own name, exactly as given (quotes
// and all), with its leading blank.
const wchar_t* arguments(const wchar_t* line) {
    bool quoted = false;
    for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
        if (*line == L'"') quoted = !quoted;
    return line;
}

void say(const wchar_t* text) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (!err || err == INVALID_HANDLE_VALUE) return;
    if (!WriteConsoleW(err, text, static_cast<DWORD>(std::wcslen(text)), &written, nullptr)) {
        // Not a console: the text as UTF-8 bytes.
        char bytes[1024];
        const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
        if (n > 1) WriteFile(err, bytes, static_cast<DWORD>(n - 1), &written, nullptr);
    }
}

}  // namespace

int main() {
    std::wstring exe(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
    if (n == 0 || n >= exe.size()) return 127;
    exe.resize(n);
    const std::size_t slash = exe.find_last_of(L"\\/"), dot = exe.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        exe += L".exe";
    else
        exe.replace(dot, std::wstring::npos, L".exe");
    std::wstring line = L"\"" + exe + L"\"" + arguments(GetCommandLineW());

    // The program gets this one's standard handles (a console, a file, a pipe).
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError})
        if (h && h != INVALID_HANDLE_VALUE) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    g_stop = CreateEventW(&inherited, TRUE, FALSE, nullptr);
    if (g_stop)
        SetEnvironmentVariableA(kStopEventVariable,
                                std::to_string(reinterpret_cast<std::uintptr_t>(g_stop)).c_str());
    SetConsoleCtrlHandler(&pass_on, TRUE);

    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        say((L"zelo: cannot start " + exe + L"\r\n").c_str());
        return 127;
    }
    CloseHandle(pi.hThread);
    g_program = pi.hProcess;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(pi.hProcess, &status);
    CloseHandle(pi.hProcess);
    return static_cast<int>(status);
}
