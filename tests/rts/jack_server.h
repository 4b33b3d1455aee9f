// A JACK server of a test's own: jackd with its dummy backend under a unique
// server name, started and stopped by the test. Clients of this process find
// it through JACK_DEFAULT_SERVER.
#pragma once

#include <jack/jack.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>


class Jack_Server {
public:
    // The jackd program from PATH, or an empty text.
    static std::string find_jackd() {
        const char* path = std::getenv("PATH");
        std::stringstream dirs(path ? path : "");
        for (std::string dir; std::getline(dirs, dir, ':');) {
            const std::string p = dir + "/jackd";
            if (!dir.empty() && access(p.c_str(), X_OK) == 0) return p;
        }
        return {};
    }

    // Starts jackd and waits until it takes clients. Empty on success, else why not.
    //
    // JACK keeps a small table of servers and frees the entry of one that was
    // killed only when a server of the same name starts again: a test that
    // kills its server passes a fixed `name`, so repeated runs reuse one entry.
    std::string start(int rate = 48000, int period = 64, bool realtime = false, const std::string& name = {}) {
        const std::string jackd = find_jackd();
        if (jackd.empty()) return "jackd not found in PATH";
        static int serial = 0;
        name_ = !name.empty() ? name : "zelo-test-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
        log_ = "/tmp/" + name_ + ".log";
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        setenv("ZELO_JACK_CLIENT", client("zelo").c_str(), 1);
        // -S: every client of a cycle finishes before the next, so a late
        // cycle counts as an xrun but never reorders or drops data.
        std::vector<std::string> args = {jackd, "-S", "-n", name_};
        if (!realtime) args.insert(args.begin() + 1, "-r");
        for (const char* a : {"-d", "dummy", "-r"}) args.emplace_back(a);
        args.push_back(std::to_string(rate));
        args.emplace_back("-p");
        args.push_back(std::to_string(period));
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        // The server goes when this process goes, even when a test aborts.
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(127);
            const int log = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) {
                dup2(log, 1);
                dup2(log, 2);
            }
            execv(jackd.c_str(), argv.data());
            _exit(127);
        }
        if (pid_ < 0) {
            pid_ = 0;
            return "cannot start jackd";
        }
        // Refused probes while the server starts are expected: not worth a line each.
        jack_set_error_function(&quiet);
        struct Restore {
            ~Restore() { jack_set_error_function(&say); }
        } restore;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < until) {
            jack_status_t status{};
            if (jack_client_t* c = jack_client_open(client("probe").c_str(), JackNoStartServer, &status)) {
                jack_client_close(c);
                return {};
            }
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = 0;
                return "jackd exited: " + log();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return "jackd did not take clients: " + log();
    }

    // Stops the server (SIGTERM, or SIGKILL to simulate a crash) and waits for it.
    void stop(int signal = SIGTERM) {
        if (!pid_) return;
        kill(pid_, signal);
        for (int k = 0; k < 100 && waitpid(pid_, nullptr, WNOHANG) != pid_; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = 0;
    }

    // A client name of this process's own: JACK names a client's socket after
    // the client alone, so equal names of two test programs would collide.
    static std::string client(const char* base) { return std::string(base) + "-" + std::to_string(getpid()); }

    bool running() const { return pid_ != 0; }
    const std::string& name() const { return name_; }

    std::string log() const {
        std::ifstream f(log_);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    ~Jack_Server() {
        stop();
        // A server that was killed leaves its semaphores and socket directory.
        namespace fs = std::filesystem;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator("/dev/shm", ec)) {
            const std::string n = e.path().filename().string();
            if (n.find(name_) != std::string::npos) fs::remove_all(e.path(), ec);
            if (n.rfind("jack-", 0) == 0 && e.is_directory(ec)) fs::remove_all(e.path() / name_, ec);
        }
        if (!log_.empty()) fs::remove(log_, ec);
    }

private:
    static void quiet(const char*) {}
    static void say(const char* text) { std::fprintf(stderr, "jack: %s\n", text); }

    pid_t pid_ = 0;
    std::string name_, log_;
};
