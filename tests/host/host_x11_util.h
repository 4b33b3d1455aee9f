// Helpers of the host window tests: the program as a child process on a given
// display, waiting for its windows, and synthetic input through XTest.
#pragma once

#include <gtest/gtest.h>
// After GoogleTest: X11 defines None and Bool as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace host_test {

// Windows of the program come and go while the test looks at them: a window
// gone between two requests is not an error of the test's.
inline int ignore_x_errors(Display*, XErrorEvent*) { return 0; }

struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string text;
    void read_some() {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(out, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    }
    int stop() {
        if (pid <= 0) return -1;
        ::kill(pid, SIGTERM);
        int st = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                read_some();
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &st, 0);
        pid = -1;
        return -1;
    }
};

inline Child spawn(const std::string& display, const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::string>>& env = {}) {
    int fds[2];
    Child c;
    if (::pipe(fds) != 0) return c;
    c.pid = ::fork();
    if (c.pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        ::close(fds[0]);
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("ZELO_HELP_OPENER", "true", 1);
        // No JACK server answers to this name, unless a test started its own.
        ::setenv("JACK_DEFAULT_SERVER", ::getenv("JACK_DEFAULT_SERVER") ? ::getenv("JACK_DEFAULT_SERVER") : "zelo-none", 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(ZELO_EXE)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(ZELO_EXE, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    c.out = fds[0];
    ::fcntl(c.out, F_SETFL, O_NONBLOCK);
    return c;
}

inline bool wait_for(const std::function<bool()>& ok, int ms = 10000) {
    for (int t = 0; t < ms; t += 20) {
        if (ok()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ok();
}

// Top-level windows of the given name that are mapped.
inline std::vector<Window> mapped_named(Display* d, const char* name) {
    XSetErrorHandler(&ignore_x_errors);
    std::vector<Window> out;
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    XSync(d, False);
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) return out;
    for (unsigned i = 0; i < n; ++i) {
        char* wn = nullptr;
        XWindowAttributes wa;
        if (XFetchName(d, kids[i], &wn) && wn) {
            if (std::string(wn) == name && XGetWindowAttributes(d, kids[i], &wa) && wa.map_state == IsViewable)
                out.push_back(kids[i]);
            XFree(wn);
        }
    }
    if (kids) XFree(kids);
    return out;
}


inline XWindowAttributes attrs(Display* d, Window w) {
    XWindowAttributes wa{};
    XSync(d, False);
    XGetWindowAttributes(d, w, &wa);
    return wa;
}

inline void click(Display* d, int x, int y) {
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
}

inline void key(Display* d, KeySym sym, bool alt = false) {
    const KeyCode alt_code = XKeysymToKeycode(d, XK_Alt_L), code = XKeysymToKeycode(d, sym);
    if (alt) XTestFakeKeyEvent(d, alt_code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    if (alt) XTestFakeKeyEvent(d, alt_code, False, CurrentTime);
    XSync(d, False);
}

}  // namespace host_test
