// Helpers for the effect-library tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/command.h"

// Runs a creating command in the text form (so options without a value, such
// as -g and -d, need no result references) and returns the created object:
// the first word of the result text. Placeholders take the given handles.
inline QZ_handle build(const char* command, QZ_handle a = 0, QZ_handle b = 0, QZ_handle c = 0) {
    char text[512] = {};
    EXPECT_EQ(spcpp_text(text, sizeof text, command, a, b, c), QZ_OK) << command;
    return static_cast<QZ_handle>(std::strtoul(text, nullptr, 16));
}

// Reads an option's float result ("%o -opt").
inline float read_float(QZ_handle h, const char* opt) {
    std::uint32_t r = 0;
    EXPECT_EQ(spcpp((std::string("%o -") + opt).c_str(), h, &r), QZ_OK);
    float f;
    std::memcpy(&f, &r, sizeof f);
    return f;
}
