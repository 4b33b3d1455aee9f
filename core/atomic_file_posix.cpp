// Replacing a file on POSIX systems: rename() within one folder is atomic.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "core/atomic_file.h"

std::FILE* QZ_open_temp_beside(const char* target, std::string* temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = std::string(target) + ".part" + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter.fetch_add(1));
        // Exclusive: never reuse or follow someone else's file; the mode goes
        // through the umask like any file the user saves.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE* f = ::fdopen(fd, "wb");
        if (!f) {
            const int e = errno;
            ::close(fd);
            ::unlink(name.c_str());
            errno = e;
            return nullptr;
        }
        *temp = name;
        return f;
    }
    return nullptr;
}

bool QZ_replace_file(const std::string& temp, const char* target) {
    // The data on the disk before the name: otherwise a crash of the system
    // right after the rename could leave an empty file where the old one was.
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;  // EINVAL: a file system without sync
    ::close(fd);
    return synced && ::rename(temp.c_str(), target) == 0;
}

bool QZ_not_a_plain_file(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && !S_ISREG(st.st_mode);
}

namespace {

void unlink_one(const char* name) { ::unlink(name); }

// Only async-signal-safe calls: unlink, sigaction, raise.
void on_termination(int sig) {
    const int saved = errno;
    QZ_temp_for_each(&unlink_one);
    struct sigaction sa{};
    sa.sa_handler = SIG_DFL;
    ::sigaction(sig, &sa, nullptr);
    ::raise(sig);  // delivered on return: the program ends as the signal asked
    errno = saved;
}

}  // namespace

void QZ_atomic_files_clean_on_signals() {
    struct sigaction sa{};
    sa.sa_handler = &on_termination;
    ::sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal someone chose to ignore (nohup, a shell's background job) stays ignored.
        struct sigaction old{};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
    // Past a file-size limit a write then fails with EFBIG, which the writer
    // reports, and its temporary goes like that of any failed write.
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}
