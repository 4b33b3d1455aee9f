#include "host/cli_render.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/cli_params.h"
#include "host/cli_preset.h"
#include "host/hosted.h"
#if ZELO_HOST_HAS_LV2
#include "host/lv2host/lv2host.h"
#endif
#if ZELO_HOST_HAS_PLOT
#include "host/cli_plot.h"
#endif
#include "core/atomic_file.h"
#include "core/command.h"
#include "host/sound_file.h"
#include "host/vsthost/vsthost.h"
#include "plugin/application.h"
#include "plugin/audioeffect.h"

using zelo::vsthost::Module;
using zelo::vsthost::Plugin;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Setting {
    std::string name;
    float value;
    std::string text;  // as given
};

bool plugin_is_lv2(const std::string& plugin) {
#if ZELO_HOST_HAS_LV2
    return !plugin.empty() && zelo::lv2host::is_lv2_reference(plugin);
#else
    (void)plugin;
    return false;
#endif
}

struct Options {
    std::string input, output, plugin, plot;
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

enum class Mode { render, response };

Options parse(const std::vector<std::string>& args, Mode mode) {
    const bool files = mode == Mode::render;
    Options o;
    for (std::size_t k = 0; k < args.size() && o.ok; ++k) {
        const std::string& a = args[k];
        auto next = [&](std::string& dst) {
            if (k + 1 >= args.size()) {
                std::fprintf(stderr, "zelo: %s needs a value\n", a.c_str());
                o.ok = false;
                return false;
            }
            dst = args[++k];
            if (dst.empty()) {
                std::fprintf(stderr, "zelo: %s needs a value, not an empty one\n", a.c_str());
                o.ok = false;
                return false;
            }
            return true;
        };
        std::string v;
        if (a == "--plugin") {
            next(o.plugin);
        } else if (a == "--preset") {
            next(o.preset);
        } else if (a == "--save-preset") {
            next(o.save_preset);
        } else if (a == "-o" && files) {
            next(o.output);
        } else if (a == "--plot" && !files) {
            next(o.plot);
        } else if (a == "--set") {
            if (!next(v)) break;
            std::size_t eq = v.find('=');
            Setting s;
            if (eq == std::string::npos || eq == 0 || !parse_float(v.substr(eq + 1), s.value)) {
                std::fprintf(stderr, "zelo: --set wants NAME=VALUE, not '%s'\n", v.c_str());
                o.ok = false;
                break;
            }
            s.name = v.substr(0, eq);
            s.text = v;
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
        } else if (files && o.input.empty() && !a.empty() && a[0] != '-') {
            o.input = a;
        } else {
            std::fprintf(stderr, "zelo: unexpected argument '%s'\n", a.c_str());
            o.ok = false;
        }
    }
    // Values run 0..1 for VST plug-ins; an LV2 plug-in's ports take their own
    // units, checked against each port's range once it is loaded.
    if (o.ok && !plugin_is_lv2(o.plugin) && !QZ_is_clap_file(o.plugin)) {
        for (const Setting& s : o.settings)
            if (s.value < 0.0f || s.value > 1.0f) {
                std::fprintf(stderr, "zelo: --set wants NAME=VALUE with VALUE in 0..1, not '%s'\n", s.text.c_str());
                o.ok = false;
                break;
            }
    }
    return o;
}

// Runs blocks through a VST effect whatever its channel counts: the signal feeds
// every input, the first two outputs are kept (a mono effect's one output twice).
class Runner {
public:
    Runner(Plugin& p, int block) : p_(p), block_(block) {
        const int ins = p.effect()->numInputs, outs = p.effect()->numOutputs;
        in_.assign(static_cast<std::size_t>(ins), std::vector<float>(static_cast<std::size_t>(block)));
        out_.assign(static_cast<std::size_t>(outs), std::vector<float>(static_cast<std::size_t>(block)));
        for (auto& v : in_) in_ptr_.push_back(v.data());
        for (auto& v : out_) out_ptr_.push_back(v.data());
    }
    void run(const float* x, float* left, float* right, int frames) {
        for (int k = 0; k < frames; k += block_) {
            const int n = std::min(block_, frames - k);
            for (auto& v : in_) std::copy(x + k, x + k + n, v.data());
            p_.effect()->processReplacing(p_.effect(), in_ptr_.data(), out_ptr_.data(), n);
            const float* r = out_.size() > 1 ? out_[1].data() : out_[0].data();
            std::copy(out_[0].data(), out_[0].data() + n, left + k);
            std::copy(r, r + n, right + k);
        }
    }

private:
    Plugin& p_;
    int block_;
    std::vector<std::vector<float>> in_, out_;
    std::vector<float*> in_ptr_, out_ptr_;
};

}  // namespace

