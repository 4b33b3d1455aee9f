// The text widget: renders one line of text into its picture, then behaves like
// a picture widget. Glyph rendering sits behind QZ_Text_Raster; the backend file
// of the platform supplies it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "gui/wid.h"

struct QZ_Font_Desc {
    std::string face;
    std::int32_t size = 0;  // character height in pixels
    bool bold = false;
};

class QZ_Text_Raster {
public:
    virtual ~QZ_Text_Raster() = default;
    // Draws `text` on one line into `pic` (already cleared to 0): glyphs in the
    // COLORREF colour (red in the lowest byte) over black, alpha left 0,
    // vertically centred, left (horz < 0), centred (0) or right (> 0) aligned.
    virtual void render(QZ_Picture& pic, const std::string& text, const QZ_Font_Desc& font,
                        std::uint32_t colorref, std::int32_t horz) = 0;
    // The file that a face resolves to (empty when none): for reports and tests.
    virtual std::string resolve(const QZ_Font_Desc& font) = 0;
};

// The process's rasteriser, created on first use (which happens only once a
// text widget is attached to a window and renders).
QZ_Text_Raster& QZ_text_raster();

class QZ_Wid_Text : public QZ_Wid_Pic {
public:
    QZ_Wid_Text();
    void draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) override;
    // Renders the text (only while attached to a window).
    void prepare() override;
    // Chooses the font once both a face name and a size are set.
    virtual void makeFont();

    std::string text = "test string";
    std::uint32_t color = 0xFFFFFF;
    std::uint32_t background = 0;
    std::string face;  // empty: none
    std::int32_t size = 0;
    std::int32_t horz = 0;
    bool bold = false;

    bool has_font() const { return has_font_; }
    const QZ_Font_Desc& font() const { return font_; }
    bool rendered() const { return rendered_; }

    static QZ_value m_text(QZ_Object* o, QZ_value v);
    static QZ_value m_color(QZ_Object* o, QZ_value v);
    static QZ_value m_font(QZ_Object* o, QZ_value v);
    static QZ_value m_size(QZ_Object* o, QZ_value v);
    static QZ_value m_horz(QZ_Object* o, QZ_value v);
    static QZ_value m_bold(QZ_Object* o, QZ_value v);

    // Used while no font was made: a plain system face.
    static const QZ_Font_Desc default_font;

private:
    QZ_Font_Desc font_;
    bool has_font_ = false;
    bool rendered_ = false;
    std::string last_;  // text of the last rendering
};
