#include "art/icon.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "art/raster.h"

namespace art {

namespace {

// The editor's palette (see artwork.cpp).
const Color kOutline = rgb(9, 10, 13);
const Color kViolet = rgb(128, 112, 238);
const Color kPink = rgb(246, 108, 188);
const Color kWhite = rgb(240, 238, 248);

// The motif in a 32-unit square; `u` pixels per unit. `detail` adds the bevel,
// the decade lines and the glow, which only blur at 16 pixels.
Image motif(int size, bool detail) {
    const double u = size / 32.0;
    Canvas c(size, size);
    // Tile: the panel's surface, lit from above, in a dark outline.
    const double t0 = 0.5, t1 = 31.5, tr = detail ? 6.0 : 5.0;
    c.paint([&](double px, double py, double& cov) {
        const double x = px / u, y = py / u;
        const double d = sd_round_rect(x, y, t0, t0, t1, t1, tr) * u;
        cov = coverage(d);
        const double v = clamp01((y - t0) / (t1 - t0));
        const Color face = lerp(rgb(62, 66, 80), rgb(30, 32, 40), v);
        const double depth = -d;
        if (depth < 1.0) return kOutline;
        if (detail && depth < 2.2 && y < 16) return lerp(face, rgb(120, 126, 146), 0.55 * (1 - y / 16));
        return face;
    });
    // The display well the curve sits in.
    const double w0 = detail ? 4.5 : 4.0, w1 = 32 - w0, wr = detail ? 3.5 : 2.5;
    c.paint([&](double px, double py, double& cov) {
        const double x = px / u, y = py / u;
        const double d = sd_round_rect(x, y, w0, w0, w1, w1, wr) * u;
        cov = coverage(d);
        return -d < 1.0 && detail ? rgb(4, 5, 7) : lerp(rgb(8, 9, 12), rgb(14, 15, 20), clamp01((y - w0) / (w1 - w0)));
    });
    if (detail) {
        c.paint([&](double px, double py, double& cov) {  // lower rim catches the light
            const double x = px / u, y = py / u;
            const double d = sd_round_rect(x, y, w0, w0, w1, w1 + 1, wr) * u;
            cov = 0.5 * coverage(std::fabs(d + 0.5) - 0.5) * (y > w1 - 0.5);
            return rgb(96, 100, 122);
        });
    }

    // Response: flat, then falling one step per decade past the cutoff, as on the banner.
    const double cx = w0 + 0.42 * (w1 - w0);
    const double decade = (w1 - w0) / 2.0;
    const double knee = 0.2;  // rounder than the banner's: the corner must read at 16 pixels
    const double top = w0 + (detail ? 6.5 : 6.0), floor_y = w1 - (detail ? 4.0 : 3.5);
    const double z_end = (w1 - 2.0 - cx) / decade;
    const double g_end = (z_end + std::sqrt(z_end * z_end + knee)) / 2;
    const double k = (floor_y - top) / g_end;
    auto curve_y = [&](double x) {
        const double z = (x - cx) / decade;
        return top + k * (z + std::sqrt(z * z + knee)) / 2;
    };
    auto hue = [&](double x) { return lerp(kViolet, kPink, clamp01((x - w0) / (w1 - w0))); };
    const double left = w0 + 1.8, right = w1 - 1.8;
    if (detail) {
        c.paint([&](double px, double py, double& cov) {  // decade lines
            const double x = px / u, y = py / u;
            double best = 1e9;
            for (int n = -1; n <= 1; n += 2) best = std::min(best, std::fabs(x - (cx + n * decade / 2)) * u);
            cov = 0.7 * coverage(best - 0.5) * (y > w0 + 1.5 && y < w1 - 1.5);
            return rgb(36, 39, 52);
        });
    }
    c.paint([&](double px, double py, double& cov) {  // area under the curve
        const double x = px / u, y = py / u;
        const bool in = x > left - 0.5 && x < right + 0.5 && y < w1 - 1.2;
        const double yc = curve_y(x);
        cov = in ? (0.22 + 0.22 * clamp01((y - yc) / 10)) * coverage((yc - y) * u) : 0;
        return hue(x);
    });
    const double hw = detail ? std::max(0.75, 1.15 * u) / u : 0.75 / u;  // half stroke, in units
    c.paint([&](double px, double py, double& cov) {  // the curve
        const double x = px / u, y = py / u;
        double best = 1e9;
        double ax = left, ay = curve_y(ax);
        for (double sx = left + 0.25; sx <= right + 1e-9; sx += 0.25) {
            const double sy = curve_y(sx);
            best = std::min(best, sd_capsule(x, y, ax, ay, sx, sy, hw));
            ax = sx, ay = sy;
        }
        cov = coverage(best * u);
        return lerp(hue(x), kWhite, 0.35);
    });
    const double dy = curve_y(cx);
    if (detail) {
        c.paint([&](double px, double py, double& cov) {  // glow around the cutoff
            const double d = sd_circle(px / u, py / u, cx, dy, 0);
            cov = 0.5 * (1 - smoothstep(0.0, 6.0, d));
            return kPink;
        });
    }
    const double dot = detail ? 2.6 : 2.4;
    c.paint([&](double px, double py, double& cov) {
        cov = coverage(sd_circle(px / u, py / u, cx, dy, dot) * u);
        return lerp(kPink, kWhite, 0.3);
    });
    c.paint([&](double px, double py, double& cov) {  // the dot's highlight
        cov = detail ? 0.8 * coverage(sd_circle(px / u, py / u, cx - 0.8, dy - 0.8, 0.9) * u) : 0;
        return kWhite;
    });
    return Image{size, size, c.bgra()};
}

void put16(std::vector<std::uint8_t>& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

}  // namespace

Image draw_icon(int size) { return motif(size, size > 16); }
Image draw_small_icon(int size) { return motif(size, false); }

std::vector<std::uint8_t> encode_ico(const std::vector<Image>& pictures) {
    std::vector<std::uint8_t> out;
    put16(out, 0);  // reserved
    put16(out, 1);  // an icon, not a cursor
    put16(out, static_cast<unsigned>(pictures.size()));
    std::vector<std::vector<std::uint8_t>> bodies;
    for (const Image& img : pictures) {
        const std::uint32_t w = static_cast<std::uint32_t>(img.w), h = static_cast<std::uint32_t>(img.h);
        const std::uint32_t mask_row = (w + 31) / 32 * 4;
        std::vector<std::uint8_t> b;
        put32(b, 40);     // BITMAPINFOHEADER
        put32(b, w);
        put32(b, 2 * h);  // colour rows and mask rows
        put16(b, 1);
        put16(b, 32);
        put32(b, 0);  // BI_RGB
        put32(b, w * h * 4 + mask_row * h);
        for (int i = 0; i < 4; ++i) put32(b, 0);
        for (std::uint32_t y = h; y-- > 0;)  // bottom-up
            b.insert(b.end(), img.px.begin() + static_cast<std::ptrdiff_t>(y * w * 4),
                     img.px.begin() + static_cast<std::ptrdiff_t>((y + 1) * w * 4));
        for (std::uint32_t y = h; y-- > 0;) {
            std::vector<std::uint8_t> row(mask_row, 0);
            for (std::uint32_t x = 0; x < w; ++x)
                if (img.px[(y * w + x) * 4 + 3] < 128) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            b.insert(b.end(), row.begin(), row.end());
        }
        bodies.push_back(std::move(b));
    }
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const Image& img = pictures[i];
        out.push_back(static_cast<std::uint8_t>(img.w >= 256 ? 0 : img.w));
        out.push_back(static_cast<std::uint8_t>(img.h >= 256 ? 0 : img.h));
        out.push_back(0);  // no palette
        out.push_back(0);
        put16(out, 1);   // planes
        put16(out, 32);  // bits per pixel
        put32(out, static_cast<std::uint32_t>(bodies[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(bodies[i].size());
    }
    for (const auto& b : bodies) out.insert(out.end(), b.begin(), b.end());
    return out;
}

bool write_icon_png(const std::string& path, const Image& icon, std::string& error) {
    png_image pi;
    std::memset(&pi, 0, sizeof pi);
    pi.version = PNG_IMAGE_VERSION;
    pi.width = static_cast<png_uint_32>(icon.w);
    pi.height = static_cast<png_uint_32>(icon.h);
    pi.format = PNG_FORMAT_BGRA;
    if (!png_image_write_to_file(&pi, path.c_str(), 0, icon.px.data(), 0, nullptr)) {
        error = "cannot write " + path + ": " + pi.message;
        return false;
    }
    return true;
}

}  // namespace art
