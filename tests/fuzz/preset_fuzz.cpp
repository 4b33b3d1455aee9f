// Preset files, in memory and through loading a file.
//
// Content alone (any input not starting with 0xFF): any bytes are either
// refused with one of the load messages or give values inside the effect's
// ranges, which save back to a file that loads to the same values.
//
// Loading (0xFF, then a byte of switches, then three bytes): the switches
// make the open or the seek fail, and choose whether the measured size is moved from the expected
// length or from the content's; the three bytes are that move (-128..127),
// the most bytes per read and where a read fails; the rest is the content.
// Loading either refuses with a load message and changes nothing, or gives
// exactly what decoding the expected number of leading bytes gives; a file
// read whole and unchanged loads as its content decodes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "plugin/preset.h"
#include "tests/fuzz/preset_file_fuzz.h"

namespace {

bool is_load_message(const char* m) {
    for (const char* known : {QZ_PRESET_CANNOT_OPEN_FOR_READING, QZ_PRESET_BAD_CONTENT, QZ_PRESET_CANNOT_READ_HEADER,
                              QZ_PRESET_WRONG_HEADER, QZ_PRESET_CANNOT_READ_PARAMS})
        if (std::strcmp(m, known) == 0) return true;
    return false;
}

void content(const std::uint8_t* data, std::size_t size) {
    QZ_Preset p{-5, -5.0f};
    const char* message = QZ_preset_decode(data, size, &p);
    if (message) {
        if (std::strcmp(message, QZ_PRESET_BAD_CONTENT) != 0 && std::strcmp(message, QZ_PRESET_WRONG_HEADER) != 0)
            std::abort();
        if (p.state != -5) std::abort();  // refused content changes nothing
        return;
    }
    if (size != QZ_preset_file_length()) std::abort();
    if (p.state != 0 && p.state != 1) std::abort();
    if (!(p.frequency >= 20.0f && p.frequency <= 20000.0f)) std::abort();
    unsigned char again[300];
    QZ_preset_encode(p, again);
    QZ_Preset q;
    if (QZ_preset_decode(again, size, &q) || q.state != p.state || q.frequency != p.frequency) std::abort();
}

void file(std::uint8_t mode, const std::uint8_t* data, std::size_t size) {
    const std::size_t full = QZ_preset_file_length();
    if (size < 3) return;
    QZ_Preset_File_Scenario s;
    // the size as measured: the expected one or the content's, moved by -128..127
    const long long base = (mode & 16) ? static_cast<long long>(full) : static_cast<long long>(size - 3);
    s.measured_size = base + static_cast<std::int8_t>(data[0]);
    s.chunk = data[1];
    s.fail_after = data[2] == 0xFF ? ~std::size_t{0} : data[2];
    s.open_fails = mode & 4;
    s.seek_fails = mode & 8;
    s.data = data + 3;
    s.size = size - 3;
    g_preset_file = s;

    QZ_Preset p{-5, -5.0f};
    const char* message = QZ_preset_load("preset.zelo", &p);
    if (message) {
        if (!is_load_message(message)) std::abort();
        if (p.state != -5 || p.frequency != -5.0f) std::abort();  // a refusal changes nothing
    } else {
        // Success needs the expected size as measured and at least the expected
        // bytes delivered, and means exactly what those bytes decode to.
        if (s.open_fails || s.seek_fails) std::abort();
        if (s.measured_size != static_cast<long long>(full)) std::abort();
        if (s.size < full || s.fail_after < full) std::abort();
        QZ_Preset q{-7, -7.0f};
        if (QZ_preset_decode(s.data, full, &q) || q.state != p.state || q.frequency != p.frequency) std::abort();
    }
    // A plain file that opens, seeks, measures what it holds and reads whole:
    // of any other length it is bad content; of the expected length it loads
    // exactly as its content decodes.
    if (!s.open_fails && !s.seek_fails && s.measured_size == static_cast<long long>(s.size) &&
        s.fail_after > s.size) {
        if (s.size != full) {
            if (!message || std::strcmp(message, QZ_PRESET_BAD_CONTENT) != 0) std::abort();
        } else {
            QZ_Preset d{-5, -5.0f};
            const char* decoded = QZ_preset_decode(s.data, s.size, &d);
            if (!message != !decoded || (message && std::strcmp(message, decoded) != 0)) std::abort();
            if (!message && (d.state != p.state || d.frequency != p.frequency)) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 2 && data[0] == 0xFF)
        file(data[1], data + 2, size - 2);
    else
        content(data, size);
    return 0;
}
