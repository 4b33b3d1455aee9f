// The file dialog on Linux desktops: the desktop's own chooser through zenity
// or kdialog when one is installed, otherwise the toolkit's own dialog.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/dlg_box_x11.h"
#include "gui/dlg_file.h"
#include "gui/win.h"

extern char** environ;

namespace {

std::string find_program(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path || !*path) return {};
    std::string all(path);
    std::size_t at = 0;
    while (at <= all.size()) {
        std::size_t colon = all.find(':', at);
        if (colon == std::string::npos) colon = all.size();
        std::string dir = all.substr(at, colon - at);
        if (dir.empty()) dir = ".";
        const std::string file = dir + "/" + name;
        struct stat st;
        if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0)
            return file;
        at = colon + 1;
    }
    return {};
}

struct Run_Result {
    bool started = false;
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;
};

// Runs a program (no shell), its standard output collected, standard input
// empty, with DISPLAY set to `display` when that is not empty.
Run_Result run_program(const std::string& file, const std::vector<std::string>& args,
                       const std::string& display) {
    Run_Result r;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return r;

    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::vector<std::string> env_store;
    std::vector<char*> envp;
    for (char** e = environ; e && *e; ++e)
        if (display.empty() || std::strncmp(*e, "DISPLAY=", 8) != 0) envp.push_back(*e);
    if (!display.empty()) {
        env_store.push_back("DISPLAY=" + display);
        envp.push_back(env_store.back().data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    // The host may ignore SIGCHLD or block signals; the helper starts clean.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, dfl;
    sigemptyset(&none);
    sigemptyset(&dfl);
    sigaddset(&dfl, SIGCHLD);
    sigaddset(&dfl, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &dfl);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, file.c_str(), &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return r;
    }
    r.started = true;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) {
            // A path is at most a few kilobytes; more is not a path.
            if (r.out.size() < (1u << 20)) r.out.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fds[0]);
    int st = 0;
    pid_t w;
    while ((w = ::waitpid(pid, &st, 0)) < 0 && errno == EINTR) {
    }
    if (w == pid && WIFEXITED(st))
        r.status = WEXITSTATUS(st);
    else if (w < 0 && errno == ECHILD)
        r.status = r.out.empty() ? 1 : 0;  // reaped by the host's own handler: judge by the answer
    return r;
}

// The first line of a helper's answer, without its line end.
std::string first_line(const std::string& s) {
    const auto nl = s.find('\n');
    std::string line = s.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Text for zenity's markup.
std::string markup(const std::string& s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '&': o += "&amp;"; break;
            case '<': o += "&lt;"; break;
            case '>': o += "&gt;"; break;
            default: o += c;
        }
    }
    return o;
}

std::string start_from(const std::string& proposed) {
    if (!proposed.empty()) return proposed;
    std::error_code ec;
    std::string cwd = std::filesystem::current_path(ec).string();
    if (cwd.empty()) cwd = ".";
    return cwd + "/";
}

// The window a dialog of the owner should stay above: the host's window.
unsigned long owner_xwindow(QZ_Win* owner) {
    return owner ? static_cast<unsigned long>(owner->native_parent()) : 0;
}

}  // namespace

QZ_Dlg_File_X11::QZ_Dlg_File_X11(QZ_Win* owner, const char* filter) : QZ_Dlg_File_Base(owner, filter) {}

const char* QZ_Dlg_File_X11::open() { return run(QZ_Dlg_Kind::open); }
const char* QZ_Dlg_File_X11::save() { return run(QZ_Dlg_Kind::save); }

