#include "host/cli_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/atomic_file.h"
#include "gui/pic.h"
#include "gui/png.h"
#include "gui/text.h"

namespace {

constexpr int kWidth = 800, kHeight = 500;
constexpr int kLeft = 64, kRight = 24, kTop = 48, kBottom = 56;

struct Colour {
    std::uint8_t r, g, b;
};
const Colour kBackground{250, 250, 247}, kFrame{60, 60, 60}, kGridMajor{200, 200, 200},
    kGridMinor{232, 232, 232}, kReference{70, 110, 200}, kMeasured{220, 90, 20}, kCorner{30, 140, 60},
    kText{30, 30, 30};

class Canvas {
public:
    Canvas() {
        pic_.allocate(kWidth, kHeight);
        pic_.fill({kBackground.b, kBackground.g, kBackground.r, 255});
        cover_.assign(static_cast<std::size_t>(kWidth) * kHeight, 0.0f);
    }
    QZ_Picture& pic() { return pic_; }

    void blend(int x, int y, const Colour& c, float a) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight || a <= 0) return;
        a = std::min(a, 1.0f);
        QZ_Pix_A32& d = pic_.at(x, y);
        auto mix = [a](std::uint8_t dst, std::uint8_t src) {
            return static_cast<std::uint8_t>(std::lround(dst + (src - dst) * a));
        };
        d.r = mix(d.r, c.r);
        d.g = mix(d.g, c.g);
        d.b = mix(d.b, c.b);
    }

    // An anti-aliased polyline of the given width; dashed when dash > 0 (pixels
    // on, then as many off). Coverage is collected first, so joints do not darken.
    void stroke(const std::vector<std::pair<double, double>>& pts, double width, const Colour& c,
                double dash = 0) {
        if (pts.size() < 2) return;
        std::fill(cover_.begin(), cover_.end(), 0.0f);
        const double half = width / 2;
        double along = 0;
        int x0 = kWidth, y0 = kHeight, x1 = 0, y1 = 0;
        for (std::size_t k = 1; k < pts.size(); ++k) {
            const double ax = pts[k - 1].first, ay = pts[k - 1].second, bx = pts[k].first, by = pts[k].second;
            const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy, len = std::sqrt(len2);
            const int lx = std::max(0, static_cast<int>(std::floor(std::min(ax, bx) - half - 1)));
            const int hx = std::min(kWidth - 1, static_cast<int>(std::ceil(std::max(ax, bx) + half + 1)));
            const int ly = std::max(0, static_cast<int>(std::floor(std::min(ay, by) - half - 1)));
            const int hy = std::min(kHeight - 1, static_cast<int>(std::ceil(std::max(ay, by) + half + 1)));
            for (int y = ly; y <= hy; ++y)
                for (int x = lx; x <= hx; ++x) {
                    const double px = x + 0.5 - ax, py = y + 0.5 - ay;
                    double t = len2 > 0 ? (px * dx + py * dy) / len2 : 0;
                    t = std::clamp(t, 0.0, 1.0);
                    if (dash > 0 && std::fmod(along + t * len, 2 * dash) >= dash) continue;
                    const double ex = px - t * dx, ey = py - t * dy;
                    const double d = std::sqrt(ex * ex + ey * ey);
                    const float a = static_cast<float>(std::clamp(half + 0.5 - d, 0.0, 1.0));
                    float& cv = cover_[static_cast<std::size_t>(y) * kWidth + x];
                    cv = std::max(cv, a);
                }
            along += len;
            x0 = std::min(x0, lx);
            x1 = std::max(x1, hx);
            y0 = std::min(y0, ly);
            y1 = std::max(y1, hy);
        }
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) blend(x, y, c, cover_[static_cast<std::size_t>(y) * kWidth + x]);
    }

    void box(int x, int y, int w, int h, const Colour& c) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) blend(i, j, c, 1.0f);
    }

    void disc(double cx, double cy, double radius, const Colour& c) {
        for (int y = static_cast<int>(cy - radius - 1); y <= static_cast<int>(cy + radius + 1); ++y)
            for (int x = static_cast<int>(cx - radius - 1); x <= static_cast<int>(cx + radius + 1); ++x) {
                const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
                blend(x, y, c, static_cast<float>(std::clamp(radius + 0.5 - d, 0.0, 1.0)));
            }
    }

    // One line of text in a box at (x, y); horz < 0 left, 0 centred, > 0 right.
    void text(const std::string& s, int x, int y, int w, int h, int size, const Colour& c, int horz = -1,
              bool bold = false) {
        QZ_Picture glyphs;
        glyphs.allocate(w, h);
        glyphs.fill({0, 0, 0, 0});
        QZ_Font_Desc font;
        font.face = "DejaVu Sans";
        font.size = size;
        font.bold = bold;
        QZ_text_raster().render(glyphs, s, font, 0xFFFFFF, horz);
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) blend(x + i, y + j, c, glyphs.at(i, j).r / 255.0f);
    }

