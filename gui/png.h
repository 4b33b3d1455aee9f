// Pictures to and from PNG files (RGBA, straight alpha), for saving a window's
// image and for comparing it with a stored reference.
#pragma once

#include "gui/pic.h"

bool QZ_png_write(const char* path, const QZ_Picture& pic);
// Reads into freshly allocated storage; false (picture unchanged) on failure.
bool QZ_png_read(const char* path, QZ_Picture& pic);
