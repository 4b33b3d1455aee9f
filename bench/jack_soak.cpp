// JACK soak: the ASIO sound driver on our JACK driver, on a JACK server of its
// own (dummy backend, 48 kHz, 64-frame periods by default), every input copied
// to its output by the block callback for a minute. Reports the server's xrun
// count (target 0) and the worst cycle of our driver and of the block callback
// as a share of the period.
//
// With --baseline it first runs a plain JACK client of the same shape (two
// inputs copied to two outputs, wired to the same ports) for as long, so that
// xruns the machine and the server cause by themselves can be told apart.
//
// With --program ZELO it runs `ZELO run --driver jack --instances 2` as a
// separate process instead of the driver in this one, the xruns counted by
// this program's own client, after a bare copying client for as long.
//
//   jack_soak [seconds=60] [period=64] [--no-realtime] [--baseline] [--program ZELO]
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "rts/asio_driver.h"
#include "rts/asio_jack.h"
#include "tests/rts/jack_server.h"

namespace {

std::atomic<long> g_blocks{0};
std::atomic<std::uint64_t> g_block_worst_ns{0}, g_block_total_ns{0};

std::uint64_t now_ns() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void copy_block() {
    const std::uint64_t began = now_ns();
    QZ_Rts_Asio* d = QZ_Rts_Asio::active();
    for (int k = 0;; ++k) {
        QZ_Rts::Chan* in = QZ_Rts::chanAt(d->inputs, k);
        QZ_Rts::Chan* out = QZ_Rts::chanAt(d->outputs, k);
        if (!in || !out) break;
        QZ_Rts::copyBuffer(out, in);
    }
    const std::uint64_t took = now_ns() - began;
    if (took > g_block_worst_ns.load(std::memory_order_relaxed)) g_block_worst_ns.store(took, std::memory_order_relaxed);
    g_block_total_ns.fetch_add(took, std::memory_order_relaxed);
    g_blocks.fetch_add(1, std::memory_order_relaxed);
}

std::atomic<int> g_xruns{0};
int on_xrun(void*) {
    g_xruns.fetch_add(1);
    return 0;
}

// The baseline: a bare JACK client copying its inputs to its outputs.
struct Plain {
    jack_client_t* client = nullptr;
    jack_port_t* in[2] = {};
    jack_port_t* out[2] = {};
    static int process(jack_nframes_t n, void* arg) {
        Plain& p = *static_cast<Plain*>(arg);
        for (int k = 0; k < 2; ++k)
            std::memcpy(jack_port_get_buffer(p.out[k], n), jack_port_get_buffer(p.in[k], n), n * sizeof(float));
        return 0;
    }
    bool open() {
        jack_status_t status{};
        client = jack_client_open(Jack_Server::client("plain").c_str(), JackNoStartServer, &status);
        if (!client) return false;
        for (int k = 0; k < 2; ++k) {
            const std::string i = "in_" + std::to_string(k + 1), o = "out_" + std::to_string(k + 1);
            in[k] = jack_port_register(client, i.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            out[k] = jack_port_register(client, o.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        }
        jack_set_process_callback(client, &Plain::process, this);
        if (jack_activate(client) != 0) return false;
        for (int k = 0; k < 2; ++k) {
            const std::string c = "system:capture_" + std::to_string(k + 1), pl = "system:playback_" + std::to_string(k + 1);
            jack_connect(client, c.c_str(), jack_port_name(in[k]));
            jack_connect(client, jack_port_name(out[k]), pl.c_str());
        }
        return true;
    }
    ~Plain() {
        if (client) jack_client_close(client);
    }
};

extern "C" char** environ;

// `program run --driver jack --instances 2 --seconds N` in a process of its
// own; the xruns counted meanwhile (from one second after its start).
int run_program(const std::string& program, int seconds, int* status) {
    std::vector<std::string> args = {program, "run", "--driver", "jack", "--instances", "2", "--seconds",
                                     std::to_string(seconds + 1)};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int x0 = g_xruns.load();
    int st = 0;
    waitpid(pid, &st, 0);
    *status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return g_xruns.load() - x0;
}

int quiet_box(const char* text, const char*) {
    std::fprintf(stderr, "%s\n", text);
    return QZ_IDOK;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60, period = 64;
    bool realtime = true, baseline = false;
    std::string program;
    int positional = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--program") == 0 && k + 1 < argc)
            program = argv[++k];
        else if (std::strcmp(argv[k], "--no-realtime") == 0)
            realtime = false;
        else if (std::strcmp(argv[k], "--baseline") == 0)
            baseline = true;
        else if (positional++ == 0)
            seconds = std::max(1, std::atoi(argv[k]));
        else
            period = std::max(16, std::atoi(argv[k]));
    }
    constexpr int kRate = 48000;
    QZ_set_message_box(&quiet_box);

    Jack_Server server;
    const std::string why = server.start(kRate, period, realtime);
    if (!why.empty()) {
        std::fprintf(stderr, "jack_soak: %s\n", why.c_str());
        return 2;
    }
    jack_status_t status{};
    jack_client_t* monitor = jack_client_open(Jack_Server::client("soak-monitor").c_str(), JackNoStartServer, &status);
    if (!monitor) {
        std::fprintf(stderr, "jack_soak: no monitor client\n");
        return 2;
    }
    jack_set_xrun_callback(monitor, &on_xrun, nullptr);
    jack_activate(monitor);

    int idle_xruns = -1;
    if (baseline) {
        Plain plain;
        if (!plain.open()) {
            std::fprintf(stderr, "jack_soak: the baseline client did not start\n");
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const int x0 = g_xruns.load();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        idle_xruns = g_xruns.load() - x0;
    }

    if (!program.empty()) {
        int status = -1;
        const int xruns = run_program(program, seconds, &status);
        std::printf("jack_soak: server %s, %d Hz, %d-frame periods, %s, %d s\n", server.name().c_str(), kRate, period,
                    realtime ? "realtime" : "not realtime", seconds);
        std::printf("xruns while `zelo run --driver jack --instances 2` ran: %d (exit status %d)\n", xruns, status);
        if (idle_xruns >= 0) std::printf("xruns of a bare copying client, as long just before: %d\n", idle_xruns);
        jack_client_close(monitor);
        return 0;
    }

    QZ_Rts_Asio::classInit(&copy_block);
    QZ_Rts_Asio* d = static_cast<QZ_Rts_Asio*>(QZ_Rts::instanceAt(0));
    if (!d || d->init() != QZ_OK || !QZ_Rts::modeAt(d->modes, 0) || d->mode(QZ_Rts::modeAt(d->modes, 0)) != QZ_OK) {
        std::fprintf(stderr, "jack_soak: the JACK driver did not start\n");
        return 1;
    }
    std::printf("jack_soak: server %s, %d Hz, %d-frame periods, %s, %d s, %d inputs copied to %d outputs\n",
                server.name().c_str(), kRate, period, realtime ? "realtime" : "not realtime", seconds, d->inputCount,
                d->outputCount);
    std::fflush(stdout);
    // Start-up cycles (connections, first scheduling) are not the steady state.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    QZ_asio_jack_take_worst_cycle_ns();
    g_block_worst_ns = 0;
    g_block_total_ns = 0;
    const long blocks0 = g_blocks.load();
    const int xruns0 = g_xruns.load();
    std::uint64_t worst_cycle = 0;
    for (int s = 0; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        worst_cycle = std::max(worst_cycle, QZ_asio_jack_take_worst_cycle_ns());
    }
    const long blocks = g_blocks.load() - blocks0;
    const int xruns = g_xruns.load() - xruns0;
    const float load = jack_cpu_load(monitor);
    d->free();
    d->exit();
    QZ_Rts_Asio::classExit();
    jack_client_close(monitor);

    const double period_ns = 1e9 * period / kRate;
    const double expected = static_cast<double>(seconds) * kRate / period;
    std::printf("blocks: %ld (%.1f%% of the %.0f due)\n", blocks, 100.0 * blocks / expected, expected);
    std::printf("xruns reported by the server: %d  (target 0: %s)\n", xruns, xruns == 0 ? "met" : "MISSED");
    if (idle_xruns >= 0)
        std::printf("xruns of a bare JACK client doing the same copy, as long before: %d\n", idle_xruns);
    std::printf("worst driver cycle: %.1f us = %.2f%% of the %.1f us period\n", worst_cycle / 1e3,
                100.0 * worst_cycle / period_ns, period_ns / 1e3);
    std::printf("block callback: worst %.1f us = %.2f%% of the period, mean %.2f us\n", g_block_worst_ns / 1e3,
                100.0 * g_block_worst_ns / period_ns, blocks ? g_block_total_ns / 1e3 / blocks : 0.0);
    std::printf("server DSP load at the end: %.2f%%\n", load);
    return xruns == 0 ? 0 : 1;
}
