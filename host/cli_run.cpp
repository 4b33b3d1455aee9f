// `zelo run`: live processing on a sound driver without a window, through the
// same host logic as the window: the driver and mode chosen by the options,
// K instances on the inputs in turn, mixed to the first two outputs.
#include <algorithm>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "host/console.h"
#include "host/host_front.h"
#include "host/sound_file.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

namespace {

// Whether the first n characters of a and b agree, letters in any case (driver
// names are ASCII).
bool same_nocase(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
        if (x == 0) return true;
    }
    return true;
}

bool parse_number(const std::string& s, double lo, double hi, double& out) {
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !std::isfinite(d) || d < lo || d > hi) return false;
    out = d;
    return true;
}

std::string db_text(float peak) {
    char buf[16];
    if (peak <= 1e-6f)
        std::snprintf(buf, sizeof buf, "  -inf");
    else
        std::snprintf(buf, sizeof buf, "%6.1f", 20 * std::log10(peak));
    return buf;
}

// A bar of 30 cells from -60 dBFS to 0 dBFS.
std::string meter(float peak) {
    const double db = peak > 1e-6f ? 20 * std::log10(peak) : -120;
    const int cells = static_cast<int>(std::lround(std::clamp((db + 60) / 60, 0.0, 1.0) * 30));
    return std::string(static_cast<std::size_t>(cells), '#') + std::string(static_cast<std::size_t>(30 - cells), '.');
}

int drivers_failed(const char* why) {
    std::fprintf(stderr, "zelo: %s\n", why);
    return 1;
}

// Failures the host reports go to standard error with the operation's name;
// the run notices them and ends with a non-zero status.
int g_reported = 0;
void report(int, const char* proc, const char* text) {
    ++g_reported;
    std::fprintf(stderr, "zelo: %s: %s\n", proc, text);
}

}  // namespace

