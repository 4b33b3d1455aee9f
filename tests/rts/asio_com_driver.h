// What the registry test and its COM test driver (asio_com_driver.cpp, a DLL
// of its own) share: the class identifiers and the driver's counters.
#pragma once

#include <cstdint>

// The test driver's class.
#define ZELO_TEST_DRIVER_CLSID "{9EE779A1-22FD-4BC8-B1AE-243E4507A2E4}"
// Registered with the same module, whose class object refuses it.
#define ZELO_REFUSED_DRIVER_CLSID "{A274E3B3-6F83-4F93-9BA0-AD084B907E99}"
// Registered with a module that does not exist.
#define ZELO_MISSING_MODULE_CLSID "{DDEC3B80-1876-4B2B-8309-F1B3327D8031}"
// Registered nowhere.
#define ZELO_UNREGISTERED_CLSID "{A34CFD0D-97B4-4C07-A7AD-B97F2D779186}"

// Counters of the driver module, read through its export "zelo_test_driver_stats".
struct Zelo_Test_Driver_Stats {
    std::int32_t created;     // driver objects made by the class object
    std::int32_t alive;       // driver objects not yet released
    std::int32_t inits;       // init calls
    std::int32_t switches;    // buffer switches called on the driver's thread
    std::int32_t halves[2];   // of them, per buffer half
    std::int32_t mismatches;  // output samples that were not the input copied through
    std::int32_t disposals;   // disposeBuffers calls
    std::int32_t ticking;     // 1 while the driver's thread runs
};
using Zelo_Test_Driver_Stats_Fn = void (*)(Zelo_Test_Driver_Stats*);

// The input sample the driver writes into channel `c`, frame `s` of switch `n`:
// at most 22 significant bits, so it passes a conversion through float exactly.
constexpr std::int32_t zelo_test_sample(std::uint32_t n, std::uint32_t c, std::uint32_t s) {
    return static_cast<std::int32_t>(((n % 2048u) << 19) | ((s % 128u) << 12) | ((c % 16u) << 8));
}
