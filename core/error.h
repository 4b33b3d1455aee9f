// Error codes, the error message box and the message-box seam.
#pragma once

#include <cstddef>

// An error code is a reference to its own message text; results are compared by
// reference, never by text.
using QZ_error = const char*;

extern const QZ_error QZ_OK;
extern const QZ_error QZ_ERROR_UNKNOWN;
extern const QZ_error QZ_ERROR_FILE_CANNOT_OPEN;
extern const QZ_error QZ_ERROR_FILE_CANNOT_READ;
extern const QZ_error QZ_ERROR_FILE_CANNOT_CLOSE;
extern const QZ_error QZ_ERROR_MEMORY_CANNOT_ALLOCATE;
extern const QZ_error QZ_ERROR_MEMORY_CANNOT_REALLOC;
extern const QZ_error QZ_ERROR_MEMORY_CANNOT_FREE;
extern const QZ_error QZ_ERROR_PARAM_REQUIRED;
extern const QZ_error QZ_ERROR_RESOURCE_CANNOT_LOAD;
extern const QZ_error QZ_ERROR_RESOURCE_CANNOT_FIND;
extern const QZ_error QZ_ERROR_RESOURCE_CANNOT_LOCK;
extern const QZ_error QZ_ERROR_AUDIO;
extern const QZ_error QZ_ERROR_AUDIO_CANNOT_OPEN;
extern const QZ_error QZ_ERROR_AUDIO_CANNOT_INPUT_STOP;
extern const QZ_error QZ_ERROR_AUDIO_CANNOT_INPUT_CLOSE;
extern const QZ_error QZ_ERROR_AUDIO_CANNOT_OUTPUT_RESET;
extern const QZ_error QZ_ERROR_AUDIO_CANNOT_OUTPUT_CLOSE;
extern const QZ_error QZ_ERROR_COMMAND_NOT_FOUND;
extern const QZ_error QZ_ERROR_COMMAND_NOT_PARAM;
extern const QZ_error QZ_ERROR_COMMAND_NOT_SPACE;

// All codes in declaration order (for listing and tests).
extern const QZ_error* const QZ_error_codes[];
extern const std::size_t QZ_error_code_count;

// Modal message box result: the OK button.
constexpr int QZ_IDOK = 1;

// Formats the failure report into a global buffer (cut to fit) and shows it in a
// box captioned "ERROR". Returns the box's result. Serialised by a mutex.
int QZ_error_func(const char* file, int line, const char* proc, const char* date, const char* time,
                  const char* error);

// The text of the last report that QZ_error_func formatted.
const char* QZ_error_text();
constexpr std::size_t QZ_ERROR_TEXT_SIZE = 1024;

// The message-box seam. The platform backend shows the box; a test or a program
// with its own display may install a hook that receives every box instead.
using QZ_message_box_fn = int (*)(const char* text, const char* caption);
QZ_message_box_fn QZ_set_message_box(QZ_message_box_fn hook);  // returns the previous hook
int QZ_message_box(const char* text, const char* caption);

// The platform's own box (backend file); used when no hook is installed.
int QZ_platform_message_box(const char* text, const char* caption);

// Toolkit start-up hook: nothing needs doing at start, kept as the entry point
// for programs that embed the toolkit.
void QZ_initall();
