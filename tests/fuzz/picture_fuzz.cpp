// Arbitrary bytes as picture and strip resources of a given length, drawn with
// arbitrary rectangles, frames and destination points: nothing may be read
// past the resource or written past the destination.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/error.h"
#include "gui/pic.h"

namespace {
int quiet_box(const char*, const char*) { return QZ_IDOK; }

std::int32_t take(const std::uint8_t*& p, std::size_t& n) {
    std::int16_t v = 0;
    if (n >= 2) {
        std::memcpy(&v, p, 2);
        p += 2;
        n -= 2;
    }
    return v;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QZ_set_message_box(&quiet_box);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* p = data;
    std::size_t n = size;
    const std::int32_t frame = take(p, n), dx = take(p, n), dy = take(p, n);
    QZ_Rect r{take(p, n), take(p, n), take(p, n), take(p, n)};
    // The resource is a copy of exactly the remaining bytes, so that reading one
    // byte past it is caught.
    std::vector<unsigned char> res(p, p + n);
    const unsigned char* bytes = res.empty() ? nullptr : res.data();

    QZ_Picture dst;
    dst.allocate(64, 48);
    dst.fill({1, 2, 3, 4});

    QZ_Picture pic;
    if (pic.map(bytes, res.size())) {
        QZ_blend(pic, dst, dx, dy, &r);
        QZ_blend(pic, dst, 0, 0, &r);
        QZ_Rect all{0, 0, pic.width, pic.height};
        QZ_blend(pic, dst, dx, dy, &all);
    }
    QZ_Vid vid;
    if (vid.map(bytes, res.size())) {
        QZ_drawFrame(vid, frame, dst, dx, dy, &r);
        QZ_drawFrame(vid, frame, dst, dx, dy, nullptr);
        QZ_drawFrame(vid, 0, dst, 0, 0, nullptr);
        QZ_Pix_A32 px;
        for (std::int32_t y = -1; y < 6; ++y)
            for (std::int32_t x = -1; x < 6; ++x) vid.pixel(frame, x + dx, y + dy, &px);
    }
    return 0;
}
