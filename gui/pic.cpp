#include "gui/pic.h"

#include <cstring>
#include <new>

#include "core/error.h"

namespace {
std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t le16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
// Positive remainder, so that negative source coordinates still tile.
std::int32_t wrap(std::int64_t v, std::int32_t m) {
    std::int64_t r = v % m;
    return static_cast<std::int32_t>(r < 0 ? r + m : r);
}
}  // namespace

template <class TPix>
void QZ_Pic_Base<TPix>::allocate(std::int32_t w, std::int32_t h) {
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    storage_.reset();
    pixels = nullptr;
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (n > 0) {
        // A widget sized absurdly by a command gets no picture rather than an
        // exception in the middle of a paint.
        storage_.reset(new (std::nothrow) TPix[n]);
        pixels = storage_.get();
        if (!pixels) w = h = 0;
    }
    owned_ = pixels != nullptr;
    width = w;
    height = h;
}

template <class TPix>
void QZ_Pic_Base<TPix>::fill(TPix p) {
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < n && pixels; ++i) pixels[i] = p;
}

template <class TPix>
bool QZ_Pic_Base<TPix>::map(const unsigned char* data, std::size_t length) {
    if (!data || length < 12 || std::memcmp(data, "QZIF", 4) != 0) {
        QZ_error_func("QZ/Pic/Base", 21, "QZ_Pic_Base<TPix>::map", __DATE__, __TIME__, "Invalid QZIF header");
        return false;
    }
    const std::uint32_t w = le32(data + 4), h = le32(data + 8);
    // The embedded store knows every length: a header promising more pixels than
    // the resource holds must not send readers past its end.
    const std::uint64_t need = 12 + 4ull * w * h;  // w, h < 2^32: no overflow in 64 bits
    if (w > 0x7FFFFFFFu || h > 0x7FFFFFFFu || need > length) {
        QZ_error_func("QZ/Pic/Base", 21, "QZ_Pic_Base<TPix>::map", __DATE__, __TIME__,
                      "QZIF resource shorter than its header");
        return false;
    }
    storage_.reset();
    owned_ = false;
    width = static_cast<std::int32_t>(w);
    height = static_cast<std::int32_t>(h);
    // QZ_Pix_A32 is four bytes with byte alignment, so any address serves.
    pixels = reinterpret_cast<TPix*>(const_cast<unsigned char*>(data + 12));
    if (w == 0 || h == 0) pixels = nullptr;
    return true;
}

template class QZ_Pic_Base<QZ_Pix_A32>;

bool QZ_Vid::map(const unsigned char* data, std::size_t length) {
    if (!data || length < 20 || std::memcmp(data, "QZVF", 4) != 0) {
        QZ_error_func("QZ/Vid", 14, "QZ_Vid::map", __DATE__, __TIME__, "Invalid QZVF header");
        return false;
    }
    const std::uint32_t w = le32(data + 4), h = le32(data + 8);
    const std::uint32_t b = le32(data + 12), f = le32(data + 16);
    const std::uint64_t tw = (static_cast<std::uint64_t>(w) + 3) / 4;
    const std::uint64_t th = (static_cast<std::uint64_t>(h) + 3) / 4;
    // Every factor is below 2^32 and length below 2^63: compare step by step
    // so that no product can wrap.
    const std::uint64_t block_bytes = 64ull * b;
    bool fits = 20 + block_bytes <= length;
    if (fits) {
        const std::uint64_t room = (length - 20 - block_bytes) / 2;  // index entries that fit
        const std::uint64_t per_frame = tw * th;                     // < 2^62
        fits = per_frame == 0 || f <= room / per_frame;
    }
    if (!fits) {
        QZ_error_func("QZ/Vid", 14, "QZ_Vid::map", __DATE__, __TIME__,
                      "QZVF resource shorter than its header");
        return false;
    }
    width = w;
    height = h;
    blocks_count = b;
    frames = f;
    blocks = data + 20;
    index = data + 20 + block_bytes;
    return true;
}

bool QZ_Vid::pixel(std::int32_t frame, std::int32_t x, std::int32_t y, QZ_Pix_A32* out) const {
    if (!blocks || frame < 0 || static_cast<std::uint32_t>(frame) >= frames || x < 0 || y < 0 ||
        static_cast<std::uint32_t>(x) >= width || static_cast<std::uint32_t>(y) >= height)
        return false;
    const std::uint64_t tw = tiles_across(), th = tiles_down();
    const std::uint64_t tile = static_cast<std::uint64_t>(frame) * tw * th + (y / 4) * tw + x / 4;
    const std::uint32_t k = le16(index + 2 * tile);
    if (k >= blocks_count) return false;
    const unsigned char* p = blocks + 64u * k + 16 * (y & 3) + 4 * (x & 3);
    *out = {p[0], p[1], p[2], p[3]};
    return true;
}

