// The file system operations a safe save and a load need (backend files per
// platform; the preset fuzzer has one of its own with files that change size
// between the checks and reads that end early).
#pragma once

#include <cstdio>
#include <string>

// Creates and opens for binary writing a new file in the folder of `target`,
// named after it; its name goes to *temp. Null when no file can be created there.
std::FILE* QZ_open_temp_beside(const char* target, std::string* temp);
// Puts `temp` in place of `target` in one step (replacing an existing file).
bool QZ_replace_file(const std::string& temp, const char* target);
// True when `path` names something that is not a plain file (a folder, a device).
bool QZ_not_a_plain_file(const char* path);
// Opens `path` for binary reading; null when it cannot.
std::FILE* QZ_open_for_reading(const char* path);