QZ_Hosted::Names zelo_vst_parameter_names(Plugin& p, int i, bool builtin) {
    QZ_Hosted::Names n;
    n.shown = p.parameter_name(i).text;
    VstParameterProperties props{};
    if (p.dispatch(effGetParameterProperties, i, 0, &props) == 1) {
        props.label[sizeof props.label - 1] = '\0';
        n.full = props.label;
    }
    if (n.full.empty() && builtin && p.effect()->object) {
        auto* app = dynamic_cast<QZ_Application*>(static_cast<AudioEffect*>(p.effect()->object));
        if (app && i >= 0 && i < QZ_Application::kParams && app->params[i].name) n.full = app->params[i].name;
    }
    return n;
}

namespace {

// A VST 2.4 effect: a module given by path, or the effect built into this program.
class Vst_Hosted : public QZ_Hosted {
public:
    Vst_Hosted(std::unique_ptr<Module> m, std::unique_ptr<Plugin> p, bool builtin, int block)
        : module_(std::move(m)), p_(std::move(p)), builtin_(builtin), runner_(*p_, block) {}

    Plugin& plugin() { return *p_; }
    bool builtin() const { return builtin_; }

    std::string name() override { return p_->text(effGetEffectName, 0, kVstMaxEffectNameLen).text; }
    int parameter_count() override { return p_->effect()->numParams; }
    Names parameter_names(int i) override { return zelo_vst_parameter_names(*p_, i, builtin_); }
    std::string parameter_display(int i) override { return p_->parameter_display(i).text; }
    std::string parameter_label(int i) override { return p_->parameter_label(i).text; }
    bool set_parameter(int i, float value, std::string* why) override {
        if (!(value >= 0.0f && value <= 1.0f)) {
            *why = "a VST parameter takes 0..1";
            return false;
        }
        p_->set_parameter(i, value);
        return true;
    }
    // Preset files belong to the built-in effect; the reasons are shown by it.
    bool load_preset(const std::string& path, std::string* why) override {
        why->clear();
        return zelo_load_preset(*p_, path);
    }
    bool save_preset(const std::string& path, std::string* why) override {
        why->clear();
        return zelo_save_preset(*p_, path);
    }
    void process(const float* input, float* left, float* right, int frames) override {
        runner_.run(input, left, right, frames);
    }
    void finish() override {
        p_->stop();
        p_->close();
    }

private:
    std::unique_ptr<Module> module_;
    std::unique_ptr<Plugin> p_;
    bool builtin_;
    Runner runner_;
};

// A plug-in file that is there and a plain file: loading a pipe or a device
// would wait for whatever writes to it, if anything ever does.
bool plugin_file_is_there(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "zelo: no plug-in file %s\n", path.c_str());
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "zelo: the plug-in %s is not a regular file\n", path.c_str());
        return false;
    }
    return true;
}

std::unique_ptr<QZ_Hosted> open_vst(const Options& o) {
    std::string error;
    if (!o.plugin.empty() && !plugin_file_is_there(o.plugin)) return nullptr;
    std::unique_ptr<Module> m = o.plugin.empty() ? Module::self(&error) : Module::load(o.plugin, &error);
    if (!m) {
        std::fprintf(stderr, "zelo: cannot load %s: %s\n",
                     o.plugin.empty() ? "the built-in effect" : o.plugin.c_str(), error.c_str());
        return nullptr;
    }
    auto p = Plugin::create(*m, &error);
    if (!p) {
        std::fprintf(stderr, "zelo: the effect did not start: %s\n", error.c_str());
        return nullptr;
    }
    if (p->effect()->numInputs < 1 || p->effect()->numOutputs < 1 ||
        !(p->effect()->flags & effFlagsCanReplacing)) {
        std::fprintf(stderr, "zelo: the effect has %d input(s), %d output(s)%s; it needs one of each and "
                             "replacing processing\n",
                     p->effect()->numInputs, p->effect()->numOutputs,
                     (p->effect()->flags & effFlagsCanReplacing) ? "" : ", no replacing processing");
        return nullptr;
    }
    p->start(o.rate, o.block);
    return std::make_unique<Vst_Hosted>(std::move(m), std::move(p), o.plugin.empty(), o.block);
}

