#include <cstdlib>

#include "host/sound_file.h"

void QZ_setenv_default(const char* name, const char* value) {
    if (!std::getenv(name)) _putenv_s(name, value);
}
