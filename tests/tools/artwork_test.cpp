#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <png.h>

#include "art/artwork.h"
#include "art/icon.h"
#include "art/pack.h"
#include "art/preview.h"

namespace fs = std::filesystem;
using art::Image;

namespace {

struct Entry {
    const char* name;
    bool strip;
    std::uint32_t w, h, frames;
};

const Entry kTable[] = {
    {"ALT", false, 10, 10, 0},    {"AMT", false, 10, 10, 0},    {"ART", false, 10, 10, 0},
    {"ALM", false, 10, 10, 0},    {"ARM", false, 10, 10, 0},    {"ALB", false, 10, 10, 0},
    {"AMB", false, 10, 10, 0},    {"ARB", false, 10, 10, 0},    {"GLT", false, 10, 10, 0},
    {"GMT", false, 10, 10, 0},    {"GRT", false, 10, 10, 0},    {"GLM", false, 10, 10, 0},
    {"GRM", false, 10, 10, 0},    {"GMM", false, 128, 128, 0},  {"GLB", false, 10, 10, 0},
    {"GMB", false, 10, 10, 0},    {"GRB", false, 10, 10, 0},    {"BGND", false, 63, 63, 0},
    {"LOGO", false, 160, 30, 0},  {"I41X89", false, 41, 89, 0}, {"I91X17", false, 91, 17, 0},
    {"BUT", true, 40, 24, 2},     {"BIG", true, 64, 64, 265},   {"KNOB", true, 32, 32, 100},
    {"TUNE", true, 120, 24, 100}, {"LOAD", true, 40, 24, 2},    {"PEEK", true, 40, 24, 2},
    {"SAVE", true, 40, 24, 2},
};

std::vector<std::uint8_t> read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> committed(const std::string& name) {
    return read_file(fs::path(ZELO_RESOURCE_DIR) / name);
}

Image picture(const std::string& name) {
    auto bytes = committed(name);
    Image img;
    EXPECT_TRUE(art::decode_qzif(bytes.data(), bytes.size(), img)) << name;
    return img;
}

std::vector<Image> strip(const std::string& name) {
    auto bytes = committed(name);
    art::StripInfo info;
    std::vector<Image> frames;
    EXPECT_TRUE(art::decode_qzvf(bytes.data(), bytes.size(), info, frames)) << name;
    return frames;
}

const std::uint8_t* px(const Image& img, int x, int y) {
    return &img.px[(static_cast<std::size_t>(y) * img.w + x) * 4];
}

int channel_diff(const std::uint8_t* a, const std::uint8_t* b) {
    int m = 0;
    for (int c = 0; c < 4; ++c) m = std::max(m, std::abs(a[c] - b[c]));
    return m;
}

constexpr double kPi = 3.14159265358979323846;
double angle_deg(double dx, double dy) { return std::atan2(dx, -dy) * 180.0 / kPi; }

}  // namespace

TEST(Artwork, RebuildingGivesTheCommittedBytes) {
    char tmpl[] = "/tmp/zelo-art-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const std::string cmd = std::string("\"") + ZELO_ARTGEN + "\" \"" + dir.string() + "\" > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (const Entry& e : kTable) {
        auto fresh = read_file(dir / e.name);
        auto kept = committed(e.name);
        EXPECT_FALSE(fresh.empty()) << e.name;
        EXPECT_TRUE(fresh == kept) << e.name << " differs from the committed file (run the artwork target)";
    }
    std::size_t files = 0;
    for (const auto& f : fs::directory_iterator(dir)) (void)f, ++files;
    EXPECT_EQ(files, std::size(kTable));
    fs::remove_all(dir);
}