const char* QZ_Dlg_File_X11::run(QZ_Dlg_Kind kind) {
    bool scripted = false;
    const char* r = ask_script(kind, &scripted);
    if (scripted) return r;

    const std::string display = !display_.empty() ? display_ : [] {
        const char* d = std::getenv("DISPLAY");
        return std::string(d ? d : "");
    }();
    if (display.empty()) return nullptr;  // no desktop to ask on

    Helper h = helper_;
    std::string zenity, kdialog;
    if (h == Helper::automatic || h == Helper::zenity) zenity = find_program("zenity");
    if (h == Helper::automatic || h == Helper::kdialog) kdialog = find_program("kdialog");
    if (h == Helper::automatic) {
        const char* desk = std::getenv("XDG_CURRENT_DESKTOP");
        const bool kde = desk && std::strstr(desk, "KDE");
        if (kde && !kdialog.empty())
            h = Helper::kdialog;
        else if (!zenity.empty())
            h = Helper::zenity;
        else if (!kdialog.empty())
            h = Helper::kdialog;
        else
            h = Helper::own;
    }
    if ((h == Helper::zenity && zenity.empty()) || (h == Helper::kdialog && kdialog.empty())) return nullptr;

    const unsigned long attach = owner_xwindow(owner_);
    const auto own = [&] {
        QZ_Dlg_Box_X11 box(display, attach, title());
        Asker a;
        a.choose = [&](QZ_Dlg_Kind k, const std::string& proposed, const std::string& notice) {
            return box.choose(k, proposed, notice, *this);
        };
        a.replace = [&](const std::string& path) { return box.confirm_replace(path); };
        return ask(kind, a);
    };
    if (h == Helper::own) return own();

    const auto list = filters();
    Asker a;
    // What the helper itself confirmed, so that it is not asked twice.
    std::string confirmed;
    // A helper that cannot start or show itself (status other than 0, confirmed,
    // and 1, cancelled) before the user saw any dialog.
    bool broken = false, shown = false;
    const auto judge = [&](const Run_Result& rr) {
        if (rr.started && (rr.status == 0 || rr.status == 1))
            shown = true;
        else if (!shown)
            broken = true;
    };
    if (h == Helper::zenity) {
        a.choose = [&](QZ_Dlg_Kind k, const std::string& proposed,
                       const std::string& notice) -> std::optional<std::string> {
            if (!notice.empty()) {
                std::vector<std::string> e{"zenity", "--error", "--title=" + std::string(title()),
                                           "--text=" + markup(notice)};
                if (attach) e.push_back("--attach=" + std::to_string(attach));
                run_program(zenity, e, display);
            }
            std::vector<std::string> args{"zenity", "--file-selection", "--title=" + std::string(title()),
                                          "--filename=" + start_from(proposed)};
            if (k == QZ_Dlg_Kind::save) {
                args.push_back("--save");
                args.push_back("--confirm-overwrite");
            }
            for (const auto& [desc, pats] : list) {
                std::string p = pats;
                for (char& c : p)
                    if (c == ';') c = ' ';
                args.push_back("--file-filter=" + desc + " | " + p);
            }
            if (attach) args.push_back("--attach=" + std::to_string(attach));
            const Run_Result rr = run_program(zenity, args, display);
            judge(rr);
            if (!rr.started || rr.status != 0) return std::nullopt;
            std::string path = first_line(rr.out);
            if (path.empty()) return std::nullopt;
            confirmed = path;
            return path;
        };
        a.replace = [&](const std::string& path) {
            if (path == confirmed) return true;
            std::vector<std::string> q{
                "zenity", "--question", "--title=" + std::string(title()),
                "--text=" + markup(path + " already exists.\nDo you want to replace it?")};
            if (attach) q.push_back("--attach=" + std::to_string(attach));
            const Run_Result rr = run_program(zenity, q, display);
            return rr.started && rr.status == 0;
        };
    } else {
        a.choose = [&](QZ_Dlg_Kind k, const std::string& proposed,
                       const std::string& notice) -> std::optional<std::string> {
            std::vector<std::string> pre{"kdialog", "--title", title()};
            if (attach) {
                pre.push_back("--attach");
                pre.push_back(std::to_string(attach));
            }
            if (!notice.empty()) {
                auto e = pre;
                e.push_back("--error");
                e.push_back(notice);
                run_program(kdialog, e, display);
            }
            std::string filt;
            for (const auto& [desc, pats] : list) {
                std::string p = pats;
                for (char& c : p)
                    if (c == ';') c = ' ';
                if (!filt.empty()) filt += '\n';
                filt += p + "|" + desc;
            }
            auto args = pre;
            args.push_back(k == QZ_Dlg_Kind::save ? "--getsavefilename" : "--getopenfilename");
            args.push_back(start_from(proposed));
            if (!filt.empty()) args.push_back(filt);
            const Run_Result rr = run_program(kdialog, args, display);
            judge(rr);
            if (!rr.started || rr.status != 0) return std::nullopt;
            std::string path = first_line(rr.out);
            if (path.empty()) return std::nullopt;
            confirmed = path;
            return path;
        };
        a.replace = [&](const std::string& path) {
            if (path == confirmed) return true;
            std::vector<std::string> q{"kdialog", "--title", title()};
            if (attach) {
                q.push_back("--attach");
                q.push_back(std::to_string(attach));
            }
            q.push_back("--warningyesno");
            q.push_back(path + " already exists.\nDo you want to replace it?");
            const Run_Result rr = run_program(kdialog, q, display);
            return rr.started && rr.status == 0;
        };
    }
    const char* chosen = ask(kind, a);
    // Chosen automatically and unable to ask: the dialog of our own still can.
    if (!chosen && broken && helper_ == Helper::automatic) return own();
    return chosen;
}
