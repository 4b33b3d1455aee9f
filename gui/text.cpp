#include "gui/text.h"

#include <iterator>

#include "gui/classes.h"

#include "gui/win.h"

const QZ_Font_Desc QZ_Wid_Text::default_font{"Tahoma", 13, true};

QZ_Wid_Text::QZ_Wid_Text() = default;

void QZ_Wid_Text::makeFont() {
    if (face.empty() || size == 0) return;
    Paint_Guard g(this);
    font_ = {face, size, bold};
    has_font_ = true;
}

void QZ_Wid_Text::prepare() {
    if (!window()) return;
    Paint_Guard g(this);  // the picture may be re-allocated while a paint reads it
    if (picture.width != width || picture.height != height || !picture.owns())
        picture.allocate(width, height);
    picture.fill({0, 0, 0, 0});
    if (picture.pixels) {
        QZ_text_raster().render(picture, text, has_font_ ? font_ : default_font, color, horz);
        // Black is transparent: whatever the glyphs did not touch stays clear,
        // everything they touched becomes opaque.
        const std::size_t n =
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
        for (std::size_t i = 0; i < n; ++i) {
            QZ_Pix_A32& p = picture.pixels[i];
            p.a = (p.b | p.g | p.r | p.a) ? 255 : 0;
        }
    }
    last_ = text;
    rendered_ = true;
}

void QZ_Wid_Text::draw(QZ_Picture& target, std::int32_t dx, std::int32_t dy, const QZ_Rect& src) {
    if (!rendered_ || last_ != text) prepare();  // the paint mutex is held already
    QZ_Wid_Pic::draw(target, dx, dy, src);
}

QZ_value QZ_Wid_Text::m_text(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Text*>(o);
    if (v.type == QZ_T_STRING && v.word.s) {
        Paint_Guard g(w);    // a paint may be comparing or rendering the old text
        w->text = v.word.s;  // copied: the command's word dies with it
    }
    return QZ_value::text(w->text.c_str());
}
QZ_value QZ_Wid_Text::m_color(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Text*>(o);
    if (v.present()) {
        Paint_Guard g(w);
        w->color = static_cast<std::uint32_t>(v.as_int());
    }
    return QZ_value::integer(static_cast<std::int32_t>(w->color));
}
QZ_value QZ_Wid_Text::m_font(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Text*>(o);
    if (v.type == QZ_T_STRING && v.word.s && w->face != v.word.s) {
        {
            Paint_Guard g(w);
            w->face = v.word.s;
        }
        w->makeFont();
    }
    return QZ_value::text(w->face.c_str());
}
QZ_value QZ_Wid_Text::m_size(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Text*>(o);
    if (v.present() && v.as_int() != w->size) {
        w->size = v.as_int();
        w->makeFont();
    }
    return QZ_value::integer(w->size);
}
QZ_value QZ_Wid_Text::m_horz(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Text*>(o);
    if (v.present()) {
        Paint_Guard g(w);
        w->horz = v.as_int();
    }
    return QZ_value::integer(w->horz);
}
QZ_value QZ_Wid_Text::m_bold(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Text*>(o);
    if (v.present()) {
        const bool on = v.as_float() != 0.0f;
        if (on != w->bold) {
            w->bold = on;
            w->makeFont();
        }
    }
    return QZ_value::integer(w->bold ? 1 : 0);
}

namespace {
QZ_Object* make_text() { return new QZ_Wid_Text; }
const QZ_Option text_options[] = {
    {"text", &QZ_Wid_Text::m_text}, {"color", &QZ_Wid_Text::m_color}, {"font", &QZ_Wid_Text::m_font},
    {"size", &QZ_Wid_Text::m_size}, {"horz", &QZ_Wid_Text::m_horz},   {"bold", &QZ_Wid_Text::m_bold},
};
}  // namespace

// The parent in the registry is QZ_Wid: a text widget has no -res.
const QZ_Class QZ_Wid_Text_class = {"QZ_Wid_Text", &make_text, text_options, std::size(text_options),
                                    &QZ_Wid_class};
