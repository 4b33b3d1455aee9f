// An X server of our own for a test program: Xvfb started on first use on a
// display number it picks itself, stopped when the program ends.
#pragma once

#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace gui_test {

class Xvfb_Server {
public:
    static Xvfb_Server& get() {
        static Xvfb_Server s;
        return s;
    }
    const std::string& name() const { return name_; }
    bool running() const { return pid_ > 0 && !name_.empty(); }
    static bool available() {
        struct stat st;
        return ::stat("/usr/bin/Xvfb", &st) == 0;
    }
    ~Xvfb_Server() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    Xvfb_Server() {
        if (!available()) return;
        // Xvfb picks a free display number itself and writes it to the pipe.
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                    "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            return;
        }
        pid_ = pid;
        std::string number;
        pollfd pfd{fds[0], POLLIN, 0};
        while (::poll(&pfd, 1, 10000) > 0) {
            char c;
            if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    pid_t pid_ = -1;
    std::string name_;
};

}  // namespace gui_test
