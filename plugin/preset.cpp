#include "plugin/preset.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/atomic_file.h"
#include "plugin/application.h"

const char QZ_PRESET_CANNOT_OPEN_FOR_READING[] = "Cannot open this file.";
const char QZ_PRESET_BAD_CONTENT[] = "Bad content in preset file.";
const char QZ_PRESET_CANNOT_READ_HEADER[] = "Cannot read header in preset file.";
const char QZ_PRESET_WRONG_HEADER[] = "Wrong header in preset file.";
const char QZ_PRESET_CANNOT_READ_PARAMS[] = "Cannot read params from preset file.";
const char QZ_PRESET_CANNOT_OPEN_FOR_WRITING[] = "Cannot open preset file.";
const char QZ_PRESET_CANNOT_WRITE_HEADER[] = "Cannot write header to preset file.";
const char QZ_PRESET_CANNOT_WRITE_PARAMS[] = "Cannot write params to preset file.";

namespace {

// The header (the product string, well under 256 bytes) must fit the
// reader's buffer with the values behind it.
constexpr std::size_t kMaxFile = 256 + 8;

void put_le32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t get_le32(const unsigned char* p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return v;
}

}  // namespace

std::size_t QZ_preset_header_length() { return std::strlen(QZ_PRODUCT_STRING) + 1; }

void QZ_preset_encode(const QZ_Preset& values, unsigned char* out) {
    const std::size_t L = QZ_preset_header_length();
    std::memcpy(out, QZ_PRODUCT_STRING, L);
    std::uint32_t f = 0;
    static_assert(sizeof f == sizeof values.frequency);
    std::memcpy(&f, &values.frequency, sizeof f);
    put_le32(out + L, static_cast<std::uint32_t>(values.state));
    put_le32(out + L + 4, f);
}

const char* QZ_preset_decode(const unsigned char* data, std::size_t size, QZ_Preset* out) {
    const std::size_t L = QZ_preset_header_length();
    if (!data || size != L + 8) return QZ_PRESET_BAD_CONTENT;
    if (std::memcmp(data, QZ_PRODUCT_STRING, L) != 0) return QZ_PRESET_WRONG_HEADER;
    const std::uint32_t s = get_le32(data + L), fw = get_le32(data + L + 4);
    float f;
    std::memcpy(&f, &fw, sizeof f);
    const float mn = static_cast<float>(QZ_Application::kKnobMin);
    const float mx = static_cast<float>(QZ_Application::kKnobMax);
    // Not a number counts as the bottom of the range, as everywhere in the effect.
    if (!(f >= mn)) f = mn;
    if (f > mx) f = mx;
    out->state = s != 0 ? 1 : 0;
    out->frequency = f;
    return nullptr;
}

const char* QZ_preset_save(const char* path, const QZ_Preset& values) {
    if (!path || !*path) return QZ_PRESET_CANNOT_OPEN_FOR_WRITING;
    unsigned char bytes[kMaxFile];
    QZ_preset_encode(values, bytes);
    const std::size_t L = QZ_preset_header_length();

    QZ_Atomic_File file(path);
    std::FILE* f = file.stream();
    if (!f) return QZ_PRESET_CANNOT_OPEN_FOR_WRITING;
    // Unbuffered, so a failing write shows at the write that failed.
    std::setvbuf(f, nullptr, _IONBF, 0);
    if (std::fwrite(bytes, L, 1, f) != 1) return QZ_PRESET_CANNOT_WRITE_HEADER;
    if (std::fwrite(bytes + L, 4, 1, f) != 1 || std::fwrite(bytes + L + 4, 4, 1, f) != 1)
        return QZ_PRESET_CANNOT_WRITE_PARAMS;
    // A failure here removes the temporary; the old preset stays.
    if (!file.commit()) return QZ_PRESET_CANNOT_OPEN_FOR_WRITING;
    return nullptr;
}

const char* QZ_preset_load(const char* path, QZ_Preset* out) {
    if (!path || !*path || QZ_not_a_plain_file(path)) return QZ_PRESET_CANNOT_OPEN_FOR_READING;
    std::FILE* f = QZ_open_for_reading(path);
    if (!f) return QZ_PRESET_CANNOT_OPEN_FOR_READING;
    const std::size_t L = QZ_preset_header_length();
    const char* message = nullptr;
    // One byte more than a preset may hold: a file that grew since its size
    // was taken is caught too.
    unsigned char bytes[kMaxFile + 1];
    std::size_t got = 0;
    if (std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) != static_cast<long>(L + 8)) {
        message = QZ_PRESET_BAD_CONTENT;
    } else if (std::fseek(f, 0, SEEK_SET) != 0) {
        message = QZ_PRESET_CANNOT_READ_HEADER;
    } else {
        got = std::fread(bytes, 1, L + 9, f);
        if (got < L)
            message = QZ_PRESET_CANNOT_READ_HEADER;
        else if (std::memcmp(bytes, QZ_PRODUCT_STRING, L) != 0)
            message = QZ_PRESET_WRONG_HEADER;
        else if (got < L + 8)
            message = QZ_PRESET_CANNOT_READ_PARAMS;
        else if (got > L + 8)
            message = QZ_PRESET_BAD_CONTENT;
    }
    std::fclose(f);
    if (message) return message;
    return QZ_preset_decode(bytes, got, out);
}
