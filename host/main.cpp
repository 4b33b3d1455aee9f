// zelo: the standalone program. Its modes serve people and machines without a
// sound card or display.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "core/error.h"
#include "host/cli_cmd.h"
#include "host/cli_render.h"
#if ZELO_HOST_HAS_EDITOR
#include "host/cli_preset.h"
#endif
#if ZELO_HOST_HAS_LIVE || ZELO_HOST_HAS_WINDOW
#include "host/cli_drivers.h"
#include "host/console.h"
#include "host/host_front.h"
#endif

namespace {

// The command-line modes report on standard error and end: a box waiting for
// a click would stop a script (or a program with no one to click) for good.
int message_to_stderr(const char* text, const char* caption) {
    std::fprintf(stderr, "zelo: %s: %s\n", caption && *caption ? caption : "Error", text ? text : "");
    std::fflush(stderr);
    return QZ_IDOK;
}

void usage() {
    std::puts(
        "usage: zelo [MODE] [ARGS]\n"
        "  response [--set NAME=VALUE]... [--rate HZ] [--plugin PATH] [--plot FILE.png]\n"
        "                     the effect's gain at a ladder of frequencies; --plot draws\n"
        "                     the measured curve over the analogue first-order low-pass\n"
        "  render [IN] [-o OUT] [--set NAME=VALUE]... [--rate HZ] [--block N] [--plugin PATH]\n"
        "                     run a sound file (or a built-in sweep) through the effect;\n"
        "                     OUT is .wav (default zelo-out.wav), .flac, .aiff, .ogg, .au or .caf\n"
        "  snapshot FILE.png [--preset FILE] [--set NAME=VALUE]...\n"
        "                     write the effect's editor as a picture\n"
        "  host               the host window: instances of the effect on a sound driver,\n"
        "                     chosen from its menus (needs a display)\n"
        "  run --driver NAME [--mode N] [--instances K] [--seconds S]\n"
        "                     the same without a window, with a level line; NAME is a\n"
        "                     driver's name or the start of one, any case (run --list)\n"
        "  drivers            every sound driver with its modes and channels\n"
        "  cmd [COMMAND...]   run toolkit commands (from the arguments, or standard input)\n"
        "  cmd --demo         run a built-in command script\n"
        "The effect is the one built into this program, or the plug-in --plugin names:\n"
        "a VST 2.4 module (.so, .dll), or an LV2 plug-in by URI or bundle folder\n"
        "(https://zelo.audio/plugins/lowpass, ~/.lv2/zelo.lv2). NAME is a parameter's\n"
        "full name or the short name hosts show (Frequency or Frequen, any case);\n"
        "VALUE is 0..1, for an LV2 plug-in in the port's own units (frequency=5015).\n"
        "response and render also take --preset FILE (loaded before the settings;\n"
        "for an LV2 plug-in one of its presets by name or URI) and --save-preset FILE\n"
        "(the parameters after the settings).\n"
        "With no mode, runs `response`.");
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Files this program writes are replaced in one step; an interrupt takes
    // the temporary of an unfinished one away.
    QZ_atomic_files_clean_on_signals();
    // Message boxes belong to the window modes; the others report on standard
    // error, in the console they were started from.
    if (!args.empty() && args[0] != "host") {
        QZ_set_message_box(&message_to_stderr);
#if ZELO_HOST_WINDOW_BY_DEFAULT
        zelo_join_parent_console();
#endif
    }
    // Started without a mode: the window where people expect one (Windows),
    // the response table elsewhere.
#if ZELO_HOST_WINDOW_BY_DEFAULT
    if (args.empty()) return zelo_host_main({});
#else
    if (args.empty()) return zelo_response_main({});
#endif
    std::string mode = args[0];
    args.erase(args.begin());
    if (mode == "cmd") return zelo_cmd_main(args);
    if (mode == "render") return zelo_render_main(args);
    if (mode == "response") return zelo_response_main(args);
#if ZELO_HOST_HAS_EDITOR
    if (mode == "snapshot") return zelo_snapshot_main(args);
#endif
#if ZELO_HOST_HAS_LIVE
    if (mode == "host") return zelo_host_main(args);
    if (mode == "run") return zelo_run_main(args);
    if (mode == "drivers") return zelo_drivers_main(args);
#elif ZELO_HOST_HAS_WINDOW
    if (mode == "host") return zelo_host_main(args);
    if (mode == "run") return zelo_run_main(args);
    if (mode == "drivers") return zelo_drivers_main(args);
#endif
    if (mode == "-h" || mode == "--help" || mode == "help") {
        usage();
        return 0;
    }
    std::fprintf(stderr, "zelo: unknown mode '%s'\n", mode.c_str());
    usage();
    return 2;
}
