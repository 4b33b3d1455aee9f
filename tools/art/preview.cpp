#include "art/preview.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "art/artwork.h"
#include "art/text.h"

namespace art {

void compose_pixel(std::uint8_t* d, const std::uint8_t* s) {
    const int a = s[3];
    for (int c = 0; c < 4; ++c) d[c] = static_cast<std::uint8_t>(d[c] + (((s[c] - d[c]) * a) >> 8));
}

void compose_tiled(Image& dst, const Image& src, int dx, int dy, int w, int h) {
    if (src.w <= 0 || src.h <= 0) return;
    for (int i = 0; i < h; ++i)
        for (int j = 0; j < w; ++j) {
            int x = dx + j, y = dy + i;
            if (x < 0 || y < 0 || x >= dst.w || y >= dst.h) continue;
            compose_pixel(&dst.px[(static_cast<std::size_t>(y) * dst.w + x) * 4],
                          &src.px[(static_cast<std::size_t>(i % src.h) * src.w + j % src.w) * 4]);
        }
}

namespace {

bool read_file(const std::string& path, std::vector<std::uint8_t>& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool load_pic(const std::string& dir, const std::string& name, Image& img, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!read_file(dir + "/" + name, bytes) || !decode_qzif(bytes.data(), bytes.size(), img)) {
        error = "cannot read picture " + name;
        return false;
    }
    return true;
}

bool load_strip(const std::string& dir, const std::string& name, std::vector<Image>& frames,
                std::string& error) {
    std::vector<std::uint8_t> bytes;
    StripInfo info;
    if (!read_file(dir + "/" + name, bytes) || !decode_qzvf(bytes.data(), bytes.size(), info, frames)) {
        error = "cannot read strip " + name;
        return false;
    }
    return true;
}

// A text widget's picture: glyphs in the colour over black, every non-black
// pixel made opaque. colorref has red in its lowest byte. horz < 0 left, 0 centre, > 0 right.
Image text_picture(const std::string& font, int size, std::uint32_t colorref, const std::string& text, int w,
                   int h, int horz) {
    Image img{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4, 0)};
    TextMask m, ref;
    std::string err;
    if (!render_text(font, size, text, m, err) || !render_text(font, size, "Hg", ref, err)) return img;
    int x = horz < 0 ? 0 : (horz == 0 ? (w - m.advance) / 2 : w - m.advance);
    int base = (h - ref.h) / 2 - ref.top;  // centre a line of ascenders and descenders
    const int cr = colorref & 0xFF, cg = (colorref >> 8) & 0xFF, cb = (colorref >> 16) & 0xFF;
    for (int y = 0; y < m.h; ++y)
        for (int xx = 0; xx < m.w; ++xx) {
            int px = x + m.left + xx, py = base + m.top + y;
            if (px < 0 || py < 0 || px >= w || py >= h) continue;
            int a = m.at(xx, y);
            std::uint8_t* p = &img.px[(static_cast<std::size_t>(py) * w + px) * 4];
            p[0] = static_cast<std::uint8_t>(cb * a / 255);
            p[1] = static_cast<std::uint8_t>(cg * a / 255);
            p[2] = static_cast<std::uint8_t>(cr * a / 255);
            p[3] = (p[0] | p[1] | p[2]) ? 255 : 0;
        }
    return img;
}

// Draws a widget into a cleared scratch area, scales it like the window does
// for hovered (1.5) or disabled (0.4) widgets, and composes it.
void compose_scaled(Image& dst, const Image& pic, int dx, int dy, int w, int h, double f) {
    Image scratch{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4, 0)};
    compose_tiled(scratch, pic, 0, 0, w, h);
    for (std::size_t i = 0; i < scratch.px.size(); i += 4) {
        std::uint8_t* p = &scratch.px[i];
        if (p[3] * f > 255) {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(std::min(p[c] * f, 255.0));
        } else {
            p[3] = static_cast<std::uint8_t>(p[3] * f);
        }
    }
    compose_tiled(dst, scratch, dx, dy, w, h);
}

}  // namespace