void QZ_blend(const QZ_Picture& src, QZ_Picture& dst, std::int32_t dx, std::int32_t dy, const QZ_Rect* rect) {
    if (!rect || !src.pixels || src.width <= 0 || src.height <= 0 || !dst.pixels) return;
    const QZ_Rect r = *rect;
    if (r.empty()) return;
    // Clip the source range so that every destination pixel lies inside dst.
    std::int64_t i0 = r.top, i1 = r.bottom, j0 = r.left, j1 = r.right;
    const std::int64_t oy = static_cast<std::int64_t>(dy) - r.top,
                       ox = static_cast<std::int64_t>(dx) - r.left;
    if (i0 + oy < 0) i0 = -oy;
    if (i1 + oy > dst.height) i1 = dst.height - oy;
    if (j0 + ox < 0) j0 = -ox;
    if (j1 + ox > dst.width) j1 = dst.width - ox;
    if (i0 >= i1 || j0 >= j1) return;
    const std::int32_t sw = src.width, sh = src.height;
    const std::int32_t sj0 = wrap(j0, sw);
    for (std::int64_t i = i0; i < i1; ++i) {
        const QZ_Pix_A32* s = src.row(wrap(i, sh));
        QZ_Pix_A32* d = dst.row(static_cast<std::int32_t>(i + oy)) + (j0 + ox);
        std::int32_t sj = sj0;
        for (std::int64_t j = j0; j < j1; ++j, ++d) {
            const QZ_Pix_A32 p = s[sj];
            if (p.a) QZ_compose(*d, p);
            if (++sj == sw) sj = 0;
        }
    }
}

void QZ_drawFrame(const QZ_Vid& vid, std::int32_t frame, QZ_Picture& dst, std::int32_t dx, std::int32_t dy,
                  const QZ_Rect* rect) {
    if (vid.empty() || frame < 0 || static_cast<std::uint32_t>(frame) >= vid.frames || !dst.pixels) return;
    const std::int64_t fw = vid.width, fh = vid.height;
    QZ_Rect r =
        rect ? *rect : QZ_Rect{0, 0, static_cast<std::int32_t>(fw - dx), static_cast<std::int32_t>(fh - dy)};
    const std::int64_t ox = static_cast<std::int64_t>(dx) - r.left,
                       oy = static_cast<std::int64_t>(dy) - r.top;
    // Clip to the frame (edge tiles stick out of it) and to the destination.
    std::int64_t x0 = r.left, x1 = r.right, y0 = r.top, y1 = r.bottom;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > fw) x1 = fw;
    if (y1 > fh) y1 = fh;
    if (x0 + ox < 0) x0 = -ox;
    if (y0 + oy < 0) y0 = -oy;
    if (x1 + ox > dst.width) x1 = dst.width - ox;
    if (y1 + oy > dst.height) y1 = dst.height - oy;
    if (x0 >= x1 || y0 >= y1) return;
    const std::uint64_t tw = vid.tiles_across(), th = vid.tiles_down();
    const unsigned char* frame_index = vid.index + 2 * (static_cast<std::uint64_t>(frame) * tw * th);
    for (std::int64_t ty = y0 / 4; ty <= (y1 - 1) / 4; ++ty) {
        const std::int64_t py0 = ty * 4 > y0 ? ty * 4 : y0, py1 = ty * 4 + 4 < y1 ? ty * 4 + 4 : y1;
        for (std::int64_t tx = x0 / 4; tx <= (x1 - 1) / 4; ++tx) {
            const std::uint32_t k = le16(frame_index + 2 * (ty * tw + tx));
            if (k >= vid.blocks_count) continue;  // a damaged index names no block
            const unsigned char* block = vid.blocks + 64u * k;
            const std::int64_t px0 = tx * 4 > x0 ? tx * 4 : x0, px1 = tx * 4 + 4 < x1 ? tx * 4 + 4 : x1;
            for (std::int64_t y = py0; y < py1; ++y) {
                const unsigned char* s = block + 16 * (y - ty * 4) + 4 * (px0 - tx * 4);
                QZ_Pix_A32* d = dst.row(static_cast<std::int32_t>(y + oy)) + (px0 + ox);
                for (std::int64_t x = px0; x < px1; ++x, s += 4, ++d) {
                    if (s[3]) QZ_compose(*d, QZ_Pix_A32{s[0], s[1], s[2], s[3]});
                }
            }
        }
    }
}
