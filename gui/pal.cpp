#include "gui/pal.h"

#include <iterator>

#include "gui/classes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace {
std::uint8_t channel_byte(QZ_Pix_A32 p, std::int32_t ch) { return ch == 0 ? p.b : ch == 1 ? p.g : p.r; }
std::uint32_t channel_mask(std::int32_t ch) { return 0xFFu << (8 * ch); }
std::uint8_t to_byte(double v) {
    const std::int32_t i = QZ_trunc_to_int(v);
    return static_cast<std::uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
}
}  // namespace

QZ_Wid_Pal_Line::QZ_Wid_Pal_Line() {
    std::memset(box, 0, sizeof box);
    for (auto& b : box) {
        b[0] = b[1] = 2147483647;
        b[2] = b[3] = 0;
    }
}

QZ_Wid_Pal_Line* QZ_Wid_Pal::the_line() const { return QZ_object_as<QZ_Wid_Pal_Line>(line); }

bool QZ_Wid_Pal::belongs(const QZ_Wid_Pal_Line& ln, QZ_Pix_A32 p, std::int32_t k) const {
    if (channel_byte(p, ln.channel) != k || k < ln.mn || k > ln.mx) return false;
    return (p.word() & ~(channel_mask(ln.channel) | 0xFF000000u)) == ln.cg;
}

void QZ_Wid_Pal::build_index(QZ_Wid_Pal_Line& ln) {
    for (std::int32_t y = source.height - 1; y >= 0 && source.pixels; --y) {
        for (std::int32_t x = 0; x < source.width; ++x) {
            const QZ_Pix_A32 p = source.at(x, y);
            const std::int32_t k = channel_byte(p, ln.channel);
            if (!belongs(ln, p, k)) continue;
            std::int32_t* b = ln.box[k];
            b[0] = std::min(b[0], x);
            b[1] = std::min(b[1], y);
            b[2] = std::max(b[2], x);
            b[3] = std::max(b[3], y);
        }
    }
    ln.indexed = true;
    ln.level = 1.0f;
    level(0.0f, false);
}

void QZ_Wid_Pal::level(float L, bool quiet) {
    QZ_Wid_Pal_Line* ln = the_line();
    if (!ln) return;
    std::optional<Paint_Guard> guard(std::in_place, this);
    if (!ln->indexed) {
        build_index(*ln);  // paints every segment unlit, starting from a full meter
    }
    const float n = static_cast<float>(static_cast<std::int64_t>(ln->mx) - ln->mn + 1);
    const std::int32_t from = QZ_trunc_to_int(n * ln->level + static_cast<float>(ln->mn));
    const float target = n * L + static_cast<float>(ln->mn);
    const std::int32_t to = QZ_trunc_to_int(target);
    const float frac = target - static_cast<float>(to);
    const bool rising = to > from;
    const int step = rising ? 1 : -1;
    ln->level = L;

    const QZ_Pix_A32 bg = QZ_Pix_A32::from_word(ln->bg);
    // Only segments 0..255 exist; walking the rest would only skip them.
    std::int64_t k = from, end = to;
    if (rising) {
        k = std::max<std::int64_t>(k, 0);
        end = std::min<std::int64_t>(end, 255);
    } else {
        k = std::min<std::int64_t>(k, 255);
        end = std::max<std::int64_t>(end, 0);
    }
    for (; rising ? k <= end : k >= end; k += step) {
        const float range = static_cast<float>(static_cast<std::int64_t>(ln->mx) - ln->mn);
        // A one-segment meter counts as full scale.
        const float t = range != 0.0f ? static_cast<float>(k - ln->mn) / range : 1.0f;
        const QZ_Pix_A32 lit = QZ_Pix_A32::from_word(t < ln->rl ? ln->fg : ln->rg);
        QZ_Pix_A32 d = rising ? lit : bg;
        if (k == to) {
            const double f = frac;
            d = {to_byte((1 - f) * bg.b + f * lit.b), to_byte((1 - f) * bg.g + f * lit.g),
                 to_byte((1 - f) * bg.r + f * lit.r), to_byte((1 - f) * bg.a + f * lit.a)};
        }
        const std::int32_t* b = ln->box[k];
        const std::int32_t x1 = std::min(b[2], std::min(source.width, picture.width) - 1);
        const std::int32_t y1 = std::min(b[3], std::min(source.height, picture.height) - 1);
        for (std::int32_t y = std::max(b[1], 0); y <= y1; ++y) {
            for (std::int32_t x = std::max(b[0], 0); x <= x1; ++x) {
                const QZ_Pix_A32 s = source.at(x, y);
                if (!belongs(*ln, s, static_cast<std::int32_t>(k))) continue;
                QZ_Pix_A32 out = d;
                out.a = static_cast<std::uint8_t>(d.a * s.a / 255);
                picture.at(x, y) = out;
            }
        }
    }
    guard.reset();
    if (!quiet && window()) update();
}

