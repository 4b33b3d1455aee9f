#include "host/cli_render.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/cli_preset.h"
#include "host/vsthost/vsthost.h"

using zelo::vsthost::Module;
using zelo::vsthost::Plugin;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Setting {
    std::string name;
    float value;
};

struct Options {
    std::string input, output, plugin;
    std::string preset, save_preset;  // --preset, --save-preset
    std::vector<Setting> settings;
    float rate = 44100.0f;
    int block = 512;
    bool ok = true;
};

bool parse_float(const std::string& s, float& out) {
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0' || !std::isfinite(d)) return false;
    out = static_cast<float>(d);
    return true;
}

Options parse(const std::vector<std::string>& args, bool allow_files) {
    Options o;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        auto next = [&](std::string& dst) {
            if (k + 1 >= args.size()) {
                std::fprintf(stderr, "zelo: %s needs a value\n", a.c_str());
                o.ok = false;
                return false;
            }
            dst = args[++k];
            return true;
        };
        std::string v;
        if (a == "--plugin") {
            next(o.plugin);
        } else if (a == "--preset") {
            next(o.preset);
        } else if (a == "--save-preset") {
            next(o.save_preset);
        } else if (a == "-o" && allow_files) {
            next(o.output);
        } else if (a == "--set") {
            if (!next(v)) break;
            std::size_t eq = v.find('=');
            Setting s;
            if (eq == std::string::npos || !parse_float(v.substr(eq + 1), s.value) || s.value < 0.0f ||
                s.value > 1.0f) {
                std::fprintf(stderr, "zelo: --set wants NAME=VALUE with VALUE in 0..1, not '%s'\n",
                             v.c_str());
                o.ok = false;
                break;
            }
            s.name = v.substr(0, eq);
            o.settings.push_back(s);
        } else if (a == "--rate") {
            if (!next(v)) break;
            if (!parse_float(v, o.rate) || o.rate < 1000.0f || o.rate > 768000.0f) {
                std::fprintf(stderr, "zelo: --rate wants 1000..768000 Hz, not '%s'\n", v.c_str());
                o.ok = false;
            }
        } else if (a == "--block") {
            if (!next(v)) break;
            float b = 0;
            if (!parse_float(v, b) || b < 1 || b > 65536 || b != std::floor(b)) {
                std::fprintf(stderr, "zelo: --block wants 1..65536 frames, not '%s'\n", v.c_str());
                o.ok = false;
            }
            o.block = static_cast<int>(b);
        } else if (allow_files && o.input.empty() && !a.empty() && a[0] != '-') {
            o.input = a;
        } else {
            std::fprintf(stderr, "zelo: unexpected argument '%s'\n", a.c_str());
            o.ok = false;
        }
    }
    return o;
}

// The plug-in given by path, or the effect built into this program.
std::unique_ptr<Module> load(const Options& o) {
    std::string error;
    std::unique_ptr<Module> m = o.plugin.empty() ? Module::self(&error) : Module::load(o.plugin, &error);
    if (!m)
        std::fprintf(stderr, "zelo: cannot load %s: %s\n",
                     o.plugin.empty() ? "the built-in effect" : o.plugin.c_str(), error.c_str());
    return m;
}

// Applies NAME=VALUE settings by the plug-in's own parameter names.
bool apply(Plugin& p, const std::vector<Setting>& settings) {
    const VstInt32 count = p.effect()->numParams;
    for (const Setting& s : settings) {
        bool found = false;
        for (VstInt32 i = 0; i < count && !found; ++i) {
            // Hosts get names cut to 7 characters ("Frequen"): a longer name matches its cut.
            const std::string shown = p.parameter_name(i).text;
            if (!shown.empty() &&
                (shown == s.name || (shown.size() >= 7 && s.name.compare(0, shown.size(), shown) == 0))) {
                p.set_parameter(i, s.value);
                found = true;
            }
        }
        if (!found) {
            std::fprintf(stderr, "zelo: the effect has no parameter '%s' (it has:", s.name.c_str());
            for (VstInt32 i = 0; i < count; ++i)
                std::fprintf(stderr, " %s", p.parameter_name(i).text.c_str());
            std::fprintf(stderr, ")\n");
            return false;
        }
    }
    return true;
}

void print_parameters(Plugin& p) {
    for (VstInt32 i = 0; i < p.effect()->numParams; ++i)
        std::printf("  %-10s %-10s %s\n", p.parameter_name(i).text.c_str(),
                    p.parameter_display(i).text.c_str(), p.parameter_label(i).text.c_str());
}

std::unique_ptr<Plugin> instance(const Module& m, const Options& o) {
    std::string error;
    auto p = Plugin::create(m, &error);
    if (!p) {
        std::fprintf(stderr, "zelo: the effect did not start: %s\n", error.c_str());
        return nullptr;
    }
    p->start(o.rate, o.block);
    // A preset first, then the settings over it; what is saved is the outcome.
    if (!o.preset.empty() && !zelo_load_preset(*p, o.preset)) return nullptr;
    if (!apply(*p, o.settings)) return nullptr;
    if (!o.save_preset.empty() && !zelo_save_preset(*p, o.save_preset)) return nullptr;
    return p;
}