// Applies NAME=VALUE settings, each to the parameter its name means.
bool apply(QZ_Hosted& h, const std::vector<Setting>& settings) {
    const int count = h.parameter_count();
    std::vector<QZ_Hosted::Names> names;
    for (int i = 0; i < count; ++i) names.push_back(h.parameter_names(i));
    for (const Setting& s : settings) {
        const int i = zelo_find_parameter(names, s.name);
        if (i == kAmbiguousParameter) {
            std::fprintf(stderr, "zelo: '%s' could name more than one parameter (the effect has: %s)\n",
                         s.name.c_str(), zelo_parameter_list(names).c_str());
            return false;
        }
        if (i < 0) {
            std::fprintf(stderr, "zelo: the effect has no parameter '%s' (it has: %s)\n", s.name.c_str(),
                         zelo_parameter_list(names).c_str());
            return false;
        }
        std::string why;
        if (!h.set_parameter(i, s.value, &why)) {
            std::fprintf(stderr, "zelo: --set %s: %s\n", s.name.c_str(), why.c_str());
            return false;
        }
    }
    return true;
}

#if ZELO_HOST_HAS_PLOT
// The cutoff the built-in effect's low-pass runs at, asked of the filter itself.
double builtin_cutoff(QZ_Hosted& h) {
    auto* vst = dynamic_cast<Vst_Hosted*>(&h);
    if (!vst || !vst->builtin()) return 0;
    Plugin& p = vst->plugin();
    auto* app = p.effect()->object
                    ? dynamic_cast<QZ_Application*>(static_cast<AudioEffect*>(p.effect()->object))
                    : nullptr;
    if (!app || !app->objects[QZ_Application::LOPASS]) return 0;
    char text[64] = {};
    if (spcpp_text(text, sizeof text - 1, "%o -f", app->objects[QZ_Application::LOPASS]) != QZ_OK) return 0;
    return std::atof(text);
}
#endif

void print_parameters(QZ_Hosted& h) {
    for (int i = 0; i < h.parameter_count(); ++i)
        std::printf("  %-10s %-10s %s\n", h.parameter_names(i).shown.c_str(), h.parameter_display(i).c_str(),
                    h.parameter_label(i).c_str());
}

// The plug-in --plugin names (by its kind), started, with the preset and the
// settings applied; what is saved is the outcome.
std::unique_ptr<QZ_Hosted> instance(const Options& o) {
    std::unique_ptr<QZ_Hosted> h;
#if ZELO_HOST_HAS_LV2
    if (plugin_is_lv2(o.plugin)) {
        std::string error;
        h = QZ_hosted_lv2(o.plugin, o.rate, o.block, &error);
        if (!h) std::fprintf(stderr, "zelo: cannot use %s: %s\n", o.plugin.c_str(), error.c_str());
    } else
#endif
    if (QZ_is_clap_file(o.plugin)) {
        std::string error;
        if (!plugin_file_is_there(o.plugin)) return nullptr;
        h = QZ_hosted_clap(o.plugin, o.rate, o.block, &error);
        if (!h) std::fprintf(stderr, "zelo: cannot use %s: %s\n", o.plugin.c_str(), error.c_str());
    } else {
        h = open_vst(o);
    }
    if (!h) return nullptr;
    std::string why;
    if (!o.preset.empty() && !h->load_preset(o.preset, &why)) {
        if (!why.empty()) std::fprintf(stderr, "zelo: --preset: %s\n", why.c_str());
        return nullptr;
    }
    if (!apply(*h, o.settings)) return nullptr;
    if (!o.save_preset.empty() && !h->save_preset(o.save_preset, &why)) {
        if (!why.empty()) std::fprintf(stderr, "zelo: --save-preset: %s\n", why.c_str());
        return nullptr;
    }
    return h;
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

double db(double power_sum, double n) { return n > 0 ? 10 * std::log10(power_sum / n + 1e-24) : -240.0; }

// A progress bar on standard error, drawn only when it is a terminal.
class Progress {
public:
    Progress(long long total, bool show) : total_(total), show_(show) {}
    void update(long long done) {
        if (!show_ || total_ <= 0) return;
        const int percent = static_cast<int>(done * 100 / total_);
        if (percent == last_) return;
        last_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\r[%.*s%.*s] %3d%%", filled, "########################################",
                     kWidth - filled, "                                        ", percent);
        std::fflush(stderr);
    }
    void finish() {
        if (show_ && last_ >= 0) std::fprintf(stderr, "\n");
    }

private:
    long long total_;
    bool show_;
    int last_ = -1;
};

// Inputs this long or longer get a progress bar.
constexpr double kProgressSeconds = 5.0;

}  // namespace

