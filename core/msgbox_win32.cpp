// Message box on Windows: a modal box without owner window and a single OK button.
#include <windows.h>

#include "core/error.h"

int QZ_platform_message_box(const char* text, const char* caption) {
    return MessageBoxA(nullptr, text, caption, MB_OK);
}