// The built-in test signal: a logarithmic sine sweep 20 Hz .. 20 kHz over 4 s at -6 dBFS.
std::vector<float> sweep(float rate) {
    const double seconds = 4.0, f0 = 20.0, f1 = 20000.0;
    const std::size_t n = static_cast<std::size_t>(seconds * rate);
    std::vector<float> x(n);
    const double k = std::log(f1 / f0);
    for (std::size_t i = 0; i < n; ++i) {
        double t = i / static_cast<double>(rate);
        double phase = 2 * kPi * f0 * seconds / k * (std::exp(t / seconds * k) - 1.0);
        x[i] = static_cast<float>(0.5 * std::sin(phase));
    }
    return x;
}

double rms(const float* x, std::size_t n) {
    double s = 0;
    for (std::size_t i = 0; i < n; ++i) s += double(x[i]) * x[i];
    return n ? std::sqrt(s / n) : 0.0;
}

}  // namespace

int zelo_render_main(const std::vector<std::string>& args) {
    Options o = parse(args, true);
    if (!o.ok) return 2;
    if (o.output.empty()) o.output = "zelo-out.wav";
    setenv("ZELO_VST_TRACE", "0", 0);

    std::vector<float> input;
    int channels_in = 1;
    if (o.input.empty()) {
        input = sweep(o.rate);
        std::printf("input: built-in sweep 20 Hz .. 20 kHz, 4 s at %.0f Hz\n", o.rate);
    } else {
        SF_INFO info{};
        SNDFILE* f = sf_open(o.input.c_str(), SFM_READ, &info);
        if (!f) {
            std::fprintf(stderr, "zelo: cannot read %s: %s\n", o.input.c_str(), sf_strerror(nullptr));
            return 1;
        }
        channels_in = info.channels;
        o.rate = static_cast<float>(info.samplerate);
        std::vector<float> frames(static_cast<std::size_t>(info.frames) * info.channels);
        sf_count_t got = sf_readf_float(f, frames.data(), info.frames);
        sf_close(f);
        // The effect has one input: the first channel of the file.
        input.resize(static_cast<std::size_t>(got));
        for (sf_count_t i = 0; i < got; ++i) input[i] = frames[static_cast<std::size_t>(i) * info.channels];
        std::printf("input: %s, %lld frames at %d Hz, %d channel(s) (first used)\n", o.input.c_str(),
                    static_cast<long long>(got), info.samplerate, channels_in);
    }

    auto m = load(o);
    if (!m) return 1;
    auto p = instance(*m, o);
    if (!p) return 1;
    std::vector<float> left, right;
    p->render(input, left, right, o.block);
    std::printf("effect parameters:\n");
    print_parameters(*p);
    p->stop();
    p->close();

    SF_INFO out{};
    out.samplerate = static_cast<int>(o.rate);
    out.channels = 2;
    out.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(o.output.c_str(), SFM_WRITE, &out);
    if (!f) {
        std::fprintf(stderr, "zelo: cannot write %s: %s\n", o.output.c_str(), sf_strerror(nullptr));
        return 1;
    }
    std::vector<float> inter(left.size() * 2);
    for (std::size_t i = 0; i < left.size(); ++i) {
        inter[2 * i] = left[i];
        inter[2 * i + 1] = right[i];
    }
    sf_count_t wrote = sf_writef_float(f, inter.data(), static_cast<sf_count_t>(left.size()));
    sf_close(f);
    if (wrote != static_cast<sf_count_t>(left.size())) {
        std::fprintf(stderr, "zelo: short write to %s\n", o.output.c_str());
        return 1;
    }
    std::printf("output: %s, %zu frames, 2 channels; level in %.1f dBFS, out %.1f dBFS\n", o.output.c_str(),
                left.size(), 20 * std::log10(rms(input.data(), input.size()) + 1e-12),
                20 * std::log10(rms(left.data(), left.size()) + 1e-12));
    return 0;
}

int zelo_response_main(const std::vector<std::string>& args) {
    Options o = parse(args, false);
    if (!o.ok) return 2;
    setenv("ZELO_VST_TRACE", "0", 0);
    auto m = load(o);
    if (!m) return 1;
    auto p = instance(*m, o);
    if (!p) return 1;
    std::printf("effect parameters:\n");
    print_parameters(*p);
    std::printf("\n%10s %10s\n", "frequency", "gain");
    const double freqs[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 15000, 20000};
    double prev_f = 0, prev_db = 0, corner = -1;
    for (double f : freqs) {
        if (f >= o.rate / 2) break;
        // A second of sine; the gain is measured over the last half, after settling.
        const std::size_t n = static_cast<std::size_t>(o.rate);
        std::vector<float> x(n), l, r;
        for (std::size_t i = 0; i < n; ++i)
            x[i] = static_cast<float>(0.5 * std::sin(2 * kPi * f * i / o.rate));
        p->render(x, l, r, o.block);
        double g = rms(l.data() + n / 2, n - n / 2) / rms(x.data() + n / 2, n - n / 2);
        double db = 20 * std::log10(g + 1e-12);
        std::printf("%7.0f Hz %7.2f dB\n", f, db);
        // The -3 dB point, between the first two neighbours that straddle it (log-frequency interpolation).
        if (corner < 0 && prev_f > 0 && prev_db > -3.0 && db <= -3.0)
            corner = prev_f * std::pow(f / prev_f, (prev_db + 3.0) / (prev_db - db));
        prev_f = f;
        prev_db = db;
    }
    if (corner > 0) std::printf("-3 dB at about %.0f Hz\n", corner);
    p->stop();
    p->close();
    return 0;
}
