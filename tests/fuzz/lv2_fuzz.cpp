// The LV2 plug-in through its descriptor, as a host drives it: instantiation
// at any sample rate, ports connected, moved and disconnected (outputs on the
// input's buffer too, which the plug-in allows), control ports holding any
// float (NaN, infinities, far outside their ranges, changing between blocks),
// blocks of any length over samples that include NaN, infinities and
// denormals, deactivation and activation between blocks (in the order hosts
// must keep: run only while active).
//
// Checked on every block: both outputs finite and within -1..1 (the effect
// clips its input and its fixed-point output cannot leave that range), no
// sample written past the block, and a second instance given the same calls
// giving the same samples (nothing depends on memory left uninitialised or
// shared between instances).
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "plugin/lv2_ports.h"

extern "C" const LV2_Descriptor* lv2_descriptor(std::uint32_t index);

namespace {

struct Input {
    const std::uint8_t* p;
    std::size_t n;
    std::size_t k = 0;
    bool done() const { return k >= n; }
    std::uint8_t byte() { return k < n ? p[k++] : 0; }
    float raw_float() {
        std::uint32_t b = 0;
        for (int i = 0; i < 4; ++i) b = (b << 8) | byte();
        float f;
        std::memcpy(&f, &b, sizeof f);
        return f;
    }
    template <class T, std::size_t N>
    const T& pick(const T (&a)[N]) {
        return a[byte() % N];
    }
};

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
const double kRates[] = {44100.0,
                         48000.0,
                         96000.0,
                         8000.0,
                         1.0,
                         22.5,
                         192000.0,
                         1e7,
                         0.0,
                         -44100.0,
                         0.5,
                         std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()};
const float kControls[] = {0.0f,     1.0f,     0.5f,   -1.0f, 2.0f,   20.0f,   19.99f,  20000.0f, 20000.5f,
                           129.63f,  1000.0f,  1e-45f, -0.0f, 1e30f,  -1e30f,  kNaN,    kInf,     -kInf,
                           22050.0f, 96000.0f, 1e-30f, 7.0f,  -20.0f, 0.9999f, 1.0001f, 3.4e38f};
const float kSamples[] = {0.0f, 1.0f,  -1.0f,  0.5f,    -0.25f,  1.5f,     -1.5f,     kNaN,
                          kInf, -kInf, 1e-45f, -1e-45f, 3.4e38f, -3.4e38f, 0.999999f, -0.999999f};

constexpr std::uint32_t kMaxFrames = 2048;
constexpr std::uint32_t kGuard = 16;
constexpr float kSentinel = 12345.0f;  // never a sample the plug-in writes

// One instance with the buffers its ports point at.
struct Plugin {
    const LV2_Descriptor* d = nullptr;
    LV2_Handle h = nullptr;
    float in[kMaxFrames + kGuard];
    float left[kMaxFrames + kGuard];
    float right[kMaxFrames + kGuard];
    float state = 1.0f, frequency = 129.63f;
    float* out_l = nullptr;  // where the outputs are connected (left may be the input)
    float* out_r = nullptr;
    bool active = false;

