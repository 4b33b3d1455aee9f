#include "art/artwork.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "art/raster.h"
#include "art/text.h"

#ifndef ZELO_ART_FONT_BOLD
#define ZELO_ART_FONT_BOLD "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf"
#endif
#ifndef ZELO_ART_FONT_REGULAR
#define ZELO_ART_FONT_REGULAR "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf"
#endif

namespace art {

ArtOptions default_art_options() { return ArtOptions{ZELO_ART_FONT_BOLD, ZELO_ART_FONT_REGULAR}; }

namespace {

// ---- palette: one dark theme around the host's slate blue --------------------------
const Color kHost = rgb(32, 64, 96);     // what shows outside the rounded panel corners
const Color kSurface = rgb(44, 47, 57);  // panel surface around the group
const Color kFloor = rgb(27, 29, 36);    // recessed group floor
const Color kOutline = rgb(9, 10, 13);
const Color kViolet = rgb(128, 112, 238);  // value arc start
const Color kPink = rgb(246, 108, 188);    // value arc end, lit states
const Color kLabel = rgb(192, 192, 224);   // matches the caption colour
const Color kWhite = rgb(240, 238, 248);

// Direction towards the light (screen coordinates, y down): up and a little left.
const double kLx = -0.3363, kLy = -0.9417;

Image to_image(const Canvas& c) { return Image{c.width(), c.height(), c.bgra()}; }

// Colour along a depth profile: linear between stops (depth, colour).
struct Stop {
    double t;
    Color c;
};
Color profile(std::initializer_list<Stop> stops, double t) {
    const Stop* prev = stops.begin();
    if (t <= prev->t) return prev->c;
    for (const Stop* s = stops.begin() + 1; s != stops.end(); ++s) {
        if (t <= s->t) return lerp(prev->c, s->c, (t - prev->t) / (s->t - prev->t));
        prev = s;
    }
    return prev->c;
}
Color brighten(const Color& c, double v) {  // add v/255 to each colour channel
    return Color{clamp01(c.r + v / 255), clamp01(c.g + v / 255), clamp01(c.b + v / 255), c.a};
}

// ---- nine-piece frames ------------------------------------------------------------
// A frame is drawn once as a 30x30 picture and cut into 10x10 pieces: the edges
// are the straight middle parts, so they repeat seamlessly along any length.
Canvas outer_frame() {
    Canvas c(30, 30);
    const double r = 7;
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, 0, 0, 30, 30, r);
        cov = d > -0.5 ? 1 : 0;  // under the anti-aliased edge too, so the corner stays opaque
        return kHost;
    });
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, 0, 0, 30, 30, r);
        cov = coverage(d);
        double nx, ny;
        round_rect_normal(x, y, 0, 0, 30, 30, r, nx, ny);
        double lit = nx * kLx + ny * kLy;  // outward slope facing the light
        double t = -d;
        return profile({{0.0, rgb(8, 9, 12)},
                        {1.0, rgb(22, 23, 28)},
                        {1.6, brighten(rgb(92, 97, 112), 46 * lit)},
                        {3.0, brighten(rgb(68, 72, 85), 16 * lit)},
                        {4.2, brighten(rgb(56, 60, 71), 5 * lit)},
                        {7.2, rgb(51, 55, 65)},
                        {8.6, brighten(rgb(42, 45, 54), 14 * lit)},
                        {9.5, rgb(16, 17, 21)},
                        {10.0, rgb(24, 26, 32)}},
                       t);
    });
    return c;
}

