#include "art/raster.h"

#include <cmath>

namespace art {

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
double mix(double a, double b, double t) { return a + (b - a) * t; }
double smoothstep(double e0, double e1, double x) {
    double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}

double dsin(double x) {
    const double two_pi = 2 * kPi;
    double k = std::floor(x / two_pi + 0.5);
    double r = x - k * two_pi;  // now in [-pi, pi]
    if (r > kPi / 2) r = kPi - r;
    if (r < -kPi / 2) r = -kPi - r;
    // Taylor series to x^17: error below 1e-11 on [-pi/2, pi/2].
    double r2 = r * r;
    double s = 1.0 / 355687428096000.0;  // 1/17!
    s = 1.0 / 1307674368000.0 - r2 * s;  // 1/15!
    s = 1.0 / 6227020800.0 - r2 * s;     // 1/13!
    s = 1.0 / 39916800.0 - r2 * s;       // 1/11!
    s = 1.0 / 362880.0 - r2 * s;         // 1/9!
    s = 1.0 / 5040.0 - r2 * s;           // 1/7!
    s = 1.0 / 120.0 - r2 * s;            // 1/5!
    s = 1.0 / 6.0 - r2 * s;              // 1/3!
    s = 1.0 - r2 * s;
    return r * s;
}

double dcos(double x) { return dsin(x + kPi / 2); }

static double atan_unit(double z) {  // 0 <= z <= 1
    // Two argument halvings bring z below tan(pi/16), where the series converges fast.
    z = z / (1 + std::sqrt(1 + z * z));
    z = z / (1 + std::sqrt(1 + z * z));
    double z2 = z * z;
    double s = 0;
    for (int n = 21; n >= 1; n -= 2) s = 1.0 / n - z2 * s;
    return 4 * z * s;
}

double datan2(double y, double x) {
    double ax = std::fabs(x), ay = std::fabs(y);
    if (ax == 0 && ay == 0) return 0;
    double a = ay <= ax ? atan_unit(ay / ax) : kPi / 2 - atan_unit(ax / ay);
    if (x < 0) a = kPi - a;
    return y < 0 ? -a : a;
}

double coverage(double d) { return clamp01(0.5 - d); }

Color rgb(int r, int g, int b, double a) { return Color{r / 255.0, g / 255.0, b / 255.0, a}; }
Color lerp(const Color& x, const Color& y, double t) {
    return Color{mix(x.r, y.r, t), mix(x.g, y.g, t), mix(x.b, y.b, t), mix(x.a, y.a, t)};
}
Color scale(const Color& c, double f) { return Color{c.r * f, c.g * f, c.b * f, c.a}; }

double sd_circle(double px, double py, double cx, double cy, double r) {
    double dx = px - cx, dy = py - cy;
    return std::sqrt(dx * dx + dy * dy) - r;
}

double sd_round_rect(double px, double py, double x0, double y0, double x1, double y1, double r) {
    double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    double qx = std::fabs(px - cx) - ((x1 - x0) / 2 - r);
    double qy = std::fabs(py - cy) - ((y1 - y0) / 2 - r);
    double mx = qx > 0 ? qx : 0, my = qy > 0 ? qy : 0;
    double outside = std::sqrt(mx * mx + my * my);
    double inside = qx > qy ? qx : qy;
    if (inside > 0) inside = 0;
    return outside + inside - r;
}

void round_rect_normal(double px, double py, double x0, double y0, double x1, double y1, double r, double& nx,
                       double& ny) {
    double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    double sx = px < cx ? -1 : 1, sy = py < cy ? -1 : 1;
    double qx = std::fabs(px - cx) - ((x1 - x0) / 2 - r);
    double qy = std::fabs(py - cy) - ((y1 - y0) / 2 - r);
    if (qx > 0 && qy > 0) {
        double l = std::sqrt(qx * qx + qy * qy);
        nx = sx * qx / l;
        ny = sy * qy / l;
    } else if (qx > qy) {
        nx = sx;
        ny = 0;
    } else {
        nx = 0;
        ny = sy;
    }
}

double sd_capsule(double px, double py, double ax, double ay, double bx, double by, double hw) {
    double pax = px - ax, pay = py - ay, bax = bx - ax, bay = by - ay;
    double len2 = bax * bax + bay * bay;
    double h = len2 > 0 ? clamp01((pax * bax + pay * bay) / len2) : 0;
    double dx = pax - bax * h, dy = pay - bay * h;
    return std::sqrt(dx * dx + dy * dy) - hw;
}

std::uint32_t hash3(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    std::uint32_t h = 0x9E3779B9u ^ a;
    h = (h ^ (h >> 16)) * 0x85EBCA6Bu;
    h ^= b + 0x632BE5ABu + (h << 6) + (h >> 2);
    h = (h ^ (h >> 13)) * 0xC2B2AE35u;
    h ^= c + 0x7F4A7C15u + (h << 6) + (h >> 2);
    h = (h ^ (h >> 16)) * 0x85EBCA6Bu;
    return h ^ (h >> 15);
}

static double lattice(int i, int j, int nx, int ny, std::uint32_t seed) {
    i = ((i % nx) + nx) % nx;
    j = ((j % ny) + ny) % ny;
    return (hash3(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j), seed) >> 8) / 16777215.0;
}

double tile_noise(double x, double y, int cw, int ch, int nx, int ny, std::uint32_t seed) {
    double fx = x / cw, fy = y / ch;
    double ix = std::floor(fx), iy = std::floor(fy);
    double tx = fx - ix, ty = fy - iy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    int i = static_cast<int>(ix), j = static_cast<int>(iy);
    double a = lattice(i, j, nx, ny, seed), b = lattice(i + 1, j, nx, ny, seed);
    double c = lattice(i, j + 1, nx, ny, seed), d = lattice(i + 1, j + 1, nx, ny, seed);
    return mix(mix(a, b, tx), mix(c, d, tx), ty);
}

Canvas::Canvas(int w, int h) : w_(w), h_(h), p_(static_cast<std::size_t>(w) * h * 4, 0.0) {}

void Canvas::over(int x, int y, const Color& c, double cov) {
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
    double a = clamp01(c.a * clamp01(cov));
    if (a <= 0) return;
    double* p = &p_[(static_cast<std::size_t>(y) * w_ + x) * 4];
    double k = 1 - a;
    p[0] = clamp01(c.r) * a + p[0] * k;
    p[1] = clamp01(c.g) * a + p[1] * k;
    p[2] = clamp01(c.b) * a + p[2] * k;
    p[3] = a + p[3] * k;
}

Color Canvas::at(int x, int y) const {
    const double* p = &p_[(static_cast<std::size_t>(y) * w_ + x) * 4];
    if (p[3] <= 0) return Color{0, 0, 0, 0};
    return Color{p[0] / p[3], p[1] / p[3], p[2] / p[3], p[3]};
}

static std::uint8_t to_byte(double v) {
    double s = std::floor(clamp01(v) * 255.0 + 0.5);
    return static_cast<std::uint8_t>(s);
}

std::vector<std::uint8_t> Canvas::bgra() const {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w_) * h_ * 4, 0);
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) {
            Color c = at(x, y);
            std::uint8_t a = to_byte(c.a);
            if (a == 0) continue;
            std::uint8_t* o = &out[(static_cast<std::size_t>(y) * w_ + x) * 4];
            o[0] = to_byte(c.b);
            o[1] = to_byte(c.g);
            o[2] = to_byte(c.r);
            o[3] = a;
        }
    return out;
}

}  // namespace art
