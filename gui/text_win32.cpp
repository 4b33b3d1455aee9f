// Text through GDI: the picture is a DIB section, so DrawTextA renders into it
// directly with a font made by CreateFontA.
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "gui/text.h"

namespace {

class Gdi_Raster final : public QZ_Text_Raster {
public:
    ~Gdi_Raster() override {
        if (dc_) DeleteDC(dc_);
        for (auto& f : fonts_)
            if (f.font) DeleteObject(f.font);
    }

    std::string resolve(const QZ_Font_Desc& font) override {
        std::lock_guard<std::mutex> lock(mutex_);
        HFONT f = font_for(font);
        if (!f || !ensure_dc()) return {};
        HGDIOBJ old = SelectObject(dc_, f);
        char face[LF_FACESIZE] = {};
        GetTextFaceA(dc_, sizeof face, face);
        SelectObject(dc_, old);
        return face;  // the face GDI really uses (it substitutes unknown names)
    }

    void render(QZ_Picture& pic, const std::string& text, const QZ_Font_Desc& font, std::uint32_t colorref,
                std::int32_t horz) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pic.pixels || !pic.bitmap() || !ensure_dc()) return;
        HGDIOBJ old_bmp = SelectObject(dc_, static_cast<HBITMAP>(pic.bitmap()));
        if (!old_bmp) return;  // the bitmap is selected elsewhere
        SetMapMode(dc_, MM_TEXT);
        HFONT f = font_for(font);
        HGDIOBJ old_font = f ? SelectObject(dc_, f) : nullptr;
        SetBkColor(dc_, RGB(0, 0, 0));
        SetTextColor(dc_, static_cast<COLORREF>(colorref & 0xFFFFFF));
        RECT rc{0, 0, pic.width, pic.height};
        UINT format = DT_SINGLELINE | DT_VCENTER | (horz < 0 ? DT_LEFT : horz == 0 ? DT_CENTER : DT_RIGHT);
        DrawTextA(dc_, text.c_str(), -1, &rc, format);
        GdiFlush();  // the caller reads the pixels next
        if (old_font) SelectObject(dc_, old_font);
        SelectObject(dc_, old_bmp);
    }

private:
    struct Made {
        std::string face;
        std::int32_t size;
        bool bold;
        HFONT font;
    };

    bool ensure_dc() {
        if (!dc_) dc_ = CreateCompatibleDC(nullptr);
        return dc_ != nullptr;
    }

    // One font per face, size and weight, made once and kept for the process.
    HFONT font_for(const QZ_Font_Desc& d) {
        for (const Made& m : fonts_)
            if (m.face == d.face && m.size == d.size && m.bold == d.bold) return m.font;
        HFONT f = CreateFontA(-d.size, 0, 0, 0, d.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                              OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY, 0, d.face.c_str());
        fonts_.push_back({d.face, d.size, d.bold, f});  // a failure is remembered too
        return f;
    }

    std::mutex mutex_;
    HDC dc_ = nullptr;
    std::vector<Made> fonts_;
};

}  // namespace

QZ_Text_Raster& QZ_text_raster() {
    static Gdi_Raster raster;
    return raster;
}