// Group frame: a recessed border 6 pixels wide; the inner 4 pixels of every
// piece stay transparent because the middle picture fills them.
Canvas group_frame() {
    Canvas c(30, 30);
    const double r = 4;
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, 0, 0, 30, 30, r);
        double inner = sd_round_rect(x, y, 6, 6, 24, 24, 0);
        cov = inner < 0 ? 0 : coverage(d);
        double nx, ny;
        round_rect_normal(x, y, 0, 0, 30, 30, r, nx, ny);
        double lit = nx * kLx + ny * kLy;
        double t = -d;
        // The wall faces inward, so the top wall is in shade and the bottom one lit.
        return profile({{0.0, brighten(rgb(60, 64, 76), 22 * lit)},
                        {1.0, brighten(rgb(50, 54, 64), 10 * lit)},
                        {1.8, brighten(rgb(34, 37, 45), -22 * lit)},
                        {4.5, brighten(rgb(28, 30, 37), -10 * lit)},
                        {5.5, rgb(15, 16, 20)},
                        {6.0, kFloor}},
                       t);
    });
    return c;
}

Image cut(const Canvas& c, int x0, int y0, int w, int h) {
    Image img{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 4)};
    std::vector<std::uint8_t> all = c.bgra();
    for (int y = 0; y < h; ++y)
        std::copy_n(&all[(static_cast<std::size_t>(y0 + y) * c.width() + x0) * 4], w * 4,
                    &img.px[static_cast<std::size_t>(y) * w * 4]);
    return img;
}

// ---- textures ---------------------------------------------------------------------
Image background() {  // 63x63, tiles seamlessly
    Canvas c(63, 63);
    c.paint([&](double x, double y, double& cov) {
        cov = 1;
        double streak = tile_noise(x, y, 21, 1, 3, 63, 11) - 0.5;
        double grain = tile_noise(x, y, 3, 3, 21, 21, 12) - 0.5;
        return brighten(kSurface, 6 * streak + 3 * grain);
    });
    return to_image(c);
}

Image group_middle() {  // 128x128, tiles seamlessly
    Canvas c(128, 128);
    c.paint([&](double x, double y, double& cov) {
        cov = 1;
        double streak = tile_noise(x, y, 32, 1, 4, 128, 21) - 0.5;
        double grain = tile_noise(x, y, 2, 2, 64, 64, 22) - 0.5;
        return brighten(kFloor, 5 * streak + 2.5 * grain);
    });
    return to_image(c);
}

// ---- knob ------------------------------------------------------------------------
// Angle measured clockwise from straight up.
double clock_angle(double dx, double dy) { return datan2(dx, -dy); }

}  // namespace