int zelo_render_main(const std::vector<std::string>& args) {
    Options o = parse(args, Mode::render);
    if (!o.ok) return 2;
    if (o.output.empty()) o.output = "zelo-out.wav";
    QZ_setenv_default("ZELO_VST_TRACE", "0");

    if (!QZ_sound_can_write(o.output)) {
        std::fprintf(stderr, "zelo: cannot write %s: unsupported format (use %s)\n", o.output.c_str(),
                     QZ_sound_write_extensions());
        return 2;
    }

    // The input: a sound file read block by block, or the built-in sweep.
    std::unique_ptr<QZ_Sound_File> in;
    std::vector<float> generated;
    long long total = 0;
    if (o.input.empty()) {
        generated = sweep(o.rate);
        total = static_cast<long long>(generated.size());
        std::printf("input: built-in sweep 20 Hz .. 20 kHz, 4 s at %.0f Hz\n", o.rate);
    } else {
        struct stat st;
        if (::stat(o.input.c_str(), &st) != 0) {
            std::fprintf(stderr, "zelo: no such file: %s\n", o.input.c_str());
            return 1;
        }
        if (S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "zelo: %s is a directory, not a sound file\n", o.input.c_str());
            return 1;
        }
        // A pipe or a device would be read from whatever writes to it, if
        // anything ever does: only files are sound files here.
        if (!S_ISREG(st.st_mode)) {
            std::fprintf(stderr, "zelo: %s is not a regular file\n", o.input.c_str());
            return 1;
        }
        std::string why;
        in = QZ_sound_open_read(o.input, &why);
        if (!in) {
            std::fprintf(stderr, "zelo: cannot read %s: %s\n", o.input.c_str(), why.c_str());
            return 1;
        }
        if (in->channels < 1 || in->rate < 1000 || in->rate > 768000) {
            std::fprintf(stderr, "zelo: cannot use %s: %d channel(s) at %d Hz\n", o.input.c_str(), in->channels,
                         in->rate);
            return 1;
        }
        o.rate = static_cast<float>(in->rate);
        total = in->frames;
        std::printf("input: %s, %lld frames at %d Hz, %d channel(s) (first used)\n", o.input.c_str(), total,
                    in->rate, in->channels);
    }
    auto close_in = [&] { in.reset(); };

    auto p = instance(o);
    if (!p) {
        close_in();
        return 1;
    }

    // The output goes to a temporary beside it and takes its place when
    // complete: a failed or interrupted render leaves the old file (which may
    // be the input itself) as it was.
    QZ_Atomic_File target(o.output);
    if (!target.ok()) {
        std::fprintf(stderr, "zelo: cannot write %s: %s\n", o.output.c_str(), target.error().c_str());
        close_in();
        return 1;
    }
    std::string why;
    std::unique_ptr<QZ_Sound_File> out =
        QZ_sound_open_write(target.path(), o.output, static_cast<int>(o.rate), 2, &why);
    if (!out) {
        std::fprintf(stderr, "zelo: cannot write %s: %s\n", o.output.c_str(), why.c_str());
        close_in();
        return 1;
    }

    const int chunk = std::max(o.block, 4096);
    std::vector<float> file_frames, x(static_cast<std::size_t>(chunk)), l(x.size()), r(x.size()),
        inter(2 * x.size());
    if (in) file_frames.resize(static_cast<std::size_t>(chunk) * static_cast<std::size_t>(in->channels));
    Progress progress(total, total >= static_cast<long long>(kProgressSeconds * o.rate) && isatty(2));
    const auto started = std::chrono::steady_clock::now();
    long long done = 0;
    double power_in = 0, power_out = 0, peak_out = 0;
    bool failed = false;
    for (;;) {
        int n = 0;
        if (in) {
            n = static_cast<int>(in->read(file_frames.data(), chunk));
            for (int i = 0; i < n; ++i) x[i] = file_frames[static_cast<std::size_t>(i) * in->channels];
        } else {
            n = static_cast<int>(std::min<long long>(chunk, total - done));
            std::copy(generated.begin() + done, generated.begin() + done + n, x.begin());
        }
        if (n <= 0) break;
        p->process(x.data(), l.data(), r.data(), n);
        for (int i = 0; i < n; ++i) {
            inter[2 * i] = l[i];
            inter[2 * i + 1] = r[i];
            power_in += double(x[i]) * x[i];
            power_out += double(l[i]) * l[i];
            peak_out = std::max(peak_out, double(std::fabs(l[i])));
        }
        if (out->write(inter.data(), n) != n) {
            failed = true;
            break;
        }
        if (QZ_atomic_files_cancelled()) {
            out->error = "interrupted";
            failed = true;
            break;
        }
        done += n;
        progress.update(done);
    }
    progress.finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    close_in();
    const bool closed = out->close();
    if (failed || !closed) {
        std::fprintf(stderr, "zelo: writing %s failed after %lld frames%s%s\n", o.output.c_str(), done,
                     out->error.empty() ? "" : ": ", out->error.c_str());
        return 1;
    }
    if (!target.commit()) {
        std::fprintf(stderr, "zelo: cannot put %s in place: %s\n", o.output.c_str(), target.error().c_str());
        return 1;
    }

    std::printf("effect parameters:\n");
    print_parameters(*p);
    p->finish();
    const double audio_seconds = done / static_cast<double>(o.rate);
    std::printf("output: %s, %lld frames, 2 channels; level in %.1f dBFS, out %.1f dBFS\n", o.output.c_str(), done,
                db(power_in, static_cast<double>(done)), db(power_out, static_cast<double>(done)));
    std::printf("rendered %.2f s of sound at %.0f Hz in %.2f s (%.0fx real time); output peak %.1f dBFS%s\n",
                audio_seconds, o.rate, seconds, seconds > 0 ? audio_seconds / seconds : 0.0,
                20 * std::log10(peak_out + 1e-12), peak_out > 1.0 ? " (clipped in integer formats)" : "");
    return 0;
}