private:
    QZ_Picture pic_;
    std::vector<float> cover_;
};

std::string format_hz(double hz) {
    char buf[32];
    if (hz >= 1000)
        std::snprintf(buf, sizeof buf, hz >= 10000 || std::fmod(hz, 1000) == 0 ? "%.0fk" : "%.1fk", hz / 1000);
    else
        std::snprintf(buf, sizeof buf, "%.0f", hz);
    return buf;
}

}  // namespace

double response_plot_corner(const Response_Plot& plot) {
    for (std::size_t k = 1; k < plot.measured.size(); ++k) {
        const auto& a = plot.measured[k - 1];
        const auto& b = plot.measured[k];
        if (a.db > -3.0 && b.db <= -3.0) return a.hz * std::pow(b.hz / a.hz, (a.db + 3.0) / (a.db - b.db));
    }
    return 0;
}

bool response_plot_write(const Response_Plot& plot, const std::string& path, std::string* error) {
    if (plot.measured.size() < 2) {
        if (error) *error = "too few measured points";
        return false;
    }
    Canvas cv;
    const double f_lo = plot.measured.front().hz, f_hi = plot.measured.back().hz;
    // The gain axis: from +6 dB down to a multiple of 6 below the lowest point, at least -36.
    double lowest = 0;
    for (const auto& p : plot.measured)
        if (std::isfinite(p.db)) lowest = std::min(lowest, p.db);
    const double db_top = 6, db_bottom = std::max(-120.0, std::min(-36.0, 6 * std::floor(lowest / 6 - 0.5)));
    const double pw = kWidth - kLeft - kRight, ph = kHeight - kTop - kBottom;
    auto X = [&](double hz) { return kLeft + pw * std::log(hz / f_lo) / std::log(f_hi / f_lo); };
    auto Y = [&](double db) {
        return kTop + ph * (db_top - std::clamp(db, db_bottom - 1, db_top + 1)) / (db_top - db_bottom);
    };

    // Grid: 1-2-5 per decade (labelled), dB lines every 6 (labelled every 12 when crowded).
    const double step_label = (db_top - db_bottom) > 60 ? 12 : 6;
    for (double db = db_top; db >= db_bottom - 1e-9; db -= 6) {
        const double y = Y(db);
        cv.stroke({{kLeft, y}, {kLeft + pw, y}}, 1, std::fmod(db, 12) == 0 ? kGridMajor : kGridMinor);
        if (std::fmod(db - db_top, step_label) == 0) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%+.0f", db);
            cv.text(db == 0 ? "0" : buf, 4, static_cast<int>(y) - 9, kLeft - 10, 18, 12, kText, 1);
        }
    }
    for (double decade = 10; decade <= f_hi; decade *= 10)
        for (int m = 1; m <= 9; ++m) {
            const double hz = decade * m;
            if (hz < f_lo * 0.999 || hz > f_hi * 1.001) continue;
            const double x = X(hz);
            cv.stroke({{x, double(kTop)}, {x, kTop + ph}}, 1, m == 1 ? kGridMajor : kGridMinor);
            if (m == 1 || m == 2 || m == 5)
                cv.text(format_hz(hz), static_cast<int>(x) - 30, kTop + static_cast<int>(ph) + 6, 60, 18, 12,
                        kText, 0);
        }
    cv.text("frequency (Hz)", kLeft, kHeight - 26, static_cast<int>(pw), 20, 13, kText, 0);
    cv.text("dB", 4, kTop - 22, kLeft - 10, 18, 12, kText, 1);

    // The -3 dB level.
    cv.stroke({{kLeft, Y(-3)}, {kLeft + pw, Y(-3)}}, 1, kCorner, 4);

    // The reference: |H| = 1 / sqrt(1 + (f / fc)^2).
    if (plot.cutoff > 0) {
        std::vector<std::pair<double, double>> ref;
        for (int k = 0; k <= 400; ++k) {
            const double hz = f_lo * std::pow(f_hi / f_lo, k / 400.0);
            const double r = hz / plot.cutoff;
            ref.push_back({X(hz), Y(-10 * std::log10(1 + r * r))});
        }
        cv.stroke(ref, 2, kReference, 6);
    }
    std::vector<std::pair<double, double>> meas;
    for (const auto& p : plot.measured) meas.push_back({X(p.hz), Y(std::isfinite(p.db) ? p.db : db_bottom)});
    cv.stroke(meas, 2.5, kMeasured);

    const double corner = response_plot_corner(plot);
    char buf[96];
    if (corner > 0) {
        cv.stroke({{X(corner), Y(-3) - 14}, {X(corner), kTop + ph}}, 1, kCorner);
        cv.disc(X(corner), Y(-3), 5, kCorner);
        std::snprintf(buf, sizeof buf, "-3 dB at %.0f Hz", corner);
        const bool right = X(corner) < kLeft + pw - 160;
        const int tx = right ? static_cast<int>(X(corner)) + 10 : static_cast<int>(X(corner)) - 170;
        cv.box(right ? tx - 2 : tx + 160 - 132, static_cast<int>(Y(-3)) + 6, 134, 18, kBackground);
        cv.text(buf, right ? static_cast<int>(X(corner)) + 10 : static_cast<int>(X(corner)) - 170,
                static_cast<int>(Y(-3)) + 6, 160, 18, 13, kCorner, right ? -1 : 1, true);
    }

    // Frame, title and legend.
    cv.stroke({{kLeft, double(kTop)}, {kLeft + pw, double(kTop)}, {kLeft + pw, kTop + ph}, {kLeft, kTop + ph},
               {kLeft, double(kTop)}},
              1, kFrame);
    std::snprintf(buf, sizeof buf, "%s: gain at %.0f Hz", plot.title.empty() ? "effect" : plot.title.c_str(),
                  plot.rate);
    cv.text(buf, kLeft, 8, static_cast<int>(pw), 22, 15, kText, -1, true);
    const int lx = kLeft + static_cast<int>(pw) - 300, ly = kTop + static_cast<int>(ph) - 52;
    cv.stroke({{double(lx), ly + 10.0}, {lx + 30.0, ly + 10.0}}, 2.5, kMeasured);
    cv.text("measured", lx + 38, ly + 1, 260, 18, 12, kText);
    if (plot.cutoff > 0) {
        cv.stroke({{double(lx), ly + 32.0}, {lx + 30.0, ly + 32.0}}, 2, kReference, 6);
        std::snprintf(buf, sizeof buf, "analogue first order, fc = %.0f Hz", plot.cutoff);
        cv.text(buf, lx + 38, ly + 23, 260, 18, 12, kText);
    }

    // Into a temporary beside the file, put in its place when complete.
    QZ_Atomic_File file(path);
    if (!file.ok()) {
        if (error) *error = file.error();
        return false;
    }
    if (!QZ_png_write(file.path().c_str(), cv.pic())) {
        if (error) *error = "the PNG file could not be written";
        return false;
    }
    if (!file.commit()) {
        if (error) *error = file.error();
        return false;
    }
    return true;
}
