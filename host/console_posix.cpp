#include <signal.h>
#include <unistd.h>

#include "host/console.h"

namespace {
volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }
}  // namespace

void zelo_catch_stop_requests() {
    struct sigaction sa{};
    sa.sa_handler = &on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool zelo_stop_requested() { return g_stop != 0; }

bool zelo_stdout_is_terminal() { return isatty(1) != 0; }

void zelo_join_parent_console() {}  // a terminal's programs have it already
