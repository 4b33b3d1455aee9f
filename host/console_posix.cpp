#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
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

bool zelo_keep_memory_resident() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' shadow maps reach terabytes: never to be locked.
    return false;
#endif
    // Later pages too only where no limit can make an allocation fail for it.
    rlimit lim{};
    const bool unlimited = getrlimit(RLIMIT_MEMLOCK, &lim) == 0 && lim.rlim_cur == RLIM_INFINITY;
    return mlockall(MCL_CURRENT | (unlimited ? MCL_FUTURE : 0)) == 0;
}
