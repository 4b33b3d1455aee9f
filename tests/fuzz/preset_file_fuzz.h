// The file that the preset fuzzer's file operations pretend to open.
#pragma once

#include <cstddef>
#include <cstdint>

struct QZ_Preset_File_Scenario {
    const std::uint8_t* data = nullptr;  // what reading delivers
    std::size_t size = 0;
    long long measured_size = 0;  // where seeking to the end lands
    std::size_t chunk = 0;        // most bytes per read call (0: no limit)
    std::size_t fail_after = ~std::size_t{0};  // a read fails once this many bytes were delivered
    bool seek_fails = false;
    bool open_fails = false;
};

extern QZ_Preset_File_Scenario g_preset_file;
