// zelo-artgen: draws the editor's pictures and writes them as resource files.
//   zelo-artgen OUTDIR                    write the 28 resources into OUTDIR
//   zelo-artgen --preview RESDIR OUTDIR   compose the panel and a contact sheet as PNG
//   zelo-artgen --icons OUTDIR [PNG]      write the program's icon files (and a look at them)
//   zelo-artgen --hicolor OUTDIR          the desktop icons as OUTDIR/NxN/apps/zelo.png
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <utility>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "art/artwork.h"
#include "art/icon.h"
#include "art/preview.h"

#ifndef ZELO_PREVIEW_FONT
#define ZELO_PREVIEW_FONT "/usr/share/wine/fonts/tahoma.ttf"
#endif

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: zelo-artgen OUTDIR\n"
                 "       zelo-artgen --preview RESDIR OUTDIR [--font FILE]\n"
                 "       zelo-artgen --icons OUTDIR [PNG]\n"
                 "       zelo-artgen --hicolor OUTDIR\n");
    return 2;
}

int generate(const std::string& dir) {
    std::vector<art::Resource> res;
    std::string error;
    if (!art::make_artwork(art::default_art_options(), res, error)) {
        std::fprintf(stderr, "zelo-artgen: %s\n", error.c_str());
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const art::Resource& r : res) {
        std::string path = dir + "/" + r.name;
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(r.bytes.data()), static_cast<std::streamsize>(r.bytes.size()));
        if (!f) {
            std::fprintf(stderr, "zelo-artgen: cannot write %s\n", path.c_str());
            return 1;
        }
        if (r.bytes.size() >= 20 && std::memcmp(r.bytes.data(), "QZVF", 4) == 0) {
            unsigned blocks =
                r.bytes[12] | r.bytes[13] << 8 | r.bytes[14] << 16 | unsigned(r.bytes[15]) << 24;
            std::printf("%-7s %8zu bytes, %u blocks\n", r.name.c_str(), r.bytes.size(), blocks);
        } else {
            std::printf("%-7s %8zu bytes\n", r.name.c_str(), r.bytes.size());
        }
    }
    return 0;
}

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

// Straight-alpha src over an opaque picture at (dx, dy).
void put_over(art::Image& dst, const art::Image& src, int dx, int dy) {
    for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x) {
            const std::uint8_t* s = &src.px[(static_cast<std::size_t>(y) * src.w + x) * 4];
            std::uint8_t* d = &dst.px[(static_cast<std::size_t>(dy + y) * dst.w + dx + x) * 4];
            for (int c = 0; c < 3; ++c) d[c] = static_cast<std::uint8_t>((s[c] * s[3] + d[c] * (255 - s[3]) + 127) / 255);
        }
}

