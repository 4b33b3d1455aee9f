// zelo: the standalone program. Its modes serve people and machines without a
// sound card or display.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/cli_cmd.h"

namespace {
void usage() {
    std::puts(
        "usage: zelo [MODE] [ARGS]\n"
        "  cmd [COMMAND...]   run toolkit commands (from the arguments, or standard input)\n"
        "  cmd --demo         run the built-in command script\n"
        "With no mode, runs `cmd --demo`.");
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return zelo_cmd_main({"--demo"});
    std::string mode = args[0];
    args.erase(args.begin());
    if (mode == "cmd") return zelo_cmd_main(args);
    if (mode == "-h" || mode == "--help" || mode == "help") {
        usage();
        return 0;
    }
    std::fprintf(stderr, "zelo: unknown mode '%s'\n", mode.c_str());
    usage();
    return 2;
}