int zelo_run_main(const std::vector<std::string>& args) {
    std::string driver_name;
    double mode = 0, instances = 1, seconds = 10;
    bool list = false;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        auto value = [&](double lo, double hi, double& out) {
            if (k + 1 >= args.size() || !parse_number(args[k + 1], lo, hi, out)) {
                std::fprintf(stderr, "zelo: %s wants a number from %g to %g\n", a.c_str(), lo, hi);
                return false;
            }
            ++k;
            return true;
        };
        if (a == "--driver" && k + 1 < args.size()) {
            driver_name = args[++k];
        } else if (a == "--mode") {
            if (!value(0, QZ_Host::kMaxModes - 1, mode) || mode != std::floor(mode)) return 2;
        } else if (a == "--instances") {
            if (!value(1, QZ_Host::kMaxInstances, instances) || instances != std::floor(instances)) return 2;
        } else if (a == "--seconds") {
            if (!value(0, 86400, seconds)) return 2;
        } else if (a == "--list") {
            list = true;
        } else {
            std::fprintf(stderr, "zelo: unexpected argument '%s'\n", a.c_str());
            return 2;
        }
    }
    if (driver_name.empty() && !list) {
        std::fprintf(stderr, "usage: zelo run --driver NAME [--mode N] [--instances K] [--seconds S] | --list\n");
        return 2;
    }
    QZ_setenv_default("ZELO_VST_TRACE", "0");

    QZ_Host host(&VSTPluginMain);
    host.report_fn = &report;
    // Driver 0 is not started on its own here: the one asked for is.
    host.start(zelo_driver_classes(), false);
    if (host.driver_count() == 0) {
        host.shutdown();
        return drivers_failed("No audio drivers found");
    }
    if (list) {
        for (int i = 0; i < host.driver_count(); ++i) std::printf("%s\n", host.driver(i)->name);
        host.shutdown();
        return 0;
    }
    // The driver: an exact name, else the one name it begins, in any case.
    int chosen = -1, matches = 0;
    for (int i = 0; i < host.driver_count(); ++i)
        if (same_nocase(host.driver(i)->name, driver_name.c_str(), driver_name.size() + 1)) chosen = i;
    if (chosen < 0)
        for (int i = 0; i < host.driver_count(); ++i)
            if (same_nocase(host.driver(i)->name, driver_name.c_str(), driver_name.size())) {
                chosen = i;
                ++matches;
            }
    if (chosen < 0 || matches > 1) {
        std::fprintf(stderr, "zelo: %s driver '%s'; the drivers are:", matches > 1 ? "more than one" : "no",
                     driver_name.c_str());
        for (int i = 0; i < host.driver_count(); ++i) std::fprintf(stderr, " \"%s\"", host.driver(i)->name);
        std::fprintf(stderr, "\n");
        host.shutdown();
        return 1;
    }
    host.command(QZ_Host::CMD_DRIVER + chosen);
    if (g_reported || host.current_driver() != chosen) {
        host.shutdown();
        return drivers_failed("the driver cannot start");
    }
    const int m = static_cast<int>(mode);
    if (host.mode_count() == 0) {
        std::fprintf(stderr, "zelo: the driver \"%s\" cannot start: it offers no mode (no sound device?)\n",
                     host.driver(chosen)->name);
        host.shutdown();
        return 1;
    }
    if (m >= host.mode_count()) {
        std::fprintf(stderr, "zelo: the driver has %d mode(s); --mode takes 0..%d\n", host.mode_count(),
                     host.mode_count() - 1);
        host.shutdown();
        return 1;
    }
    if (m != host.current_mode()) host.command(QZ_Host::CMD_MODE + m);
    if (g_reported || host.current_mode() != m) {
        host.shutdown();
        return drivers_failed("the driver cannot start in this mode");
    }
    for (int k = 0; k < static_cast<int>(instances); ++k) host.command(QZ_Host::CMD_ADD);
    // Instances beyond the inputs take them again in turn.
    for (int k = 0; k < host.instance_count() && host.input_count() > 0; ++k)
        if (host.instance(k).input < 0) {
            host.command(QZ_Host::CMD_INSTANCE + k);
            host.command(QZ_Host::CMD_INPUT + k % host.input_count());
        }
    std::printf("driver \"%s\", mode %d (%s), %d instance(s):\n", host.driver(chosen)->name, m,
                host.menu(QZ_Host::MENU_MODE).items[static_cast<std::size_t>(m)].text.c_str(), host.instance_count());
    for (int k = 0; k < host.instance_count(); ++k) std::printf("  %s\n", host.instance(k).text);
    std::fflush(stdout);

    zelo_keep_memory_resident();
    zelo_catch_stop_requests();
    const bool terminal = zelo_stdout_is_terminal();
    const auto start = std::chrono::steady_clock::now();
    float max_l = 0, max_r = 0;
    const char* lost = nullptr;
    while (!zelo_stop_requested()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // The driver's server or device went away: nothing more will play.
        if ((lost = host.driver_lost()) != nullptr) break;
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        float l = 0, r = 0;
        host.take_peaks(&l, &r);
        max_l = std::max(max_l, l);
        max_r = std::max(max_r, r);
        if (terminal) {
            std::printf("\r%6.1f s  L %s %s dB  R %s %s dB  blocks %llu", t, meter(l).c_str(), db_text(l).c_str(),
                        meter(r).c_str(), db_text(r).c_str(), static_cast<unsigned long long>(host.blocks_run()));
            std::fflush(stdout);
        }
        if (seconds > 0 && t >= seconds) break;
    }
    if (terminal) std::printf("\n");
    std::string lost_reason = lost ? lost : "";
    const std::uint64_t run = host.blocks_run(), skipped = host.blocks_skipped();
    const int frames = host.block_frames();
    host.shutdown();
    std::printf("ran %llu block(s) of %d frames (%llu skipped); peak L %s dBFS, R %s dBFS\n",
                static_cast<unsigned long long>(run), frames, static_cast<unsigned long long>(skipped),
                db_text(max_l).c_str(), db_text(max_r).c_str());
    if (lost) {
        std::fprintf(stderr, "zelo: %s\n", lost_reason.empty() ? "the driver stopped" : lost_reason.c_str());
        return 1;
    }
    return 0;
}