QZ_value QZ_Wid_Pal::m_res(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Pal*>(o);
    if (v.type == QZ_T_STRING && v.word.s) {
        w->resource = v.word.s;
        std::size_t size = 0;
        const unsigned char* p = QZ_gui_resource(w->resource.c_str(), &size);
        if (p && w->source.map(p, size)) {
            if (w->picture.width != w->source.width || w->picture.height != w->source.height ||
                !w->picture.owns())
                w->picture.allocate(w->source.width, w->source.height);
            const std::size_t n =
                static_cast<std::size_t>(w->source.width) * static_cast<std::size_t>(w->source.height);
            if (n) std::memcpy(w->picture.pixels, w->source.pixels, n * sizeof(QZ_Pix_A32));
        }
    }
    return QZ_value::text(w->resource.c_str());
}

QZ_value QZ_Wid_Pal::m_ln(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Pal*>(o);
    if (v.present()) {
        const QZ_handle h = v.as_word();
        if (h == 0 || QZ_object_as<QZ_Wid_Pal_Line>(h)) w->line = h;
    }
    return QZ_value::object(w->line);
}

#define QZ_PAL_LINE_OPTION(opt, field, getter, setter)                 \
    QZ_value QZ_Wid_Pal::m_##opt(QZ_Object* o, QZ_value v) {           \
        QZ_Wid_Pal_Line* ln = static_cast<QZ_Wid_Pal*>(o)->the_line(); \
        if (!ln) return QZ_EMPTY;                                      \
        if (v.present()) ln->field = setter;                           \
        return getter;                                                 \
    }

QZ_PAL_LINE_OPTION(mn, mn, QZ_value::integer(ln->mn), v.as_int())
QZ_PAL_LINE_OPTION(mx, mx, QZ_value::integer(ln->mx), v.as_int())
QZ_PAL_LINE_OPTION(rl, rl, QZ_value::real(ln->rl), v.as_float())
QZ_PAL_LINE_OPTION(bg, bg, QZ_value::integer(static_cast<std::int32_t>(ln->bg)),
                   static_cast<std::uint32_t>(v.as_int()))
QZ_PAL_LINE_OPTION(fg, fg, QZ_value::integer(static_cast<std::int32_t>(ln->fg)),
                   static_cast<std::uint32_t>(v.as_int()))
QZ_PAL_LINE_OPTION(rg, rg, QZ_value::integer(static_cast<std::int32_t>(ln->rg)),
                   static_cast<std::uint32_t>(v.as_int()))
QZ_PAL_LINE_OPTION(cg, cg, QZ_value::integer(static_cast<std::int32_t>(ln->cg)),
                   static_cast<std::uint32_t>(v.as_int()))
#undef QZ_PAL_LINE_OPTION

QZ_value QZ_Wid_Pal::m_ch(QZ_Object* o, QZ_value v) {
    QZ_Wid_Pal_Line* ln = static_cast<QZ_Wid_Pal*>(o)->the_line();
    if (!ln) return QZ_EMPTY;
    if (v.type == QZ_T_STRING && v.word.s) {
        const char c = v.word.s[0];
        if (c == 'b') ln->channel = 0;
        if (c == 'g') ln->channel = 1;
        if (c == 'r') ln->channel = 2;
        ln->cg &= ~(channel_mask(ln->channel) | 0xFF000000u);
    }
    static const char* const letters[] = {"b", "g", "r"};
    return QZ_value::text(letters[ln->channel]);
}

QZ_value QZ_Wid_Pal::m_level(QZ_Object* o, QZ_value v) {
    auto* w = static_cast<QZ_Wid_Pal*>(o);
    if (!w->the_line()) return QZ_EMPTY;
    if (v.present()) w->level(v.as_float(), false);
    return QZ_EMPTY;
}

namespace {
QZ_Object* make_pal() { return new QZ_Wid_Pal; }
const QZ_Option pal_options[] = {
    {"res", &QZ_Wid_Pal::m_res}, {"mn", &QZ_Wid_Pal::m_mn},       {"rl", &QZ_Wid_Pal::m_rl},
    {"mx", &QZ_Wid_Pal::m_mx},   {"bg", &QZ_Wid_Pal::m_bg},       {"fg", &QZ_Wid_Pal::m_fg},
    {"rg", &QZ_Wid_Pal::m_rg},   {"cg", &QZ_Wid_Pal::m_cg},       {"ch", &QZ_Wid_Pal::m_ch},
    {"ln", &QZ_Wid_Pal::m_ln},   {"level", &QZ_Wid_Pal::m_level},
};
}  // namespace

const QZ_Class QZ_Wid_Pal_class = {"QZ_Wid_Pal", &make_pal, pal_options, std::size(pal_options),
                                   &QZ_Wid_class};