Image draw_knob(int size, int frame, int frames) {
    const double k = size / 64.0;
    const double cx = size / 2.0, cy = size / 2.0;
    const double sweep = 270.0 * kPi / 180.0, a0 = -sweep / 2;
    const double av = a0 + sweep * (frames > 1 ? static_cast<double>(frame) / (frames - 1) : 0.0);
    const double arc_r = 27.2 * k, track_hw = std::max(2.2 * k, 1.2),
                 lit_hw = track_hw - std::max(0.7 * k, 0.4);
    const double body_r = 20.5 * k, face_r = 16.5 * k;
    Canvas c(size, size);

    auto polar = [&](double x, double y, double& r, double& phi) {
        double dx = x - cx, dy = y - cy;
        r = std::sqrt(dx * dx + dy * dy);
        phi = clock_angle(dx, dy);
    };
    // Track with round caps.
    c.paint([&](double x, double y, double& cov) {
        double r, phi;
        polar(x, y, r, phi);
        double d;
        if (phi >= a0 && phi <= -a0) {
            d = std::fabs(r - arc_r) - track_hw;
        } else {
            double ex = cx + arc_r * dsin(a0), ey = cy - arc_r * dcos(a0);
            double fx = cx - arc_r * dsin(a0);
            d = std::min(sd_circle(x, y, ex, ey, track_hw), sd_circle(x, y, fx, ey, track_hw));
        }
        cov = coverage(d);
        // a groove: dark, with its lower outer lip catching the light
        double lip = clamp01(1 + (d + 0.3) / 0.8) * clamp01((y - cy) / (arc_r * 0.6) + 0.3);
        return lerp(rgb(11, 12, 15), rgb(58, 62, 74), 0.6 * lip);
    });
    // Value arc: cut square at its ends so that it grows smoothly from nothing.
    auto lit_d = [&](double r, double phi) {
        double d = std::fabs(r - arc_r) - lit_hw;
        d = std::max(d, (phi - av) * arc_r);
        d = std::max(d, (a0 - phi) * arc_r);
        return d;
    };
    auto arc_colour = [&](double phi) { return lerp(kViolet, kPink, clamp01((phi - a0) / sweep)); };
    const double glow_in = clamp01((av - a0) * arc_r / 3);  // no glow before the arc shows
    c.paint([&](double x, double y, double& cov) {          // glow, confined to a few pixels
        double r, phi;
        polar(x, y, r, phi);
        double d = lit_d(r, phi);
        double g = clamp01(1 - d / (3.5 * k + 0.5));
        cov = d > 0 ? 0.42 * glow_in * g * g : 0;
        return arc_colour(phi);
    });
    c.paint([&](double x, double y, double& cov) {
        double r, phi;
        polar(x, y, r, phi);
        cov = coverage(lit_d(r, phi));
        Color col = arc_colour(phi);
        // a brighter core along the middle of the arc
        double core = clamp01(1 - std::fabs(r - arc_r) / lit_hw);
        return lerp(col, kWhite, 0.25 * core);
    });
    // Scale ticks between the body and the track (only where there is room).
    if (size >= 48) {
        c.paint([&](double x, double y, double& cov) {
            double best = 1e9;
            for (int i = 0; i <= 10; ++i) {
                double a = a0 + sweep * i / 10;
                double ux = dsin(a), uy = -dcos(a);
                double r0 = (i % 5 == 0 ? 21.7 : 22.5) * k, r1 = 24.6 * k;
                best = std::min(
                    best, sd_capsule(x, y, cx + ux * r0, cy + uy * r0, cx + ux * r1, cy + uy * r1, 0.5));
            }
            cov = 0.9 * coverage(best);
            return rgb(128, 133, 150);
        });
    }
    // Soft shadow under the body.
    c.paint([&](double x, double y, double& cov) {
        double d = sd_circle(x, y, cx, cy + 2.2 * k, body_r);
        double s = 1 - smoothstep(-2 * k, 3.2 * k, d);
        cov = 0.6 * s;
        return rgb(0, 0, 0);
    });
    // Body: a skirt lit from above, a chamfer, and a slightly dished face.
    c.paint([&](double x, double y, double& cov) {
        double d = sd_circle(x, y, cx, cy, body_r);
        cov = coverage(d);
        double v = clamp01((y - (cy - body_r)) / (2 * body_r));
        Color col = lerp(rgb(84, 89, 104), rgb(26, 28, 34), v);
        double rim = clamp01(1 + d / (1.2 * k + 0.3));  // outermost edge
        return lerp(col, rgb(14, 15, 19), 0.7 * rim);
    });
    c.paint([&](double x, double y, double& cov) {
        double d = sd_circle(x, y, cx, cy, face_r + 1.4 * k);
        cov = coverage(d);
        double dx = x - cx, dy = y - cy, r = std::sqrt(dx * dx + dy * dy);
        double lit = r > 0 ? (dx * kLx + dy * kLy) / r : 0;
        return brighten(rgb(66, 70, 83), 34 * lit);  // chamfer facing out
    });
    c.paint([&](double x, double y, double& cov) {
        double d = sd_circle(x, y, cx, cy, face_r);
        cov = coverage(d);
        double dx = x - cx, dy = y - cy;
        double v = clamp01((dy / face_r + 1) / 2);
        Color col = lerp(rgb(38, 41, 50), rgb(56, 60, 72), v);
        // Fixed conical sheen of turned metal: two highlights across the light axis.
        double phi = clock_angle(dx, dy);
        double sheen = dcos(2 * (phi + 0.35));
        double rr = std::sqrt(dx * dx + dy * dy) / face_r;
        // Fine concentric turning marks: they depend on the radius only, so they
        // look the same in every frame.
        double rings = tile_noise(rr * face_r * 2.2, 0.5, 1, 1, 4096, 1, 31) - 0.5;
        return brighten(col, 7 * sheen * sheen * sheen * sheen * rr + 5 * rings * rr);
    });
    // Pointer: a groove with a bright inlay, from near the centre to the edge of the face.
    const double sx = dsin(av), sy = -dcos(av);
    const double p0 = 5.5 * k, p1 = face_r - 1.6 * k, phw = std::max(1.35 * k, 0.85);
    c.paint([&](double x, double y, double& cov) {
        double d = sd_capsule(x, y, cx + sx * p0, cy + sy * p0 + 0.8 * k, cx + sx * p1,
                              cy + sy * p1 + 0.8 * k, phw + 0.6 * k);
        cov = 0.55 * coverage(d);
        return rgb(0, 0, 0);
    });
    c.paint([&](double x, double y, double& cov) {
        double d = sd_capsule(x, y, cx + sx * p0, cy + sy * p0, cx + sx * p1, cy + sy * p1, phw);
        cov = coverage(d);
        return kWhite;
    });
    return to_image(c);
}

