// Pictures and frame strips: the 32-bit pixel, rectangles, the compositing rule,
// pictures read in place from "QZIF" resources and 4x4-tiled strips from "QZVF".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// One pixel in memory order blue, green, red, alpha; straight (not premultiplied)
// alpha. This is the layout of a 32-bit top-down DIB and of a 24/32-bit X image.
struct QZ_Pix_A32 {
    std::uint8_t b, g, r, a;

    // As an integer word: alpha in the top byte, then red, green, blue.
    static QZ_Pix_A32 from_word(std::uint32_t w) {
        return {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8),
                static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 24)};
    }
    std::uint32_t word() const {
        return static_cast<std::uint32_t>(b) | static_cast<std::uint32_t>(g) << 8 |
               static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(a) << 24;
    }
    bool operator==(const QZ_Pix_A32&) const = default;
};
static_assert(sizeof(QZ_Pix_A32) == 4 && alignof(QZ_Pix_A32) == 1);

// Rectangle in pixels; right and bottom are exclusive.
struct QZ_Rect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return left >= right || top >= bottom; }
    bool operator==(const QZ_Rect&) const = default;
};

// Component-wise maximum of left/top, minimum of right/bottom.
inline QZ_Rect QZ_intersect(const QZ_Rect& a, const QZ_Rect& b) {
    return {a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
            a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
}

// d <- d + ((s - d) * s.a) >> 8 on every channel, alpha included. The divisor is
// 256, so an opaque source still leaves a trace of the destination.
inline void QZ_compose(QZ_Pix_A32& d, const QZ_Pix_A32 s) {
    const int a = s.a;
    d.b = static_cast<std::uint8_t>(d.b + (((s.b - d.b) * a) >> 8));
    d.g = static_cast<std::uint8_t>(d.g + (((s.g - d.g) * a) >> 8));
    d.r = static_cast<std::uint8_t>(d.r + (((s.r - d.r) * a) >> 8));
    d.a = static_cast<std::uint8_t>(d.a + (((s.a - d.a) * a) >> 8));
}

// A picture: width x height pixels, rows top to bottom with a stride of exactly
// width. Either owns heap storage (allocate) or views resource bytes (map).
template <class TPix>
class QZ_Pic_Base {
public:
    QZ_Pic_Base() = default;
    QZ_Pic_Base(const QZ_Pic_Base&) = delete;
    QZ_Pic_Base& operator=(const QZ_Pic_Base&) = delete;

    // Fresh storage of width x height pixels (contents undefined); earlier owned
    // storage is freed, mapped pixels are only forgotten.
    virtual void allocate(std::int32_t w, std::int32_t h);
    virtual ~QZ_Pic_Base() = default;

    // Makes the picture a view of a "QZIF" resource of `length` bytes. A wrong
    // magic, or a resource shorter than its header claims, is reported and
    // refused; the picture is then left as it was.
    bool map(const unsigned char* data, std::size_t length);

    TPix* row(std::int32_t y) { return pixels + static_cast<std::ptrdiff_t>(y) * width; }
    const TPix* row(std::int32_t y) const { return pixels + static_cast<std::ptrdiff_t>(y) * width; }
    TPix& at(std::int32_t x, std::int32_t y) { return row(y)[x]; }
    const TPix& at(std::int32_t x, std::int32_t y) const { return row(y)[x]; }
    // The pixels are storage of the picture's own (not a mapped resource).
    bool owns() const { return owned_; }
    void fill(TPix p);

    std::int32_t width = 0;
    std::int32_t height = 0;
    TPix* pixels = nullptr;

protected:
    bool owned_ = false;  // set by allocate (of whichever storage), cleared by map

private:
    std::unique_ptr<TPix[]> storage_;
};

extern template class QZ_Pic_Base<QZ_Pix_A32>;

// The picture used by windows and widgets: a DIB section on Windows (so GDI can
// draw into it and blit from it), plain heap storage elsewhere.
#if defined(_WIN32)
#include "gui/pic_win32.h"
template <class TPix>
class QZ_Pic : public QZ_Pic_Win32<TPix> {};
#else
template <class TPix>
class QZ_Pic : public QZ_Pic_Base<TPix> {};
#endif

using QZ_Picture = QZ_Pic<QZ_Pix_A32>;

// A read-only view of a "QZVF" frame strip: frames of width x height made of
// shared 4x4 blocks, one 16-bit block index per tile.
class QZ_Vid {
public:
    std::uint32_t blocks_count = 0;
    std::uint32_t frames = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    const unsigned char* blocks = nullptr;  // 64 bytes per block
    const unsigned char* index = nullptr;   // little-endian 16-bit entries

    // Tiles across and down: the 4-pixel tiles that cover a frame.
    std::uint32_t tiles_across() const { return (width + 3) / 4; }
    std::uint32_t tiles_down() const { return (height + 3) / 4; }

    // Maps a "QZVF" resource of `length` bytes; refuses (and reports) a wrong
    // magic or a resource shorter than its header claims, leaving the strip as it was.
    bool map(const unsigned char* data, std::size_t length);
    bool empty() const { return blocks == nullptr; }

    // Pixel (x, y) of a frame; false when the frame or point lies outside the
    // strip or the tile names a block that does not exist.
    bool pixel(std::int32_t frame, std::int32_t x, std::int32_t y, QZ_Pix_A32* out) const;
};

// Composes the source rectangle of `src` (repeated when it exceeds the source)
// onto `dst` with its top-left at (dx, dy); clipped to the destination.
void QZ_blend(const QZ_Picture& src, QZ_Picture& dst, std::int32_t dx, std::int32_t dy, const QZ_Rect* rect);

// Composes the source rectangle of one frame of a strip onto `dst` at (dx, dy).
// Without a rectangle, (0, 0, width - dx, height - dy) is used. A frame outside
// the strip draws nothing; the rectangle is clipped to the frame and to `dst`.
void QZ_drawFrame(const QZ_Vid& vid, std::int32_t frame, QZ_Picture& dst, std::int32_t dx, std::int32_t dy,
                  const QZ_Rect* rect);
