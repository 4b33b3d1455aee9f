// Small deterministic raster kit for the artwork generator.
// Everything here uses only +, -, *, / and sqrt on doubles, so the output does
// not depend on the optimisation level or on the C library's transcendental
// functions: the committed resources must be reproducible bit for bit.
#pragma once

#include <cstdint>
#include <vector>

namespace art {

constexpr double kPi = 3.14159265358979323846;

double clamp01(double v);
double mix(double a, double b, double t);
double smoothstep(double e0, double e1, double x);
double dsin(double x);
double dcos(double x);
// Angle of (y, x) in (-pi, pi], like atan2.
double datan2(double y, double x);
// Coverage of a pixel by a shape whose signed distance (pixels) at the pixel
// centre is d: a one-pixel linear ramp, which is the analytic box-filter
// coverage of a straight edge.
double coverage(double d);

// Straight (not premultiplied) colour with components in 0..1.
struct Color {
    double r = 0, g = 0, b = 0, a = 1;
};
Color rgb(int r, int g, int b, double a = 1.0);
Color lerp(const Color& x, const Color& y, double t);
Color scale(const Color& c, double f);  // colour channels only

// Signed distances, negative inside.
double sd_circle(double px, double py, double cx, double cy, double r);
double sd_round_rect(double px, double py, double x0, double y0, double x1, double y1, double r);
// Capsule around the segment a-b with half width hw.
double sd_capsule(double px, double py, double ax, double ay, double bx, double by, double hw);
// Outward unit normal of the rounded rectangle at the point (gradient of its distance).
void round_rect_normal(double px, double py, double x0, double y0, double x1, double y1, double r, double& nx,
                       double& ny);

// Integer hash used for noise; fixed so that textures never change by accident.
std::uint32_t hash3(std::uint32_t a, std::uint32_t b, std::uint32_t c);
// Smooth value noise in 0..1 on a lattice of cw x ch pixel cells that repeats
// every nx x ny cells, so a picture of nx*cw by ny*ch pixels tiles seamlessly.
double tile_noise(double x, double y, int cw, int ch, int nx, int ny, std::uint32_t seed);

// Premultiplied RGBA canvas in doubles; converted to 8-bit straight BGRA at the end.
class Canvas {
public:
    Canvas(int w, int h);
    int width() const { return w_; }
    int height() const { return h_; }
    // Porter-Duff "over" with the colour's alpha scaled by the coverage.
    void over(int x, int y, const Color& c, double cov);
    // Fill every pixel with the colour produced by f(px, py) (pixel centre),
    // weighted by the coverage returned through cov.
    template <class F>
    void paint(F&& f) {
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x) {
                double cov = 0;
                Color c = f(x + 0.5, y + 0.5, cov);
                if (cov > 0) over(x, y, c, cov);
            }
    }
    Color at(int x, int y) const;  // straight colour
    // 8-bit BGRA, straight alpha, rounded; fully transparent pixels become 0.
    std::vector<std::uint8_t> bgra() const;

private:
    int w_, h_;
    std::vector<double> p_;  // r, g, b, a premultiplied
};

}  // namespace art
