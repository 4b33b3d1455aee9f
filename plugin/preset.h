// Preset files: the product string with its zero byte as the header, then the
// State word and the Frequency knob value, 4 bytes each, little-endian.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>

struct QZ_Preset {
    std::int32_t state = 1;       // 0 off, 1 on
    float frequency = 1500.0f;    // knob units, 20..20000
};

// Length of the header: the product string and its zero.
std::size_t QZ_preset_header_length();
// Length of a whole preset file.
inline std::size_t QZ_preset_file_length() { return QZ_preset_header_length() + 8; }

// The file's bytes for `values` (QZ_preset_file_length() of them).
void QZ_preset_encode(const QZ_Preset& values, unsigned char* out);

// Reads the values from a file's whole content. Null on success, otherwise
// the message to show; `out` is written only on success. A State other than 0
// counts as on; a Frequency that is not a number or lies outside 20..20000 is
// brought into range.
const char* QZ_preset_decode(const unsigned char* data, std::size_t size, QZ_Preset* out);

// Writes a preset file: a temporary file beside the target, renamed over it
// only once complete, so a failure leaves any old file as it was. Null on
// success, otherwise the message to show.
const char* QZ_preset_save(const char* path, const QZ_Preset& values);

// Opens a file for binary reading (null when it cannot): how loading opens a
// preset (preset_read.cpp; the preset fuzzer links one of its own with files
// that change size between the checks and reads that end early).
std::FILE* QZ_open_for_reading(const char* path);

// Loads a preset file (exactly its expected length is read). Null on success,
// otherwise the message to show; `out` is written only on success.
const char* QZ_preset_load(const char* path, QZ_Preset* out);

// The messages.
extern const char QZ_PRESET_CANNOT_OPEN_FOR_READING[];
extern const char QZ_PRESET_BAD_CONTENT[];
extern const char QZ_PRESET_CANNOT_READ_HEADER[];
extern const char QZ_PRESET_WRONG_HEADER[];
extern const char QZ_PRESET_CANNOT_READ_PARAMS[];
extern const char QZ_PRESET_CANNOT_OPEN_FOR_WRITING[];
extern const char QZ_PRESET_CANNOT_WRITE_HEADER[];
extern const char QZ_PRESET_CANNOT_WRITE_PARAMS[];