namespace {

void fill_text(Canvas& c, const TextMask& m, int pen_x, int baseline, Color top, Color bottom) {
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) {
            std::uint8_t a = m.at(x, y);
            if (!a) continue;
            Color col = lerp(top, bottom, m.h > 1 ? static_cast<double>(y) / (m.h - 1) : 0);
            c.over(pen_x + m.left + x, baseline + m.top + y, col, a / 255.0);
        }
}

// Pixel size at which the text fits the width, starting from the wanted size.
bool fit_text(const std::string& font, int wanted, int width, const std::string& text, TextMask& m,
              std::string& error) {
    for (int s = wanted; s >= 6; --s) {
        if (!render_text(font, s, text, m, error)) return false;
        if (m.advance <= width) return true;
    }
    return true;
}

}  // namespace

Image draw_switch(bool on) {
    Canvas c(40, 24);
    const double x0 = 2, y0 = 2, x1 = 38, y1 = 22, r = 10;
    c.paint([&](double x, double y, double& cov) {  // drop shadow
        double d = sd_round_rect(x, y, x0, y0 + 1.3, x1, y1 + 1.3, r);
        cov = 0.55 * (1 - smoothstep(-1.0, 2.2, d));
        return rgb(0, 0, 0);
    });
    c.paint([&](double x, double y, double& cov) {  // outline and track
        double d = sd_round_rect(x, y, x0, y0, x1, y1, r);
        cov = coverage(d);
        double t = -d;
        double v = clamp01((y - y0) / (y1 - y0));
        Color inner;
        if (on) {
            inner = lerp(kViolet, kPink, clamp01((x - x0) / (x1 - x0)));
            inner = lerp(scale(inner, 0.55), inner, smoothstep(0.0, 0.55, v));  // shade under the top lip
        } else {
            inner = lerp(rgb(12, 13, 16), rgb(30, 32, 39), v);
        }
        return profile({{0.0, kOutline}, {1.0, kOutline}, {1.7, inner}}, t);
    });
    if (on) {  // "I" mark on the lit side
        c.paint([&](double x, double y, double& cov) {
            cov = coverage(sd_capsule(x, y, 12.5, 8.5, 12.5, 15.5, 1.1));
            return kWhite;
        });
    } else {  // "O" mark on the dark side
        c.paint([&](double x, double y, double& cov) {
            cov = coverage(std::fabs(sd_circle(x, y, 28, 12, 3.2)) - 0.75);
            return rgb(96, 100, 116);
        });
    }
    const double tx = on ? 28 : 12, ty = 12, tr = 7.6;
    c.paint([&](double x, double y, double& cov) {  // thumb shadow
        double d = sd_circle(x, y, tx, ty + 1.2, tr);
        cov = 0.6 * (1 - smoothstep(-1.0, 2.0, d));
        return rgb(0, 0, 0);
    });
    c.paint([&](double x, double y, double& cov) {  // thumb
        double d = sd_circle(x, y, tx, ty, tr);
        cov = coverage(d);
        double v = clamp01((y - (ty - tr)) / (2 * tr));
        Color body = lerp(rgb(178, 182, 198), rgb(72, 76, 90), v);
        Color face = lerp(rgb(120, 125, 140), rgb(150, 155, 170), v);
        double t = -d;
        return profile({{0.0, rgb(18, 19, 24)}, {0.9, body}, {2.2, body}, {3.2, face}}, t);
    });
    return to_image(c);
}

