// Replacing a file on Windows: MoveFileEx replaces the target in one step.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "core/atomic_file.h"

std::FILE* QZ_open_temp_beside(const char* target, std::string* temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = std::string(target) + ".part" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(counter.fetch_add(1));
        // "x": fail rather than reuse an existing file.
        if (std::FILE* f = std::fopen(name.c_str(), "wbx")) {
            *temp = name;
            return f;
        }
        if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) return nullptr;
    }
    return nullptr;
}

bool QZ_replace_file(const std::string& temp, const char* target) {
    return MoveFileExA(temp.c_str(), target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool QZ_not_a_plain_file(const char* path) {
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

// Runs on a thread of its own while the writing thread goes on: a file open
// there cannot be deleted from here, so the writer is asked to stop, and the
// handler waits a little for it to remove its temporary before the default
// handler ends the program.
BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            QZ_atomic_files_interrupt();
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void QZ_atomic_files_clean_on_signals() { SetConsoleCtrlHandler(&on_console_event, TRUE); }
