// `zelo snapshot`: the editor composed by the toolkit into a picture of its
// whole size (no display needed), texts included, and written as a PNG.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/atomic_file.h"
#include "gui/png.h"
#include "gui/win.h"
#include "host/cli_params.h"
#include "host/cli_preset.h"
#include "host/sound_file.h"
#include "plugin/main_vst.h"

using zelo::vsthost::Module;
using zelo::vsthost::Plugin;

int zelo_snapshot_main(const std::vector<std::string>& args) {
    std::string out, preset;
    std::vector<std::pair<std::string, float>> settings;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        if ((a == "--set" || a == "--preset") && k + 1 >= args.size()) {
            std::fprintf(stderr, "zelo: %s needs a value\n", a.c_str());
            return 2;
        }
        if ((a == "--set" || a == "--preset") && args[k + 1].empty()) {
            std::fprintf(stderr, "zelo: %s needs a value, not an empty one\n", a.c_str());
            return 2;
        }
        if (a == "--preset") {
            preset = args[++k];
        } else if (a == "--set") {
            const std::string v = args[++k];
            const std::size_t eq = v.find('=');
            char* end = nullptr;
            const double x = eq == std::string::npos ? -1.0 : std::strtod(v.c_str() + eq + 1, &end);
            if (eq == std::string::npos || !end || *end != '\0' || end == v.c_str() + eq + 1 || !(x >= 0.0) ||
                x > 1.0) {
                std::fprintf(stderr, "zelo: --set wants NAME=VALUE with VALUE in 0..1, not '%s'\n", v.c_str());
                return 2;
            }
            settings.emplace_back(v.substr(0, eq), static_cast<float>(x));
        } else if (out.empty() && !a.empty() && a[0] != '-') {
            out = a;
        } else {
            std::fprintf(stderr, "zelo: unexpected argument '%s'\n", a.c_str());
            return 2;
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "zelo: snapshot wants a file name (FILE.png)\n");
        return 2;
    }
    QZ_setenv_default("ZELO_VST_TRACE", "0");
    std::string error;
    auto self = Module::self(&error);
    auto p = self ? Plugin::create(*self, &error) : nullptr;
    QZ_Main_Vst* vst = p ? zelo_builtin_effect(*p) : nullptr;
    if (!vst) {
        std::fprintf(stderr, "zelo: the built-in effect did not start: %s\n", error.c_str());
        return 1;
    }
    if (!preset.empty() && !zelo_load_preset(*p, preset)) return 1;
    std::vector<Param_Names> names;
    for (VstInt32 i = 0; i < p->effect()->numParams; ++i) names.push_back(zelo_vst_parameter_names(*p, i, true));
    for (const auto& [name, value] : settings) {
        const int i = zelo_find_parameter(names, name);
        if (i < 0) {
            std::fprintf(stderr, "zelo: the effect has no parameter '%s' (it has: %s)\n", name.c_str(),
                         zelo_parameter_list(names).c_str());
            return 1;
        }
        p->set_parameter(i, value);
    }

    QZ_Win_Image win(vst->editor_width, vst->editor_height);
    vst->attach(&win);
    win.redraw({0, 0, win.width(), win.height()});
    vst->detach();
    // Into a temporary beside the file, put in its place when complete.
    QZ_Atomic_File file(out);
    if (!file.ok() || !QZ_png_write(file.path().c_str(), win.image) || !file.commit()) {
        std::fprintf(stderr, "zelo: cannot write %s%s%s\n", out.c_str(), file.error().empty() ? "" : ": ",
                     file.error().c_str());
        return 1;
    }
    std::printf("%s: the editor, %dx%d\n", out.c_str(), win.width(), win.height());
    p->close();
    return 0;
}