namespace {

Image push_button(const ArtOptions& opt, const std::string& label, bool down, std::string& error) {
    Canvas c(40, 24);
    const double x0 = 2, y0 = 2, x1 = 38, y1 = 22, r = 4;
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, x0, y0 + (down ? 0.5 : 1.3), x1, y1 + (down ? 0.5 : 1.3), r);
        cov = 0.55 * (1 - smoothstep(-1.0, 2.2, d));
        return rgb(0, 0, 0);
    });
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, x0, y0, x1, y1, r);
        cov = coverage(d);
        double v = clamp01((y - y0) / (y1 - y0));
        double nx, ny;
        round_rect_normal(x, y, x0, y0, x1, y1, r, nx, ny);
        double lit = nx * kLx + ny * kLy;
        Color face =
            down ? lerp(rgb(24, 26, 32), rgb(40, 43, 52), v) : lerp(rgb(70, 74, 88), rgb(42, 45, 54), v);
        Color bevel = brighten(face, (down ? -14 : 24) * lit);
        return profile({{0.0, kOutline}, {1.0, kOutline}, {1.6, bevel}, {2.4, face}}, -d);
    });
    TextMask m;
    if (!fit_text(opt.font_bold, 10, 30, label, m, error)) return Image{};
    int pen = 20 - m.advance / 2, base = down ? 17 : 16;
    if (down) {  // glow behind the lit label
        for (int y = -2; y < m.h + 2; ++y)
            for (int x = -2; x < m.w + 2; ++x) {
                int best = 0;
                for (int j = -2; j <= 2; ++j)
                    for (int i = -2; i <= 2; ++i)
                        best = std::max(best, m.at(x + i, y + j) * (9 - i * i - j * j) / 9);
                if (best) c.over(pen + m.left + x, base + m.top + y, kPink, 0.35 * best / 255.0);
            }
        fill_text(c, m, pen, base, rgb(255, 190, 230), kPink);
    } else {
        fill_text(c, m, pen, base + 1, rgb(0, 0, 0), rgb(0, 0, 0));  // engraved shadow
        fill_text(c, m, pen, base, kLabel, rgb(150, 150, 180));
    }
    return to_image(c);
}

