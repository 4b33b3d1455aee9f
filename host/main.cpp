// zelo: the standalone program. Its modes serve people and machines without a
// sound card or display.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "core/error.h"
#include "host/cli_cmd.h"
#include "host/cli_help.h"
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
    if (mode == "--version" || mode == "-V") return zelo_version_main();
    if (mode == "help" || zelo_is_help_flag(mode)) return zelo_help_main(args);
    if (!args.empty() && zelo_is_help_flag(args[0])) return zelo_help_main({mode});
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
    std::fprintf(stderr, "zelo: unknown mode '%s'\n", mode.c_str());
    zelo_usage(stderr);
    return 2;
}
