// The level meter: a picture whose pixels carry a segment number in one colour
// channel; segments up to the level are lit, the one at the boundary is mixed
// in proportion to the level's fraction. Its settings and state live in a
// QZ_Wid_Pal_Line that the owner makes and hands over with -ln.
#pragma once

#include <cstdint>

#include "gui/wid.h"

class QZ_Wid_Pal_Line : public QZ_Object {
public:
    QZ_Wid_Pal_Line();

    std::uint32_t bg = 0;      // unlit segments
    std::uint32_t cg = 0;      // key: a meter pixel with its segment byte and alpha cleared equals cg
    std::uint32_t fg = 0;      // lit, below the threshold
    std::uint32_t rg = 0;      // lit, at or above the threshold
    std::int32_t channel = 0;  // 0 blue, 1 green, 2 red: the byte holding the segment number
    float level = 0.0f;
    float rl = 0.0f;  // threshold, as a fraction of the segment range
    std::int32_t mn = 0, mx = 0;
    bool indexed = false;
    std::int32_t box[256][4];  // per segment: min x, min y, max x, max y
};

class QZ_Wid_Pal : public QZ_Wid_Pic {
public:
    // Sets the meter to level L (0..1); repaints unless `quiet`. Without a line, nothing.
    void level(float L, bool quiet = false);

    QZ_Picture source;  // the resource; `picture` is what is shown
    QZ_handle line = 0;

    QZ_Wid_Pal_Line* the_line() const;

    static QZ_value m_res(QZ_Object* o, QZ_value v);
    static QZ_value m_ln(QZ_Object* o, QZ_value v);
    static QZ_value m_mn(QZ_Object* o, QZ_value v);
    static QZ_value m_mx(QZ_Object* o, QZ_value v);
    static QZ_value m_rl(QZ_Object* o, QZ_value v);
    static QZ_value m_bg(QZ_Object* o, QZ_value v);
    static QZ_value m_fg(QZ_Object* o, QZ_value v);
    static QZ_value m_rg(QZ_Object* o, QZ_value v);
    static QZ_value m_cg(QZ_Object* o, QZ_value v);
    static QZ_value m_ch(QZ_Object* o, QZ_value v);
    static QZ_value m_level(QZ_Object* o, QZ_value v);

private:
    bool belongs(const QZ_Wid_Pal_Line& ln, QZ_Pix_A32 p, std::int32_t k) const;
    void build_index(QZ_Wid_Pal_Line& ln);
};
