// The WAVE reader on arbitrary bytes: headers, chunk walks and sample formats
// must be refused or read within bounds, never crash or read past the data.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/sound_wav.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<std::uint8_t> copy(data, data + size);  // fmemopen wants writable memory
    std::FILE* f = fmemopen(copy.data(), copy.size(), "rb");
    if (!f) return 0;
    std::string error;
    auto w = QZ_wav_open_read(f, &error);
    if (!w) return 0;
    std::vector<float> buf(static_cast<std::size_t>(w->channels) * 1024);
    for (int round = 0; round < 64; ++round) {
        const long long n = w->read(buf.data(), 1024);
        if (n <= 0) break;
        if (n > 1024) __builtin_trap();
    }
    w->close();
    return 0;
}