TEST(Artwork, RebuildingTheIconsGivesTheCommittedFiles) {
    char tmpl[] = "/tmp/zelo-icons-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const std::string cmd = std::string("\"") + ZELO_ARTGEN + "\" --icons \"" + dir.string() + "\" > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (const char* name : {"zelo.ico", "zelo_small.ico"}) {
        auto fresh = read_file(dir / name);
        EXPECT_FALSE(fresh.empty()) << name;
        EXPECT_TRUE(fresh == read_file(fs::path(ZELO_HOST_DIR) / name))
            << name << " differs from the committed file (run the icons target)";
    }
    fs::remove_all(dir);
}

// The desktop icons: one PNG per theme size, each the generator's picture at
// that size with its alpha (transparent corners, opaque middle), not a scaled copy.
TEST(Artwork, DesktopIconsAreDrawnAtEachThemeSize) {
    char tmpl[] = "/tmp/zelo-hicolor-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const std::string cmd = std::string("\"") + ZELO_ARTGEN + "\" --hicolor \"" + dir.string() + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) found.push_back(fs::relative(e.path(), dir).string());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"128x128/apps/zelo.png", "16x16/apps/zelo.png",
                                               "256x256/apps/zelo.png", "32x32/apps/zelo.png",
                                               "48x48/apps/zelo.png"}));
    for (const int size : art::kDesktopIconSizes) {
        SCOPED_TRACE(size);
        const std::string path = (dir / (std::to_string(size) + "x" + std::to_string(size)) / "apps/zelo.png").string();
        png_image pi;
        std::memset(&pi, 0, sizeof pi);
        pi.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&pi, path.c_str())) << path;
        EXPECT_TRUE(pi.format & PNG_FORMAT_FLAG_ALPHA);
        pi.format = PNG_FORMAT_BGRA;
        std::vector<std::uint8_t> px(PNG_IMAGE_SIZE(pi));
        ASSERT_TRUE(png_image_finish_read(&pi, nullptr, px.data(), 0, nullptr));
        ASSERT_EQ(pi.width, static_cast<png_uint_32>(size));
        ASSERT_EQ(pi.height, static_cast<png_uint_32>(size));
        EXPECT_TRUE(px == art::draw_icon(size).px);
        EXPECT_EQ(px[3], 0) << "corner";
        EXPECT_EQ(px[(static_cast<std::size_t>(size / 2) * size + size / 2) * 4 + 3], 255) << "middle";
    }
    fs::remove_all(dir);
}

TEST(Artwork, EveryResourceMatchesItsFormatSizeAndFrameCount) {
    for (const Entry& e : kTable) {
        SCOPED_TRACE(e.name);
        auto b = committed(e.name);
        ASSERT_GE(b.size(), 20u);
        auto u32 = [&](std::size_t at) {
            return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
        };
        EXPECT_EQ(std::memcmp(b.data(), e.strip ? "QZVF" : "QZIF", 4), 0);
        EXPECT_EQ(u32(4), e.w);
        EXPECT_EQ(u32(8), e.h);
        if (!e.strip) {
            EXPECT_EQ(b.size(), 12u + 4u * e.w * e.h);
            continue;
        }
        const std::uint32_t blocks = u32(12), frames = u32(16);
        const std::uint32_t tw = (e.w - 1) / 4 + 1, th = (e.h - 1) / 4 + 1;
        EXPECT_EQ(frames, e.frames);
        EXPECT_GT(blocks, 0u);
        EXPECT_LE(blocks, 65536u);
        ASSERT_EQ(b.size(), 20u + 64u * blocks + 2u * frames * tw * th);
        const std::size_t table = 20 + 64 * static_cast<std::size_t>(blocks);
        std::vector<bool> used(blocks, false);
        for (std::size_t i = table; i < b.size(); i += 2) {
            std::uint32_t n = b[i] | b[i + 1] << 8;
            ASSERT_LT(n, blocks);
            used[n] = true;
        }
        EXPECT_EQ(std::count(used.begin(), used.end(), false), 0) << "unused blocks stored";
    }
}