// zelo.ico ("icon": 48, 32 and 16 pixels) and zelo_small.ico ("ComboSmallIcon":
// 16 and 32), with a sheet of both on a light and a dark background.
int icons(const std::string& dir, const std::string& png) {
    const std::vector<art::Image> large = {art::draw_icon(48), art::draw_icon(32), art::draw_icon(16)};
    const std::vector<art::Image> small = {art::draw_small_icon(16), art::draw_small_icon(32)};
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const auto& [name, set] : {std::pair{"zelo.ico", &large}, std::pair{"zelo_small.ico", &small}}) {
        const std::vector<std::uint8_t> bytes = art::encode_ico(*set);
        if (!write_file(dir + "/" + name, bytes)) {
            std::fprintf(stderr, "zelo-artgen: cannot write %s/%s\n", dir.c_str(), name);
            return 1;
        }
        std::printf("%-15s %6zu bytes\n", name, bytes.size());
    }
    if (png.empty()) return 0;
    // Each picture at its own size, then four times enlarged; light row above, dark below.
    std::vector<art::Image> all = large;
    all.insert(all.end(), small.begin(), small.end());
    int width = 8, height = 0;
    for (const art::Image& i : all) {
        width += i.w + 8 + 4 * i.w + 8;
        height = std::max(height, 4 * i.h);
    }
    art::Image sheet{width, 2 * (height + 16), {}};
    sheet.px.resize(static_cast<std::size_t>(sheet.w) * sheet.h * 4);
    for (int y = 0; y < sheet.h; ++y)
        for (int x = 0; x < sheet.w; ++x) {
            std::uint8_t* d = &sheet.px[(static_cast<std::size_t>(y) * sheet.w + x) * 4];
            const std::uint8_t v = y < height + 16 ? 236 : 40;
            d[0] = v, d[1] = v, d[2] = v, d[3] = 255;
        }
    for (int row = 0; row < 2; ++row) {
        int x = 8;
        for (const art::Image& i : all) {
            const int y = row * (height + 16) + 8;
            put_over(sheet, i, x, y);
            x += i.w + 8;
            put_over(sheet, art::upscale(i, 4), x, y);
            x += 4 * i.w + 8;
        }
    }
    std::string error;
    if (!art::write_png(png, sheet, error)) {
        std::fprintf(stderr, "zelo-artgen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

// The icon theme's layout, so that OUTDIR can be installed as share/icons/hicolor.
int hicolor(const std::string& dir) {
    for (const int size : art::kDesktopIconSizes) {
        const std::string sub = dir + "/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
        std::error_code ec;
        std::filesystem::create_directories(sub, ec);
        std::string error;
        if (!art::write_icon_png(sub + "/zelo.png", art::draw_icon(size), error)) {
            std::fprintf(stderr, "zelo-artgen: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

int preview(const std::string& resdir, const std::string& outdir, const std::string& font) {
    std::string error;
    std::error_code ec;
    std::filesystem::create_directories(outdir, ec);
    struct Variant {
        const char* file;
        art::PanelState st;
    };
    const Variant variants[] = {
        {"panel.png", {true, 19, false, "130 Hz"}},
        {"panel_off.png", {false, 19, false, "130 Hz"}},
        {"panel_hover.png", {true, 187, true, "10040 Hz"}},
    };
    art::Image row{600, 236, std::vector<std::uint8_t>(600 * 236 * 4, 0)};
    int x = 0;
    for (const Variant& v : variants) {
        art::Image panel;
        if (!art::compose_panel(resdir, font, v.st, panel, error) ||
            !art::write_png(outdir + "/" + v.file, panel, error)) {
            std::fprintf(stderr, "zelo-artgen: %s\n", error.c_str());
            return 1;
        }
        for (int y = 0; y < 236; ++y)
            std::memcpy(&row.px[(static_cast<std::size_t>(y) * 600 + x) * 4], &panel.px[y * 200 * 4],
                        200 * 4);
        x += 200;
    }
    art::Image sheet;
    if (!art::write_png(outdir + "/panels_x2.png", art::upscale(row, 2), error) ||
        !art::contact_sheet(resdir, sheet, error) || !art::write_png(outdir + "/sheet.png", sheet, error) ||
        !art::write_png(outdir + "/sheet_x2.png", art::upscale(sheet, 2), error)) {
        std::fprintf(stderr, "zelo-artgen: %s\n", error.c_str());
        return 1;
    }
    std::printf("preview written to %s\n", outdir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1][0] != '-') return generate(argv[1]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--icons") == 0)
        return icons(argv[2], argc == 4 ? argv[3] : "");
    if (argc == 3 && std::strcmp(argv[1], "--hicolor") == 0) return hicolor(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "--preview") == 0) {
        std::string font = ZELO_PREVIEW_FONT;
        if (argc == 6 && std::strcmp(argv[4], "--font") == 0)
            font = argv[5];
        else if (argc != 4)
            return usage();
        return preview(argv[2], argv[3], font);
    }
    return usage();
}