Image tune_frame(int frame, int frames) {
    Canvas c(120, 24);
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, 1, 1, 119, 23, 4);
        cov = coverage(d);
        double nx, ny;
        round_rect_normal(x, y, 1, 1, 119, 23, 4, nx, ny);
        double lit = -(nx * kLx + ny * kLy);
        Color floor = lerp(rgb(10, 11, 14), rgb(22, 24, 30), clamp01((y - 1) / 22));
        return profile({{0.0, brighten(rgb(56, 60, 72), -20 * lit)}, {1.0, rgb(8, 9, 11)}, {2.5, floor}}, -d);
    });
    const double sx0 = 10, sx1 = 110;
    c.paint([&](double x, double y, double& cov) {  // scale ticks
        double best = 1e9;
        for (int i = 0; i <= 20; ++i) {
            double tx = sx0 + i * (sx1 - sx0) / 20;
            double top = i % 5 == 0 ? 12 : 15.5;
            best = std::min(best, sd_capsule(x, y, tx, top, tx, 19, 0.45));
        }
        cov = coverage(best);
        return rgb(112, 116, 134);
    });
    c.paint([&](double x, double y, double& cov) {  // baseline of the scale
        cov = coverage(sd_capsule(x, y, sx0, 19.5, sx1, 19.5, 0.4));
        return rgb(80, 84, 98);
    });
    const double nx = sx0 + (sx1 - sx0) * (frames > 1 ? static_cast<double>(frame) / (frames - 1) : 0.0);
    c.paint([&](double x, double y, double& cov) {
        double d = sd_capsule(x, y, nx, 4.5, nx, 19.5, 0.7);
        double g = clamp01(1 - d / 3.5);
        cov = d > 0 ? 0.45 * g * g : 0;
        return kPink;
    });
    c.paint([&](double x, double y, double& cov) {
        cov = coverage(sd_capsule(x, y, nx, 4.5, nx, 19.5, 0.7));
        return rgb(255, 170, 220);
    });
    c.paint([&](double x, double y, double& cov) {  // glass reflection over the upper half
        double d = sd_round_rect(x, y, 3, 3, 117, 11, 2.5);
        cov = coverage(d) * 0.06 * (1 - clamp01((y - 3) / 8));
        return rgb(255, 255, 255);
    });
    return to_image(c);
}

// Meter faces: segment pixels carry the key colour with the segment number in
// red, so the level meter widget can light them; everything else is bezel.
Image meter_face(int w, int h, bool vertical) {
    Canvas c(w, h);
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, 0, 0, w, h, 4);
        cov = coverage(d);
        double nx, ny;
        round_rect_normal(x, y, 0, 0, w, h, 4, nx, ny);
        double lit = nx * kLx + ny * kLy;
        double t = -d;
        Color floor = rgb(12, 13, 16);
        return profile({{0.0, kOutline},
                        {1.0, brighten(rgb(70, 74, 88), 30 * lit)},
                        {2.5, rgb(48, 52, 62)},
                        {3.2, brighten(rgb(30, 32, 39), -14 * lit)},
                        {4.0, floor}},
                       t);
    });
    std::vector<std::uint8_t> px = c.bgra();
    const std::uint8_t kg = (kMeterKey >> 8) & 0xFF, kb = kMeterKey & 0xFF;
    for (int y = 0; y < h; ++y)  // keep the bezel out of the key colour
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
            if (p[0] == kb && p[1] == kg) p[1] = static_cast<std::uint8_t>(kg + 1);
        }
    auto seg = [&](int sx0, int sy0, int sx1, int sy1, int n) {
        for (int y = sy0; y < sy1; ++y)
            for (int x = sx0; x < sx1; ++x) {
                std::uint8_t* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
                p[0] = kb;
                p[1] = kg;
                p[2] = static_cast<std::uint8_t>(n);
                p[3] = 255;
            }
    };
    if (vertical)
        for (int n = 0; n < 12; ++n) seg(8, 82 - n * 6 - 5, 33, 82 - n * 6, n);
    else
        for (int n = 0; n < 16; ++n) seg(6 + n * 5, 5, 6 + n * 5 + 4, 12, n);
    return Image{w, h, px};
}

