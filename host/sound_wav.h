// The RIFF WAVE reader on an open stream (the file functions open one).
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "host/sound_file.h"

// Takes the stream over (closed with the file, or at once on a failure).
std::unique_ptr<QZ_Sound_File> QZ_wav_open_read(std::FILE* f, std::string* error);
