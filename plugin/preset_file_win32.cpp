// Safe replacement of a file on Windows: MoveFileEx replaces the target in one step.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "plugin/preset_file.h"

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

std::FILE* QZ_open_for_reading(const char* path) { return std::fopen(path, "rb"); }
