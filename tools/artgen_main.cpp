// zelo-artgen: draws the editor's pictures and writes them as resource files.
//   zelo-artgen OUTDIR                    write the 28 resources into OUTDIR
//   zelo-artgen --preview RESDIR OUTDIR   compose the panel and a contact sheet as PNG
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "art/artwork.h"
#include "art/preview.h"

#ifndef ZELO_PREVIEW_FONT
#define ZELO_PREVIEW_FONT "/usr/share/wine/fonts/tahoma.ttf"
#endif

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: zelo-artgen OUTDIR\n"
                 "       zelo-artgen --preview RESDIR OUTDIR [--font FILE]\n");
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
