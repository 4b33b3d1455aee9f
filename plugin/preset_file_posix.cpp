// Safe replacement of a file on POSIX systems: rename() within one folder is atomic.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "plugin/preset_file.h"

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
            ::close(fd);
            ::unlink(name.c_str());
            return nullptr;
        }
        *temp = name;
        return f;
    }
    return nullptr;
}

bool QZ_replace_file(const std::string& temp, const char* target) {
    return ::rename(temp.c_str(), target) == 0;
}

bool QZ_not_a_plain_file(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && !S_ISREG(st.st_mode);
}

std::FILE* QZ_open_for_reading(const char* path) { return std::fopen(path, "rb"); }
