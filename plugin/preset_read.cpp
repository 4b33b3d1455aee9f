// Opening a preset for reading, in a file of its own so that the preset
// fuzzer can link its own instead.
#include <cstdio>

#include "plugin/preset.h"

std::FILE* QZ_open_for_reading(const char* path) { return std::fopen(path, "rb"); }
