// The command language: objects are created, configured, queried and deleted by
// short texts interpreted against the class registry.
#pragma once

#include <cstdarg>

#include "core/object.h"

enum : int {
    QZ_CMD_TEXT = 1,       // write results as text into the result buffer
    QZ_CMD_REFERENCE = 2,  // store results through references from the argument list
};

// Runs one command in the reference form. Arguments supply the placeholders
// ("%i" int, "%f" double, "%s" const char*, "%o" QZ_handle) and receive results
// (QZ_handle* / std::uint32_t* for 32-bit results, const char** for texts),
// in the order in which the command consumes them.
QZ_error spcpp(const char* command, ...);

// The interpreter. `capacity` is the result buffer's size in characters and
// receives the number written (text form).
QZ_error spcpp_execute(int flags, const char* command, char* result, int* capacity, va_list args);

// The same against a given registry (tests and tools use their own tables).
QZ_error spcpp_execute_in(const QZ_Registry_Entry* registry, int flags, const char* command, char* result,
                          int* capacity, va_list args);

// Text-form convenience: runs `command` with the placeholders' values from the
// argument list and writes the results into `result`.
QZ_error spcpp_text(char* result, int capacity, const char* command, ...);

// Word classification of the command language: 2 integer, 3 float, 5 object,
// 4 string, 1 option (a string word starting with '-'). For tests and tools.
int QZ_classify_word(const char* word, std::size_t len);
