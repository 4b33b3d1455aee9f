// Text on FreeType, faces found through fontconfig: the named face, else a
// face metric-compatible with it that is installed outside fontconfig's paths
// (Wine's Tahoma), else any sans face.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <strings.h>
#include <sys/stat.h>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "gui/text.h"

namespace {

struct Metric_Compatible {
    const char* family;
    const char* regular;
    const char* bold;
};
const Metric_Compatible kCompatible[] = {
    {"Tahoma", "/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"},
};

bool file_exists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class Ft_Raster final : public QZ_Text_Raster {
public:
    ~Ft_Raster() override {
        for (auto& f : faces_)
            if (f.face) FT_Done_Face(f.face);
        if (lib_) FT_Done_FreeType(lib_);
    }

    std::string resolve(const QZ_Font_Desc& font) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return find_file(font).first;
    }

    void render(QZ_Picture& pic, const std::string& text, const QZ_Font_Desc& font, std::uint32_t colorref,
                std::int32_t horz) override {
        std::lock_guard<std::mutex> lock(mutex_);
        FT_Face face = face_for(font);
        if (!face || !pic.pixels || text.empty()) return;
        const FT_UInt px =
            static_cast<FT_UInt>(font.size < 0 ? -static_cast<std::int64_t>(font.size) : font.size);
        if (px == 0 || px > 1000 || FT_Set_Pixel_Sizes(face, 0, px) != 0) return;

        // Outlines only: some faces carry 1-bit bitmap strikes for small sizes, which
        // would lose the anti-aliasing.
        const FT_Int32 flags = FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL;
        std::int64_t advance = 0;  // 26.6
        for (unsigned char c : text) {
            if (FT_Load_Glyph(face, FT_Get_Char_Index(face, c), flags) == 0)
                advance += face->glyph->advance.x;
        }
        const std::int64_t text_w = (advance + 32) >> 6;
        const std::int64_t ascent = (face->size->metrics.ascender + 63) >> 6;
        const std::int64_t descent = (-face->size->metrics.descender + 63) >> 6;
        const std::int64_t x0 = horz < 0 ? 0 : horz == 0 ? (pic.width - text_w) / 2 : pic.width - text_w;
        const std::int64_t baseline = (pic.height - (ascent + descent)) / 2 + ascent;

        const unsigned cr = colorref & 0xFF, cg = (colorref >> 8) & 0xFF, cb = (colorref >> 16) & 0xFF;
        std::int64_t pen = x0 << 6;
        for (unsigned char c : text) {
            if (FT_Load_Glyph(face, FT_Get_Char_Index(face, c), flags) != 0) continue;
            if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
            const FT_Bitmap& bm = face->glyph->bitmap;
            if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO) continue;
            const std::int64_t gx = (pen >> 6) + face->glyph->bitmap_left;
            const std::int64_t gy = baseline - face->glyph->bitmap_top;
            for (unsigned row = 0; row < bm.rows; ++row) {
                const std::int64_t y = gy + row;
                if (y < 0 || y >= pic.height) continue;
                const unsigned char* src = bm.buffer + static_cast<std::ptrdiff_t>(row) * bm.pitch;
                const bool mono = bm.pixel_mode == FT_PIXEL_MODE_MONO;
                for (unsigned col = 0; col < bm.width; ++col) {
                    const std::int64_t x = gx + col;
                    const unsigned cov = mono ? ((src[col >> 3] >> (7 - (col & 7))) & 1) * 255 : src[col];
                    if (cov == 0 || x < 0 || x >= pic.width) continue;
                    QZ_Pix_A32& d = pic.at(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
                    // Glyph over a black background: coverage scales the colour;
                    // where glyphs overlap the stronger one wins.
                    auto mix = [cov](unsigned colour, std::uint8_t old) {
                        const unsigned v = colour * cov / 255;
                        return static_cast<std::uint8_t>(v > old ? v : old);
                    };
                    d.r = mix(cr, d.r);
                    d.g = mix(cg, d.g);
                    d.b = mix(cb, d.b);
                }
            }
            pen += face->glyph->advance.x;
        }
    }

private:
    struct Loaded {
        std::string key;
        FT_Face face = nullptr;
    };

    // (file, face index) for a face name and weight.
    std::pair<std::string, int> find_file(const QZ_Font_Desc& font) {
        if (!fc_ready_) {
            fc_ready_ = true;
            fc_ok_ = FcInit() == FcTrue;
        }
        auto match = [&](const char* family, bool must_be_family) -> std::pair<std::string, int> {
            if (!fc_ok_) return {};
            FcPattern* pat = FcPatternCreate();
            FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
            FcPatternAddInteger(pat, FC_WEIGHT, font.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
            FcPatternAddInteger(pat, FC_SLANT, FC_SLANT_ROMAN);
            FcConfigSubstitute(nullptr, pat, FcMatchPattern);
            FcDefaultSubstitute(pat);
            FcResult res = FcResultNoMatch;
            FcPattern* got = FcFontMatch(nullptr, pat, &res);
            std::pair<std::string, int> out;
            if (got) {
                FcChar8* fam = nullptr;
                FcChar8* file = nullptr;
                int index = 0;
                const bool same = FcPatternGetString(got, FC_FAMILY, 0, &fam) == FcResultMatch && fam &&
                                  strcasecmp(reinterpret_cast<const char*>(fam), family) == 0;
                if ((same || !must_be_family) &&
                    FcPatternGetString(got, FC_FILE, 0, &file) == FcResultMatch && file) {
                    FcPatternGetInteger(got, FC_INDEX, 0, &index);
                    out = {reinterpret_cast<const char*>(file), index};
                }
                FcPatternDestroy(got);
            }
            FcPatternDestroy(pat);
            return out;
        };
        if (!font.face.empty()) {
            auto exact = match(font.face.c_str(), true);
            if (file_exists(exact.first)) return exact;
            for (const auto& m : kCompatible) {
                if (strcasecmp(m.family, font.face.c_str()) != 0) continue;
                const std::string path = font.bold ? m.bold : m.regular;
                if (file_exists(path)) return {path, 0};
                if (file_exists(m.regular)) return {m.regular, 0};
            }
        }
        auto sans = match("sans-serif", false);
        if (file_exists(sans.first)) return sans;
        return {};
    }

    FT_Face face_for(const QZ_Font_Desc& font) {
        const std::string key = font.face + (font.bold ? "|b" : "|r");
        for (auto& f : faces_)
            if (f.key == key) return f.face;
        if (!lib_ && !lib_failed_) lib_failed_ = FT_Init_FreeType(&lib_) != 0;
        Loaded l;
        l.key = key;
        if (lib_) {
            auto [file, index] = find_file(font);
            if (!file.empty() && FT_New_Face(lib_, file.c_str(), index, &l.face) != 0) l.face = nullptr;
        }
        faces_.push_back(l);  // a face that cannot be had is remembered as such
        return l.face;
    }

    std::mutex mutex_;
    FT_Library lib_ = nullptr;
    bool lib_failed_ = false;
    bool fc_ready_ = false;
    bool fc_ok_ = false;
    std::vector<Loaded> faces_;
};

}  // namespace

QZ_Text_Raster& QZ_text_raster() {
    static Ft_Raster raster;
    return raster;
}