int zelo_response_main(const std::vector<std::string>& args) {
    Options o = parse(args, Mode::response);
    if (!o.ok) return 2;
    QZ_setenv_default("ZELO_VST_TRACE", "0");
    auto p = instance(o);
    if (!p) return 1;
    std::printf("effect parameters:\n");
    print_parameters(*p);

    // A tone through the effect; its gain over the last half, after settling.
    auto gain_db = [&](double f, double seconds) {
        const std::size_t n = static_cast<std::size_t>(o.rate * seconds);
        std::vector<float> x(n), l(n), r(n);
        for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<float>(0.5 * std::sin(2 * kPi * f * i / o.rate));
        p->process(x.data(), l.data(), r.data(), static_cast<int>(n));
        double g = rms(l.data() + n / 2, n - n / 2) / rms(x.data() + n / 2, n - n / 2);
        return 20 * std::log10(g + 1e-12);
    };

    std::printf("\n%10s %10s\n", "frequency", "gain");
    const double freqs[] = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 15000, 20000};
    double prev_f = 0, prev_db = 0, above = -1, below = -1;
    for (double f : freqs) {
        if (f >= o.rate / 2) break;
        double d = gain_db(f, 1.0);
        std::printf("%7.0f Hz %7.2f dB\n", f, d);
        if (below < 0 && prev_f > 0 && prev_db > -3.0 && d <= -3.0) {
            above = prev_f;
            below = f;
        }
        prev_f = f;
        prev_db = d;
    }
    // The -3 dB point, found by halving the first pair of ladder steps that
    // straddle it on a logarithmic scale: interpolating between steps an octave
    // or more apart misses it by several per cent.
    if (below > 0) {
        for (int step = 0; step < 16; ++step) {
            const double mid = std::sqrt(above * below);
            (gain_db(mid, 1.0) > -3.0 ? above : below) = mid;
        }
        std::printf("-3 dB at about %.0f Hz\n", std::sqrt(above * below));
    }

    int status = 0;
#if ZELO_HOST_HAS_PLOT
    if (!o.plot.empty()) {
        // A denser curve for the picture: log-spaced points up to just below Nyquist.
        Response_Plot plot;
        const double top = std::min(20000.0, 0.45 * o.rate);
        const int points = 96;
        for (int k = 0; k < points; ++k) {
            const double f = 20.0 * std::pow(top / 20.0, k / double(points - 1));
            plot.measured.push_back({f, gain_db(f, std::max(0.25, 20.0 / f))});
        }
        plot.rate = o.rate;
        // The reference's cutoff: the built-in filter's own frequency; for any
        // other effect the measured -3 dB point.
        plot.cutoff = builtin_cutoff(*p);
        if (plot.cutoff <= 0) plot.cutoff = response_plot_corner(plot);
        plot.title = p->name();
        std::string error;
        if (!response_plot_write(plot, o.plot, &error)) {
            std::fprintf(stderr, "zelo: cannot write %s: %s\n", o.plot.c_str(), error.c_str());
            status = 1;
        } else {
            std::printf("plot: %s\n", o.plot.c_str());
        }
    }
#else
    if (!o.plot.empty()) {
        std::fprintf(stderr, "zelo: this build draws no pictures (--plot)\n");
        status = 1;
    }
#endif
    p->finish();
    return status;
}
