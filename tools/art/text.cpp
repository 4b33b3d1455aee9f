#include "art/text.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>

namespace art {

namespace {
struct Library {
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    ~Library() {
        if (face) FT_Done_Face(face);
        if (lib) FT_Done_FreeType(lib);
    }
};
}  // namespace

bool render_text(const std::string& font_file, int pixel_size, const std::string& text, TextMask& out,
                 std::string& error) {
    Library ft;
    if (FT_Init_FreeType(&ft.lib) != 0) {
        error = "FreeType could not be initialised";
        return false;
    }
    if (FT_New_Face(ft.lib, font_file.c_str(), 0, &ft.face) != 0) {
        error = "cannot load font " + font_file;
        return false;
    }
    if (FT_Set_Pixel_Sizes(ft.face, 0, static_cast<FT_UInt>(pixel_size)) != 0) {
        error = "font size not available";
        return false;
    }
    struct Glyph {
        int x, top;
        int w, h;
        std::vector<std::uint8_t> cov;
    };
    std::vector<Glyph> glyphs;
    int pen = 0;
    FT_UInt prev = 0;
    const bool kern = FT_HAS_KERNING(ft.face);
    for (unsigned char ch : text) {
        FT_UInt gi = FT_Get_Char_Index(ft.face, ch);
        if (kern && prev && gi) {
            FT_Vector k;
            if (FT_Get_Kerning(ft.face, prev, gi, FT_KERNING_DEFAULT, &k) == 0)
                pen += static_cast<int>(k.x >> 6);
        }
        if (FT_Load_Glyph(ft.face, gi, FT_LOAD_RENDER | FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT) != 0) {
            error = "glyph could not be rendered";
            return false;
        }
        FT_GlyphSlot s = ft.face->glyph;
        Glyph g{pen + s->bitmap_left,
                -s->bitmap_top,
                static_cast<int>(s->bitmap.width),
                static_cast<int>(s->bitmap.rows),
                {}};
        g.cov.resize(static_cast<std::size_t>(g.w) * g.h);
        for (int y = 0; y < g.h; ++y)
            for (int x = 0; x < g.w; ++x)
                g.cov[static_cast<std::size_t>(y) * g.w + x] = s->bitmap.buffer[y * s->bitmap.pitch + x];
        glyphs.push_back(std::move(g));
        pen += static_cast<int>((s->advance.x + 32) >> 6);
        prev = gi;
    }
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool any = false;
    for (const Glyph& g : glyphs) {
        if (g.w == 0 || g.h == 0) continue;
        if (!any) {
            x0 = g.x, y0 = g.top, x1 = g.x + g.w, y1 = g.top + g.h;
            any = true;
        }
        x0 = std::min(x0, g.x), y0 = std::min(y0, g.top);
        x1 = std::max(x1, g.x + g.w), y1 = std::max(y1, g.top + g.h);
    }
    out = TextMask{};
    out.advance = pen;
    if (!any) return true;
    out.left = x0, out.top = y0, out.w = x1 - x0, out.h = y1 - y0;
    out.cov.assign(static_cast<std::size_t>(out.w) * out.h, 0);
    for (const Glyph& g : glyphs)
        for (int y = 0; y < g.h; ++y)
            for (int x = 0; x < g.w; ++x) {
                std::uint8_t& d = out.cov[static_cast<std::size_t>(g.top - y0 + y) * out.w + (g.x - x0 + x)];
                d = std::max(d, g.cov[static_cast<std::size_t>(y) * g.w + x]);
            }
    return true;
}

}  // namespace art