TEST(Artwork, KnobPointerTurnsEvenlyOver270Degrees) {
    auto frames = strip("BIG");
    ASSERT_EQ(frames.size(), 265u);
    // Each face pixel is covered by the pointer in few frames, so its median over
    // all frames is the bare face; the pointer is what a frame brightens above it.
    std::vector<int> base(64 * 64);
    for (int i = 0; i < 64 * 64; ++i) {
        std::vector<int> v;
        for (const Image& f : frames) v.push_back(f.px[i * 4] + f.px[i * 4 + 1] + f.px[i * 4 + 2]);
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        base[i] = v[v.size() / 2];
    }
    double prev = -1000;
    for (int f = 0; f < 265; ++f) {
        double sx = 0, sy = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const std::uint8_t* p = px(frames[f], x, y);
                double dx = x + 0.5 - 32, dy = y + 0.5 - 32, r = std::sqrt(dx * dx + dy * dy);
                int w = p[0] + p[1] + p[2] - base[y * 64 + x];
                if (w > 0 && r < 17) sx += w * dx, sy += w * dy;
            }
        ASSERT_GT(sx * sx + sy * sy, 0) << "no pointer in frame " << f;
        double a = angle_deg(sx, sy);
        EXPECT_NEAR(a, -135.0 + 270.0 * f / 264, 1.0) << "frame " << f;
        if (f > 0) {
            EXPECT_GT(a - prev, 0.5) << "frame " << f;
            EXPECT_LT(a - prev, 1.6) << "frame " << f;
        }
        prev = a;
    }
}

TEST(Artwork, KnobLightingStaysFixedWhileThePointerTurns) {
    auto frames = strip("BIG");
    ASSERT_EQ(frames.size(), 265u);
    // Distance from (dx, dy) to the pointer of frame f: a segment from the centre outwards.
    auto near_pointer = [](int f, double dx, double dy) {
        double a = (-135.0 + 270.0 * f / 264) * kPi / 180;
        double ux = std::sin(a), uy = -std::cos(a);
        double t = std::clamp(dx * ux + dy * uy, 0.0, 17.0);
        double ex = dx - t * ux, ey = dy - t * uy;
        return std::sqrt(ex * ex + ey * ey) < 4.5;
    };
    for (int f = 1; f < 265; ++f) {
        int compared = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                double dx = x + 0.5 - 32, dy = y + 0.5 - 32, r = std::sqrt(dx * dx + dy * dy);
                if (r > 21) continue;  // the value arc lies outside the body
                if (near_pointer(0, dx, dy) || near_pointer(f, dx, dy)) continue;
                ++compared;
                ASSERT_EQ(channel_diff(px(frames[0], x, y), px(frames[f], x, y)), 0)
                    << "frame " << f << " pixel " << x << "," << y;
            }
        EXPECT_GT(compared, 900);
    }
}

TEST(Artwork, ValueArcGrowsWithTheFrame) {
    auto frames = strip("BIG");
    ASSERT_EQ(frames.size(), 265u);
    auto lit = [&](int f) {  // saturated (coloured) pixels are the value arc and its glow
        int n = 0;
        for (std::size_t i = 0; i < frames[f].px.size(); i += 4) {
            const std::uint8_t* p = &frames[f].px[i];
            if (p[3] > 128 && std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 60) ++n;
        }
        return n;
    };
    EXPECT_EQ(lit(0), 0);
    int prev = 0;
    for (int f = 8; f < 265; f += 8) {
        int n = lit(f);
        EXPECT_GT(n, prev) << "frame " << f;
        prev = n;
    }
}

