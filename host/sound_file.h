// Sound files for the command-line modes, read and written as interleaved
// floats. Linux reads and writes through libsndfile (many formats); Windows,
// where that library is not available to the build, through our own RIFF WAVE
// code (PCM and float WAVE files in, float WAVE files out).
#pragma once

#include <memory>
#include <string>

class QZ_Sound_File {
public:
    virtual ~QZ_Sound_File() = default;
    // Frames read (at most `frames`), 0 at the end or on a failure.
    virtual long long read(float* interleaved, long long frames) = 0;
    // Frames written; fewer than asked means the write failed.
    virtual long long write(const float* interleaved, long long frames) = 0;
    // Finishes the file; false when anything could not be written.
    virtual bool close() = 0;

    long long frames = 0;  // of a file opened for reading
    std::string error;     // why a write or the close failed
    int rate = 0;
    int channels = 0;
};

// Opens a file for reading; null with the reason in *error.
std::unique_ptr<QZ_Sound_File> QZ_sound_open_read(const std::string& path, std::string* error);
// Creates the file `path` in the format the extension of `named` picks (the
// name it gets when complete: `path` is a temporary beside it); null with the
// reason in *error.
std::unique_ptr<QZ_Sound_File> QZ_sound_open_write(const std::string& path, const std::string& named, int rate,
                                                   int channels, std::string* error);
// Whether a path's extension names a format this build writes.
bool QZ_sound_can_write(const std::string& path);
// The extensions QZ_sound_open_write takes, for messages (".wav, .flac, ...").
const char* QZ_sound_write_extensions();

// Sets an environment variable unless it is set already.
void QZ_setenv_default(const char* name, const char* value);
