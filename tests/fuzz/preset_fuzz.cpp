// Preset file contents: any bytes are either refused with one of the load
// messages or give values inside the effect's ranges, which save back to a file
// that loads to the same values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "plugin/preset.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QZ_Preset p{-5, -5.0f};
    const char* message = QZ_preset_decode(data, size, &p);
    if (message) {
        if (std::strcmp(message, QZ_PRESET_BAD_CONTENT) != 0 && std::strcmp(message, QZ_PRESET_WRONG_HEADER) != 0)
            std::abort();
        if (p.state != -5) std::abort();  // refused content changes nothing
        return 0;
    }
    if (size != QZ_preset_file_length()) std::abort();
    if (p.state != 0 && p.state != 1) std::abort();
    if (!(p.frequency >= 20.0f && p.frequency <= 20000.0f)) std::abort();
    unsigned char again[300];
    QZ_preset_encode(p, again);
    QZ_Preset q;
    if (QZ_preset_decode(again, size, &q) || q.state != p.state || q.frequency != p.frequency) std::abort();
    return 0;
}