TEST(Artwork, SwitchStatesAreClearlyDifferent) {
    auto frames = strip("BUT");
    ASSERT_EQ(frames.size(), 2u);
    // The uncovered part of the track: dark when off, lit colour when on.
    const std::uint8_t* off = px(frames[0], 34, 12);
    const std::uint8_t* on = px(frames[1], 6, 12);
    EXPECT_LT(std::max({off[0], off[1], off[2]}), 60);
    EXPECT_GT(std::max({on[0], on[1], on[2]}), 150);
    // The grey metal thumb sits left when off and right when on.
    auto thumb_x = [&](const Image& img) {
        double sum = 0, n = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 40; ++x) {
                const std::uint8_t* p = px(img, x, y);
                int hi = std::max({p[0], p[1], p[2]}), lo = std::min({p[0], p[1], p[2]});
                if (hi - lo < 30 && lo > 100 && hi < 210) sum += x, ++n;
            }
        return n > 60 ? sum / n : -1.0;
    };
    EXPECT_NEAR(thumb_x(frames[0]), 12, 2);
    EXPECT_NEAR(thumb_x(frames[1]), 28, 2);
    // Both states are solid where the user clicks.
    for (int f = 0; f < 2; ++f)
        for (int x = 6; x < 34; ++x) EXPECT_GE(px(frames[f], x, 12)[3], 128) << f << " " << x;
}

TEST(Artwork, TexturesTileWithoutVisibleSeams) {
    for (const char* name : {"BGND", "GMM"}) {
        SCOPED_TRACE(name);
        Image img = picture(name);
        int inner = 0, seam = 0;
        for (int y = 0; y < img.h; ++y) {
            for (int x = 0; x + 1 < img.w; ++x)
                inner = std::max(inner, channel_diff(px(img, x, y), px(img, x + 1, y)));
            seam = std::max(seam, channel_diff(px(img, img.w - 1, y), px(img, 0, y)));
        }
        for (int x = 0; x < img.w; ++x) {
            for (int y = 0; y + 1 < img.h; ++y)
                inner = std::max(inner, channel_diff(px(img, x, y), px(img, x, y + 1)));
            seam = std::max(seam, channel_diff(px(img, x, img.h - 1), px(img, x, 0)));
        }
        EXPECT_LE(seam, inner);
        for (std::size_t i = 3; i < img.px.size(); i += 4) ASSERT_EQ(img.px[i], 255);
    }
}

TEST(Artwork, FrameEdgesRepeatAndMeetTheirCorners) {
    for (const char* f : {"A", "G"}) {
        SCOPED_TRACE(f);
        const std::string p = f;
        // Horizontal edges: all columns equal; vertical edges: all rows equal.
        for (const char* e : {"MT", "MB"}) {
            Image img = picture(p + e);
            for (int y = 0; y < 10; ++y)
                for (int x = 1; x < 10; ++x) ASSERT_EQ(channel_diff(px(img, x, y), px(img, 0, y)), 0) << e;
        }
        for (const char* e : {"LM", "RM"}) {
            Image img = picture(p + e);
            for (int y = 1; y < 10; ++y)
                for (int x = 0; x < 10; ++x) ASSERT_EQ(channel_diff(px(img, x, y), px(img, x, 0)), 0) << e;
        }
        // The outer frame is the window's edge: no pixel of it may let the inside show through.
        if (p == "A")
            for (const char* e : {"LT", "MT", "RT", "LM", "RM", "LB", "MB", "RB"}) {
                Image img = picture(p + e);
                for (std::size_t i = 3; i < img.px.size(); i += 4)
                    ASSERT_EQ(img.px[i], 255) << e << " " << i / 4;
            }
        // Corners continue the edges next to them.
        Image lt = picture(p + "LT"), mt = picture(p + "MT"), lm = picture(p + "LM");
        Image rb = picture(p + "RB"), mb = picture(p + "MB"), rm = picture(p + "RM");
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(channel_diff(px(lt, 9, i), px(mt, 0, i)), 0);
            EXPECT_EQ(channel_diff(px(lt, i, 9), px(lm, i, 0)), 0);
            EXPECT_EQ(channel_diff(px(rb, 0, i), px(mb, 9, i)), 0);
            EXPECT_EQ(channel_diff(px(rb, i, 0), px(rm, i, 9)), 0);
        }
    }
}

