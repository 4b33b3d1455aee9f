// The texts of --help and help MODE. The modes listed follow the build: a
// program without the live drivers does not offer `run`.
#include "host/cli_help.h"


#include "zelo_version.h"

namespace {

struct ModeHelp {
    const char* name;
    const char* synopsis;  // after "zelo NAME"
    const char* summary;   // for the overview, one line
    const char* details;   // for `help NAME`
};

const ModeHelp kModes[] = {
    {"response", "[--set NAME=VALUE]... [--rate HZ] [--plugin PATH] [--plot FILE.png]",
     "the effect's gain at a ladder of frequencies",
     "Measures the effect's gain at a ladder of frequencies from 20 Hz to 20 kHz\n"
     "and prints it as a table, with the -3 dB point. --plot draws the measured\n"
     "curve over the analogue first-order low-pass of the same cutoff.\n"
     "  --set NAME=VALUE    a parameter, VALUE 0..1 (repeatable)\n"
     "  --rate HZ           the sample rate (default 44100)\n"
     "  --plugin PATH       measure that plug-in (VST 2.4, CLAP, LV2) instead of the built-in effect\n"
     "  --plot FILE.png     draw the curve into a PNG file\n"
     "  --preset FILE       load a preset before the settings (LV2: one of its presets by name)\n"
     "  --save-preset FILE  save the parameters after the settings\n"},
    {"render", "[IN] [-o OUT] [--set NAME=VALUE]... [--rate HZ] [--block N] [--plugin PATH]",
     "run a sound file (or a built-in sweep) through the effect",
#ifdef _WIN32
     "Runs the first channel of IN through the effect and writes both outputs to\n"
     "OUT (default zelo-out.wav). Without IN, a built-in 20 Hz..20 kHz sweep.\n"
     "Sound files are WAVE files.\n"
#else
     "Runs the first channel of IN through the effect and writes both outputs to\n"
     "OUT (default zelo-out.wav). Without IN, a built-in 20 Hz..20 kHz sweep.\n"
     "OUT's type follows its extension: .wav, .flac, .aiff, .ogg, .au or .caf.\n"
#endif
     "  -o OUT              the output file\n"
     "  --set NAME=VALUE    a parameter, VALUE 0..1 (repeatable)\n"
     "  --rate HZ           the sample rate of the sweep (default 44100)\n"
     "  --block N           frames per processing call, 1..65536\n"
     "  --plugin PATH       use that plug-in (VST 2.4, CLAP, LV2) instead of the built-in effect\n"
     "  --preset FILE       load a preset before the settings (LV2: one of its presets by name)\n"
     "  --save-preset FILE  save the parameters after the settings\n"},
#if ZELO_HOST_HAS_EDITOR
    {"snapshot", "FILE.png [--preset FILE] [--set NAME=VALUE]...",
     "write the effect's editor as a picture",
     "Draws the editor of the built-in effect, with the preset and the settings\n"
     "applied, into a PNG file (200 x 236 pixels). Needs no display.\n"},
#endif
#if ZELO_HOST_HAS_LIVE || ZELO_HOST_HAS_WINDOW
    {"host", "", "the host window: instances of the effect on a sound driver",
     "Opens the host window: up to 32 instances of the effect on a live sound\n"
     "driver, each filtering one input channel, their outputs summed into the\n"
     "driver's first two outputs. The Audio menu picks the driver and its mode,\n"
     "the Channel menu the instance shown and its input.\n"
#if ZELO_HOST_HAS_LIVE
     "Needs an X display ($DISPLAY).\n"
#endif
    },
    {"run", "--driver NAME [--mode N] [--instances K] [--seconds S] | --list",
     "the same without a window, with a level line",
     "Runs instances of the effect on a sound driver without a window and shows\n"
     "the level of the mix; Ctrl+C ends it early. Exit status 1 when the driver\n"
     "is missing or does not start.\n"
     "  --driver NAME       the driver: its name or the start of it, any case\n"
     "  --mode N            one of its modes (default 0; see `zelo drivers`)\n"
     "  --instances K       instances, taking the inputs in turn (default 1)\n"
     "  --seconds S         how long (default 10; 0 runs until Ctrl+C)\n"
     "  --list              list the drivers\n"},
    {"drivers", "", "every sound driver with its modes and channels",
     "Initialises each sound driver in turn, starts none, and prints its modes\n"
     "(rate, sample width, block length, channels) and its input channels.\n"},
#endif
    {"cmd", "[COMMAND...] | --demo", "run toolkit commands (arguments or standard input)",
     "Runs each argument as a command of the toolkit's command language, or with\n"
     "no argument the lines of standard input, and prints each result on a line;\n"
     "a failure prints `error: REASON` and the exit status is 1.\n"
     "  --demo              run the built-in command script\n"},
};

const ModeHelp* find(const std::string& name) {
    for (const ModeHelp& m : kModes)
        if (name == m.name) return &m;
    return nullptr;
}

}  // namespace

bool zelo_is_help_flag(const std::string& arg) { return arg == "-h" || arg == "--help"; }

int zelo_version_main() {
    std::printf("zelo %s\n"
                "Copyright (c) the zelo authors. Released under the ISC licence.\n",
                ZELO_VERSION);
    return 0;
}

void zelo_usage(std::FILE* out) {
    std::fprintf(out, "usage: zelo [MODE] [ARGS]\n");
    for (const ModeHelp& m : kModes) {
        const std::string head = std::string(m.name) + (*m.synopsis ? " " : "") + m.synopsis;
        if (head.size() <= 18)
            std::fprintf(out, "  %-18s %s\n", head.c_str(), m.summary);
        else
            std::fprintf(out, "  %s\n                     %s\n", head.c_str(), m.summary);
    }
    std::fprintf(out,
                 "  help [MODE]        this overview, or one mode in full\n"
                 "  --version          the version\n"
                 "The effect is the one built into this program, or the plug-in --plugin names:\n"
                 "a VST 2.4 module (.so, .dll), a CLAP plug-in (.clap), or an LV2 plug-in by\n"
                 "URI or bundle folder (https://zelo.audio/plugins/lowpass, ~/.lv2/zelo.lv2).\n"
                 "NAME is a parameter's full name or the short name hosts show (Frequency or\n"
                 "Frequen, any case); VALUE is 0..1, for an LV2 plug-in in the port's own\n"
                 "units (frequency=5015).\n"
#if ZELO_HOST_WINDOW_BY_DEFAULT
                 "With no mode, opens the host window.\n"
#else
                 "With no mode, runs `response`.\n"
#endif
    );
}

int zelo_help_main(const std::vector<std::string>& args) {
    if (args.empty() || zelo_is_help_flag(args[0])) {
        zelo_usage(stdout);
        return 0;
    }
    const ModeHelp* m = args.size() == 1 ? find(args[0]) : nullptr;
    if (!m) {
        std::fprintf(stderr, "zelo: no mode '%s'\n", args[0].c_str());
        zelo_usage(stderr);
        return 2;
    }
    std::printf("usage: zelo %s%s%s\n%s", m->name, *m->synopsis ? " " : "", m->synopsis, m->details);
    return 0;
}