bool compose_panel(const std::string& dir, const std::string& font, const PanelState& st, Image& out,
                   std::string& error) {
    const int W = 200, H = 236, B = 10, GL = 10, GT = 56, GW = 180, GH = 170;
    out = Image{W, H, std::vector<std::uint8_t>(static_cast<std::size_t>(W) * H * 4, 0)};
    struct Piece {
        const char* name;
        int w, h, l, t;
    };
    const Piece pieces[] = {
        {"BGND", W, H, 0, 0},
        {"ALT", 10, 10, 0, 0},
        {"AMT", W - 20, 10, 10, 0},
        {"ART", 10, 10, W - 10, 0},
        {"ALM", 10, H - 20, 0, 10},
        {"ARM", 10, H - 20, W - 10, 10},
        {"ALB", 10, 10, 0, H - 10},
        {"AMB", W - 20, 10, 10, H - 10},
        {"ARB", 10, 10, W - 10, H - 10},
        {"LOGO", 160, 30, (W - 160) / 2, 8},
    };
    for (const Piece& p : pieces) {
        Image img;
        if (!load_pic(dir, p.name, img, error)) return false;
        compose_tiled(out, img, p.l, p.t, p.w, p.h);
    }
    if (!font.empty())
        compose_tiled(out, text_picture(font, 12, 0xFFFFFF, "1-st order low-pass", W - 20, 20, 0), 10, 35,
                      W - 20, 20);
    const Piece group[] = {
        {"GLT", B, B, GL, GT},
        {"GMT", GW - 2 * B, B, GL + B, GT},
        {"GRT", B, B, GL + GW - B, GT},
        {"GLM", B, GH - 2 * B, GL, GT + B},
        {"GMM", GW - 2 * B + 8, GH - 2 * B + 8, GL + B - 4, GT + B - 4},
        {"GRM", B, GH - 2 * B, GL + GW - B, GT + B},
        {"GLB", B, B, GL, GT + GH - B},
        {"GMB", GW - 2 * B, B, GL + B, GT + GH - B},
        {"GRB", B, B, GL + GW - B, GT + GH - B},
    };
    for (const Piece& p : group) {
        Image img;
        if (!load_pic(dir, p.name, img, error)) return false;
        compose_tiled(out, img, p.l, p.t, p.w, p.h);
    }
    std::vector<Image> but, big;
    if (!load_strip(dir, "BUT", but, error) || !load_strip(dir, "BIG", big, error)) return false;
    compose_tiled(out, but[st.on ? 1 : 0], GL + 11, GT + 11, 40, 24);
    const double dim = st.on ? 1.0 : 0.4;
    if (!font.empty()) {
        compose_tiled(out, text_picture(font, 12, 0x00A57BBD, "Filter", 80, 16, -1), GL + 52, GT + 14, 80,
                      16);
        compose_scaled(out, text_picture(font, 12, 0xE0C0C0, "Cutoff frequency", 96, 18, 0), GL + 40, GT + 48,
                       96, 18, dim);
    }
    int frame = std::clamp(st.knob_frame, 0, static_cast<int>(big.size()) - 1);
    double kf = st.on ? (st.knob_hovered ? 1.5 : 1.0) : 0.4;
    compose_scaled(out, big[frame], GL + 56, GT + 70, 64, 64, kf);
    if (!font.empty())
        compose_scaled(out, text_picture(font, 12, 0xB0B0B0, st.value_text, 64, 18, 0), GL + 56, GT + 138, 64,
                       18, dim);
    return true;
}