    ~Plugin() {
        if (!h) return;
        if (active) d->deactivate(h);
        d->cleanup(h);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const LV2_Descriptor* d = lv2_descriptor(0);
    if (!d || lv2_descriptor(1) != nullptr || std::strcmp(d->URI, ZELO_LV2_URI) != 0) std::abort();
    Input in{data, size};
    const double rate = in.pick(kRates);
    Plugin a, b;
    a.d = b.d = d;
    a.h = d->instantiate(d, rate, "/nonexistent/zelo.lv2/", nullptr);
    b.h = d->instantiate(d, rate, "/nonexistent/zelo.lv2/", nullptr);
    // Rates below one sample a second (NaN too) are refused; any other is taken.
    if (!(rate >= 1.0)) {
        if (a.h || b.h) std::abort();
        return 0;
    }
    if (!a.h || !b.h) std::abort();

    // Both instances get the same calls; the buffers of each are its own.
    auto connect = [&](std::uint32_t port, int where) {
        for (Plugin* p : {&a, &b}) {
            void* ptr = nullptr;
            switch (where) {
                case 0: ptr = nullptr; break;
                case 1:
                    ptr = port == QZ_LV2_STATE ? &p->state : port == QZ_LV2_FREQUENCY ? &p->frequency : p->in;
                    break;
                case 2: ptr = p->left; break;
                case 3: ptr = p->right; break;
                default: ptr = p->in; break;  // in place
            }
            if (port == QZ_LV2_OUT_LEFT) p->out_l = static_cast<float*>(ptr);
            if (port == QZ_LV2_OUT_RIGHT) p->out_r = static_cast<float*>(ptr);
            d->connect_port(p->h, port, ptr);
        }
    };
    connect(QZ_LV2_IN, 1);
    connect(QZ_LV2_OUT_LEFT, 2);
    connect(QZ_LV2_OUT_RIGHT, 3);
    connect(QZ_LV2_STATE, 1);
    connect(QZ_LV2_FREQUENCY, 1);
    for (Plugin* p : {&a, &b}) {
        d->activate(p->h);
        p->active = true;
    }

    int steps = 0;
    while (!in.done() && steps++ < 64) {
        switch (in.byte() % 6) {
            case 0: {  // a port connected elsewhere, disconnected, or a port the plug-in does not have
                const std::uint8_t c = in.byte();
                const std::uint32_t port = (c & 0x80) ? QZ_LV2_PORTS + (c & 7) : (c & 7) % QZ_LV2_PORTS;
                connect(port, (c >> 3) % 5);
                break;
            }
            case 1:
            case 2: {  // control values
                const std::uint8_t c = in.byte();
                const float v = (c & 0x80) ? in.raw_float() : in.pick(kControls);
                for (Plugin* p : {&a, &b}) ((c & 1) ? p->frequency : p->state) = v;
                break;
            }
            case 3:  // deactivated, or activated again (which starts from silence)
                for (Plugin* p : {&a, &b}) {
                    (p->active ? d->deactivate : d->activate)(p->h);
                    p->active = !p->active;
                }
                break;
            default: {  // a block
                const std::uint8_t c = in.byte();
                std::uint32_t frames =
                    (c & 0x80) ? (static_cast<std::uint32_t>(in.byte()) << 3 | (c & 7)) : c & 63;
                if (frames > kMaxFrames) frames = kMaxFrames;
                const int kind = (c >> 3) & 3;
                for (std::uint32_t i = 0; i < frames + kGuard; ++i) {
                    float x = 0.0f;
                    if (i < frames) {
                        if (kind == 0)
                            x = kSamples[(i * 7 + c) % (sizeof kSamples / sizeof kSamples[0])];
                        else if (kind == 1)
                            x = in.done() ? 0.0f : in.raw_float();
                        else if (kind == 2)
                            x = static_cast<float>(std::sin(i * 0.05)) * 1.25f;
                    }
                    for (Plugin* p : {&a, &b}) {
                        p->in[i] = i < frames ? x : kSentinel;
                        p->left[i] = p->right[i] = kSentinel;
                    }
                }
                if (!a.active) break;
                for (Plugin* p : {&a, &b}) d->run(p->h, frames);
                // Samples past the block stay untouched, whatever the ports point at.
                for (Plugin* p : {&a, &b})
                    for (std::uint32_t i = frames; i < frames + kGuard; ++i)
                        if (p->in[i] != kSentinel || p->left[i] != kSentinel || p->right[i] != kSentinel)
                            std::abort();
                // With both outputs connected, every sample of the block is written,
                // finite, within -1..1, and the same in both instances.
                if (a.out_l && a.out_r)
                    for (std::uint32_t i = 0; i < frames; ++i)
                        for (int o = 0; o < 2; ++o) {
                            const float ya = (o ? a.out_r : a.out_l)[i], yb = (o ? b.out_r : b.out_l)[i];
                            if (!std::isfinite(ya) || std::fabs(ya) > 1.0f) {
                                std::fprintf(stderr, "out %d[%u] = %g (in %g)\n", o, i, ya, a.in[i]);
                                std::abort();
                            }
                            if (std::memcmp(&ya, &yb, sizeof ya) != 0) std::abort();
                        }
                break;
            }
        }
    }
    return 0;
}