// The banner carries the maker's mark and a small display of what the effect
// does; the effect's name is the title text right under it, so it is not
// repeated here.
bool banner(const ArtOptions& opt, Image& out, std::string& error) {
    Canvas c(160, 30);
    const double x0 = 0.5, y0 = 2, x1 = 159.5, y1 = 28, r = 5;
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, x0, y0 + 1.2, x1, y1 + 1.2, r);
        cov = 0.6 * (1 - smoothstep(-1.0, 2.0, d));
        return rgb(0, 0, 0);
    });
    c.paint([&](double x, double y, double& cov) {
        double d = sd_round_rect(x, y, x0, y0, x1, y1, r);
        cov = coverage(d);
        double v = clamp01((y - y0) / (y1 - y0));
        Color face = lerp(rgb(34, 36, 46), rgb(17, 18, 23), v);
        double nx, ny;
        round_rect_normal(x, y, x0, y0, x1, y1, r, nx, ny);
        double lit = nx * kLx + ny * kLy;
        return profile({{0.0, kOutline}, {1.0, kOutline}, {1.5, brighten(face, 34 * lit)}, {2.5, face}}, -d);
    });

    // Wordmark: the maker's name, letter by letter with a little air between.
    const std::string word = "zelo";
    std::vector<TextMask> letters(word.size());
    int width = 0;
    const int tracking = 1;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (!render_text(opt.font_bold, 20, word.substr(i, 1), letters[i], error)) return false;
        width += letters[i].advance + (i + 1 < word.size() ? tracking : 0);
    }
    const double wx0 = 78, wy0 = 7, wx1 = 152, wy1 = 23;  // the display, right of the wordmark
    const int word_x = static_cast<int>((wx0 - width - 5) / 2), base = 21;  // centred left of it, dot included
    int pen = word_x;
    for (const TextMask& m : letters) {
        fill_text(c, m, pen, base + 1, rgb(0, 0, 0), rgb(0, 0, 0));  // engraved shadow
        fill_text(c, m, pen, base, kWhite, rgb(186, 180, 222));
        pen += m.advance + tracking;
    }
    // The dot of the web name, in the accent colour.
    const double dot_x = word_x + width + 3.5, dot_y = base - 2.0;
    c.paint([&](double x, double y, double& cov) {
        cov = coverage(sd_circle(x, y, dot_x, dot_y, 2.0));
        return lerp(kPink, kWhite, 0.15);
    });

    // Display: the effect's response over three decades, flat and then falling
    // 20 dB per decade past the cutoff, which a dot marks.
    c.paint([&](double x, double y, double& cov) {  // well
        double d = sd_round_rect(x, y, wx0, wy0, wx1, wy1, 3);
        cov = coverage(d);
        return profile({{0.0, rgb(6, 7, 10)}, {1.0, rgb(6, 7, 10)}, {1.6, rgb(11, 12, 16)}}, -d);
    });
    c.paint([&](double x, double y, double& cov) {  // lower rim catches the light
        double d = sd_round_rect(x, y, wx0, wy0, wx1, wy1 + 1, 3);
        cov = 0.35 * coverage(std::fabs(d + 0.5) - 0.5) * (y > wy1 - 0.5);
        return rgb(90, 94, 116);
    });
    const double cut_x = wx0 + 2 + 0.45 * (wx1 - wx0 - 4);  // the cutoff, at 0.45 of the width
    const double decade = (wx1 - wx0 - 4) / 3.0;
    auto curve_y = [&](double x) {
        // Gain in decades of 20 dB: a hyperbola with the asymptotes 0 and -z,
        // 0.15 (3 dB) below the corner where they meet.
        double z = (x - cut_x) / decade;
        double g = (z + std::sqrt(z * z + 0.09)) / 2;
        return wy0 + 4.5 + 5.0 * g;  // near the floor at the right edge
    };
    c.paint([&](double x, double y, double& cov) {  // decade lines
        double best = 1e9;
        for (int k = 1; k <= 2; ++k) best = std::min(best, std::fabs(x - (wx0 + 2 + k * decade)));
        cov = 0.55 * coverage(best - 0.5) * (y > wy0 + 1.5 && y < wy1 - 1.5);
        return rgb(34, 37, 48);
    });
    c.paint([&](double x, double y, double& cov) {  // area under the curve
        bool in = x > wx0 + 1.5 && x < wx1 - 1.5 && y < wy1 - 1.5;
        double yc = curve_y(x);
        cov = in ? (0.16 + 0.18 * clamp01((y - yc) / 8)) * coverage(yc - y) : 0;
        return lerp(kViolet, kPink, clamp01((x - wx0) / (wx1 - wx0)));
    });
    c.paint([&](double x, double y, double& cov) {  // the curve
        double best = 1e9;
        double px = wx0 + 2.5, py = curve_y(px);
        for (double sx = wx0 + 3.0; sx <= wx1 - 2.5; sx += 0.5) {
            double sy = std::min(curve_y(sx), wy1 - 2.5);
            best = std::min(best, sd_capsule(x, y, px, py, sx, sy, 0.7));
            px = sx, py = sy;
        }
        cov = coverage(best);
        return lerp(lerp(kViolet, kPink, clamp01((x - wx0) / (wx1 - wx0))), kWhite, 0.45);
    });
    const double cut_y = curve_y(cut_x);
    c.paint([&](double x, double y, double& cov) {  // glow around the cutoff
        double d = sd_circle(x, y, cut_x, cut_y, 0);
        cov = 0.45 * (1 - smoothstep(0.0, 4.5, d));
        return kPink;
    });
    c.paint([&](double x, double y, double& cov) {
        cov = coverage(sd_circle(x, y, cut_x, cut_y, 1.6));
        return lerp(kPink, kWhite, 0.35);
    });
    out = to_image(c);
    return true;
}

