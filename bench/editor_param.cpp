// setParameter through the VST interface with the editor closed and open (on
// an Xvfb display of its own), timed call by call in the same run: the mean,
// the 99th percentile and the worst, and the open/closed ratio of the means.
// Rounds alternate closed and open; the medians over the rounds are reported.
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "host/vsthost/vsthost.h"
#include "plugin/main_vst.h"
#include "tests/gui/xvfb.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

namespace {

[[maybe_unused]] volatile auto g_keep = &VSTPluginMain;

using Clock = std::chrono::steady_clock;

struct Figures {
    double mean = 0, p99 = 0, worst = 0;  // microseconds
};

// `calls` calls alternating two values of the cutoff, as automation does, a
// little apart (a host sets a parameter once per block or so).
Figures measure(zelo::vsthost::Plugin& p, int calls) {
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        const float v = 0.3f + 0.4f * static_cast<float>(i % 7) / 7.0f;
        const auto t0 = Clock::now();
        p.set_parameter(1, v);
        const auto t1 = Clock::now();
        us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        if (i % 16 == 15) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    Figures f;
    for (double x : us) f.mean += x;
    f.mean /= static_cast<double>(us.size());
    std::sort(us.begin(), us.end());
    f.p99 = us[us.size() * 99 / 100];
    f.worst = us.back();
    return f;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int calls = argc > 2 ? std::atoi(argv[2]) : 3000;
    auto& x = gui_test::Xvfb_Server::get();
    if (!x.running()) {
        std::fprintf(stderr, "no X server (Xvfb) to open the editor on\n");
        return 1;
    }
    setenv("DISPLAY", x.name().c_str(), 1);
    setenv("ZELO_VST_TRACE", "0", 1);
    Display* dpy = nullptr;
    for (int i = 0; i < 50 && !dpy; ++i) {
        dpy = XOpenDisplay(x.name().c_str());
        if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    auto self = zelo::vsthost::Module::self();
    auto plugin = self ? zelo::vsthost::Plugin::create(*self) : nullptr;
    if (!dpy || !plugin) {
        std::fprintf(stderr, "no display or no effect\n");
        return 1;
    }
    plugin->start(48000.0f, 64);
    const Window parent = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 300, 300, 0, 0, 0);
    XMapWindow(dpy, parent);
    XSync(dpy, False);

    std::vector<double> closed_mean, closed_p99, open_mean, open_p99, open_worst, ratio;
    std::printf("%-6s %-7s %10s %10s %10s\n", "round", "editor", "mean us", "p99 us", "worst us");
    for (int r = 0; r < rounds; ++r) {
        const Figures c = measure(*plugin, calls);
        plugin->dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(parent));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the first paint is over
        const Figures o = measure(*plugin, calls);
        plugin->dispatch(effEditClose);
        std::printf("%-6d %-7s %10.2f %10.2f %10.2f\n", r, "closed", c.mean, c.p99, c.worst);
        std::printf("%-6d %-7s %10.2f %10.2f %10.2f\n", r, "open", o.mean, o.p99, o.worst);
        closed_mean.push_back(c.mean);
        closed_p99.push_back(c.p99);
        open_mean.push_back(o.mean);
        open_p99.push_back(o.p99);
        open_worst.push_back(o.worst);
        ratio.push_back(o.mean / c.mean);
    }
    const double cm = median(closed_mean), om = median(open_mean), op99 = median(open_p99);
    std::printf("\nmedians over %d rounds of %d calls (release figures are the ones that count):\n", rounds, calls);
    std::printf("  closed: mean %.2f us, p99 %.2f us\n", cm, median(closed_p99));
    std::printf("  open:   mean %.2f us, p99 %.2f us, worst %.2f us\n", om, op99, median(open_worst));
    std::printf("  open / closed mean = %.3f (median of the rounds' ratios)\n", median(ratio));
    const bool mean_ok = om <= 3.0 * cm + 2.0, p99_ok = op99 <= 50.0;
    std::printf("  open mean <= 3 x closed mean + 2 us: %s\n", mean_ok ? "met" : "MISSED");
    std::printf("  open p99 <= 50 us: %s\n", p99_ok ? "met" : "MISSED");
    plugin->close();
    XDestroyWindow(dpy, parent);
    XCloseDisplay(dpy);
    return 0;
}