TEST(Artwork, GroupPiecesLeaveTheMiddleOverlapTransparent) {
    // The middle picture overlaps the inner 4 pixels of every group piece.
    Image mb = picture("GMB"), rm = picture("GRM"), rb = picture("GRB");
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(px(mb, i, j)[3], 0);
            EXPECT_EQ(px(rm, j, i)[3], 0);
        }
    EXPECT_EQ(px(rb, 0, 0)[3], 0);
    EXPECT_EQ(px(rb, 9, 9)[3], 0);  // rounded outer corner
    EXPECT_EQ(px(rb, 5, 5)[3], 255);
}

TEST(Artwork, MeterFacesCarryKeyedSegments) {
    struct Face {
        const char* name;
        int segments, pixels_per_segment;
    };
    for (const Face& f : {Face{"I41X89", 12, 25 * 5}, Face{"I91X17", 16, 4 * 7}}) {
        SCOPED_TRACE(f.name);
        Image img = picture(f.name);
        std::vector<int> count(256, 0);
        for (std::size_t i = 0; i < img.px.size(); i += 4) {
            const std::uint8_t* p = &img.px[i];
            std::uint32_t word = p[0] | p[1] << 8;  // red (segment) and alpha cleared
            if (word == art::kMeterKey) {
                ++count[p[2]];
                EXPECT_EQ(p[3], 255);
            }
        }
        for (int s = 0; s < 256; ++s)
            EXPECT_EQ(count[s], s < f.segments ? f.pixels_per_segment : 0) << "segment " << s;
    }
}

namespace {

double srgb_to_linear(double c) {
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double luminance(double r, double g, double b) {
    return 0.2126 * srgb_to_linear(r) + 0.7152 * srgb_to_linear(g) + 0.0722 * srgb_to_linear(b);
}
double mean_luminance(const Image& img) {
    double sum = 0;
    for (std::size_t i = 0; i < img.px.size(); i += 4)
        sum += luminance(img.px[i + 2], img.px[i + 1], img.px[i]);
    return sum / (img.px.size() / 4);
}
double contrast(double l1, double l2) { return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05); }

}  // namespace

TEST(Artwork, CaptionColoursStayLegibleOnTheirBackgrounds) {
    const double floor = mean_luminance(picture("GMM"));
    // "Filter" 0x00A57BBD, "Cutoff frequency" 0xE0C0C0, the value 0xB0B0B0 (COLORREF: red lowest).
    EXPECT_GE(contrast(luminance(0xBD, 0x7B, 0xA5), floor), 4.5);
    EXPECT_GE(contrast(luminance(0xC0, 0xC0, 0xE0), floor), 7.0);
    EXPECT_GE(contrast(luminance(0xB0, 0xB0, 0xB0), floor), 7.0);
    // The white title sits on the background texture.
    EXPECT_GE(contrast(luminance(255, 255, 255), mean_luminance(picture("BGND"))), 7.0);
}

TEST(Artwork, ComposedPanelShowsTheHostColourInItsRoundedCorners) {
    Image panel;
    std::string err;
    art::PanelState st;
    ASSERT_TRUE(art::compose_panel(ZELO_RESOURCE_DIR, "", st, panel, err)) << err;
    ASSERT_EQ(panel.w, 200);
    ASSERT_EQ(panel.h, 236);
    for (auto [x, y] : {std::pair{0, 0}, {199, 0}, {0, 235}, {199, 235}}) {
        const std::uint8_t* p = px(panel, x, y);
        EXPECT_NEAR(p[2], 32, 2) << x << "," << y;
        EXPECT_NEAR(p[1], 64, 2) << x << "," << y;
        EXPECT_NEAR(p[0], 96, 2) << x << "," << y;
    }
}