bool strip(const std::string& name, const std::vector<Image>& frames, std::vector<Resource>& out,
           std::string& error) {
    Resource r{name, {}};
    if (!encode_qzvf(frames, r.bytes, error)) {
        error = name + ": " + error;
        return false;
    }
    out.push_back(std::move(r));
    return true;
}

}  // namespace

bool make_artwork(const ArtOptions& opt, std::vector<Resource>& out, std::string& error) {
    out.clear();
    auto pic = [&](const std::string& name, const Image& img) {
        out.push_back(Resource{name, encode_qzif(img)});
    };

    Canvas a = outer_frame();
    Canvas g = group_frame();
    const char* rows = "TMB";
    const char* cols = "LMR";
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            if (i == 1 && j == 1) continue;
            std::string suffix{cols[i], rows[j]};
            pic("A" + suffix, cut(a, i * 10, j * 10, 10, 10));
            pic("G" + suffix, cut(g, i * 10, j * 10, 10, 10));
        }
    pic("GMM", group_middle());
    pic("BGND", background());
    pic("I41X89", meter_face(41, 89, true));
    pic("I91X17", meter_face(91, 17, false));
    Image logo;
    if (!banner(opt, logo, error)) return false;
    pic("LOGO", logo);

    std::vector<Image> frames;
    for (int f = 0; f < 265; ++f) frames.push_back(draw_knob(64, f, 265));
    if (!strip("BIG", frames, out, error)) return false;
    frames.clear();
    for (int f = 0; f < 100; ++f) frames.push_back(draw_knob(32, f, 100));
    if (!strip("KNOB", frames, out, error)) return false;
    frames.clear();
    for (int f = 0; f < 100; ++f) frames.push_back(tune_frame(f, 100));
    if (!strip("TUNE", frames, out, error)) return false;
    if (!strip("BUT", {draw_switch(false), draw_switch(true)}, out, error)) return false;
    for (const char* name : {"LOAD", "PEEK", "SAVE"}) {
        Image up = push_button(opt, name, false, error);
        Image down = push_button(opt, name, true, error);
        if (up.px.empty() || down.px.empty()) return false;
        if (!strip(name, {up, down}, out, error)) return false;
    }
    std::sort(out.begin(), out.end(), [](const Resource& x, const Resource& y) { return x.name < y.name; });
    return true;
}

}  // namespace art
