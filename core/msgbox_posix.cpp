// Message box on systems without a native one: the report goes to standard error.
// A program with an X display installs its own box through QZ_set_message_box.
#include <cstdio>

#include "core/error.h"

int QZ_platform_message_box(const char* text, const char* caption) {
    std::fprintf(stderr, "[%s]\n%s\n", caption, text);
    std::fflush(stderr);
    return QZ_IDOK;
}