bool contact_sheet(const std::string& dir, Image& out, std::string& error) {
    const int W = 560, H = 420;
    out = Image{W, H, std::vector<std::uint8_t>(static_cast<std::size_t>(W) * H * 4, 0)};
    Image gmm;
    if (!load_pic(dir, "GMM", gmm, error)) return false;
    compose_tiled(out, gmm, 0, 0, W, H);
    std::vector<Image> big, knob, tune, but;
    if (!load_strip(dir, "BIG", big, error) || !load_strip(dir, "KNOB", knob, error) ||
        !load_strip(dir, "TUNE", tune, error) || !load_strip(dir, "BUT", but, error))
        return false;
    // BIG: 24 frames evenly spread including first and last.
    for (int i = 0; i < 24; ++i) {
        int f = i * (static_cast<int>(big.size()) - 1) / 23;
        compose_tiled(out, big[f], 4 + (i % 8) * 68, 4 + (i / 8) * 68, 64, 64);
    }
    for (int i = 0; i < 10; ++i) {
        int f = i * (static_cast<int>(knob.size()) - 1) / 9;
        compose_tiled(out, knob[f], 4 + i * 36, 212, 32, 32);
    }
    for (int i = 0; i < 4; ++i) {
        int f = i * (static_cast<int>(tune.size()) - 1) / 3;
        compose_tiled(out, tune[f], 4 + i * 124, 250, 120, 24);
    }
    int x = 4;
    for (int s = 0; s < 2; ++s) {
        compose_tiled(out, but[s], x, 280, 40, 24);
        x += 44;
    }
    for (const char* name : {"LOAD", "PEEK", "SAVE"}) {
        std::vector<Image> b;
        if (!load_strip(dir, name, b, error)) return false;
        for (int s = 0; s < 2; ++s) {
            compose_tiled(out, b[s], x, 280, 40, 24);
            x += 44;
        }
    }
    Image logo, i41, i91;
    if (!load_pic(dir, "LOGO", logo, error) || !load_pic(dir, "I41X89", i41, error) ||
        !load_pic(dir, "I91X17", i91, error))
        return false;
    compose_tiled(out, logo, 4, 310, 160, 30);
    compose_tiled(out, i41, 180, 310, 41, 89);
    compose_tiled(out, i91, 272, 310, 91, 17);
    // The same faces as a level meter lights them: keyed pixels (segment number
    // in red) take the lit colour up to a level, the warning colour near the top.
    auto light = [](Image img, int segments, int level) {
        for (std::size_t i = 0; i < img.px.size(); i += 4) {
            std::uint8_t* p = &img.px[i];
            std::uint32_t key = p[0] | p[1] << 8;
            if (key != kMeterKey || p[2] >= segments || p[2] >= level) continue;
            bool hot = p[2] >= segments * 3 / 4;
            p[0] = hot ? 188 : 238, p[1] = hot ? 108 : 112, p[2] = hot ? 246 : 128;
        }
        return img;
    };
    compose_tiled(out, light(i41, 12, 10), 226, 310, 41, 89);
    compose_tiled(out, light(i91, 16, 14), 272, 332, 91, 17);
    return true;
}

Image upscale(const Image& img, int k) {
    Image out{img.w * k, img.h * k,
              std::vector<std::uint8_t>(static_cast<std::size_t>(img.w) * k * img.h * k * 4)};
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x)
            std::memcpy(&out.px[(static_cast<std::size_t>(y) * out.w + x) * 4],
                        &img.px[(static_cast<std::size_t>(y / k) * img.w + x / k) * 4], 4);
    return out;
}

bool write_png(const std::string& path, const Image& shown, std::string& error) {
    // The screen shows the back buffer's colours and ignores its alpha (which the
    // compositing rule lowers under translucent pixels), so the PNG is opaque.
    Image img = shown;
    for (std::size_t i = 3; i < img.px.size(); i += 4) img.px[i] = 255;
    png_image pi;
    std::memset(&pi, 0, sizeof pi);
    pi.version = PNG_IMAGE_VERSION;
    pi.width = static_cast<png_uint_32>(img.w);
    pi.height = static_cast<png_uint_32>(img.h);
    pi.format = PNG_FORMAT_BGRA;
    if (!png_image_write_to_file(&pi, path.c_str(), 0, img.px.data(), 0, nullptr)) {
        error = "cannot write " + path + ": " + pi.message;
        return false;
    }
    return true;
}

}  // namespace art
