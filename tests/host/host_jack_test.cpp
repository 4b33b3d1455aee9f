// End to end: `zelo host` under Xvfb on a JACK server of the test's own (dummy
// backend, no sound card). A JACK client of the test feeds two signals into the
// host's two inputs and records its two outputs; with two instances on the two
// inputs, the recording is the sum of each signal through the built-in effect.
#include "host_x11_util.h"

#include <jack/jack.h>

#include <atomic>
#include <cmath>
#include <mutex>

#include "../gui/xvfb.h"
#include "../rts/jack_server.h"
#include "host/host_logic.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

using namespace host_test;

namespace {

constexpr int kRate = 48000, kPeriod = 256, kLead = 8 * kPeriod, kLength = 24000;
// Whole periods, for the reference run block by block.
constexpr int kRecord = (kLength + 8 * kPeriod + kPeriod - 1) / kPeriod * kPeriod;

float signal(int channel, int i) {
    const double t = i / double(kRate);
    return channel == 0 ? static_cast<float>(0.4 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 5000 * t))
                        : static_cast<float>(((i / 40) % 2 ? 0.3 : -0.3));
}

struct Probe {
    jack_client_t* client = nullptr;
    jack_port_t *out[2] = {}, *rec[2] = {};
    std::atomic<bool> feeding{false};
    std::atomic<int> pos{0};
    std::vector<float> recorded[2] = {std::vector<float>(kRecord), std::vector<float>(kRecord)};

    static int process(jack_nframes_t n, void* arg) {
        Probe* p = static_cast<Probe*>(arg);
        float* o[2] = {static_cast<float*>(jack_port_get_buffer(p->out[0], n)),
                       static_cast<float*>(jack_port_get_buffer(p->out[1], n))};
        const float* r[2] = {static_cast<const float*>(jack_port_get_buffer(p->rec[0], n)),
                             static_cast<const float*>(jack_port_get_buffer(p->rec[1], n))};
        if (!p->feeding.load()) {
            for (int c = 0; c < 2; ++c) std::fill(o[c], o[c] + n, 0.0f);
            return 0;
        }
        const int at = p->pos.load();
        for (jack_nframes_t i = 0; i < n; ++i) {
            const int k = at + static_cast<int>(i);
            for (int c = 0; c < 2; ++c) {
                o[c][i] = k < kLength ? signal(c, k) : 0.0f;
                if (k < kRecord) p->recorded[c][static_cast<std::size_t>(k)] = r[c][i];
            }
        }
        p->pos.store(at + static_cast<int>(n));
        return 0;
    }
};

// The signal through a fresh instance of the built-in effect, after the blocks
// of silence the host's instances have seen before the signal arrives.
std::vector<float> reference(int channel, int output) {
    AEffect* e = VSTPluginMain(&QZ_Host::host_callback);
    e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
    std::vector<float> x(kLead + kRecord, 0.0f), l(x.size()), r(x.size());
    for (int i = 0; i < kLength; ++i) x[static_cast<std::size_t>(kLead + i)] = signal(channel, i);
    for (std::size_t k = 0; k < x.size(); k += kPeriod) {
        float* in[1] = {x.data() + k};
        float* out[2] = {l.data() + k, r.data() + k};
        e->processReplacing(e, in, out, kPeriod);
    }
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    const std::vector<float>& y = output ? r : l;
    return std::vector<float>(y.begin() + kLead, y.end());
}

}  // namespace

TEST(HostJack, TwoInstancesOnTwoInputsAreMixed) {
    auto& xvfb = gui_test::Xvfb_Server::get();
    if (!xvfb.running()) GTEST_SKIP() << "no Xvfb";
    Jack_Server server;
    const std::string why = server.start(kRate, kPeriod);
    if (!why.empty()) GTEST_SKIP() << why;
    Display* d = XOpenDisplay(xvfb.name().c_str());
    ASSERT_NE(d, nullptr);

    Probe probe;
    jack_status_t status{};
    probe.client = jack_client_open(Jack_Server::client("probe").c_str(), JackNoStartServer, &status);
    ASSERT_NE(probe.client, nullptr);
    for (int c = 0; c < 2; ++c) {
        probe.out[c] = jack_port_register(probe.client, c ? "out_2" : "out_1", JACK_DEFAULT_AUDIO_TYPE,
                                          JackPortIsOutput, 0);
        probe.rec[c] = jack_port_register(probe.client, c ? "rec_2" : "rec_1", JACK_DEFAULT_AUDIO_TYPE,
                                          JackPortIsInput, 0);
    }
    jack_set_process_callback(probe.client, &Probe::process, &probe);
    ASSERT_EQ(jack_activate(probe.client), 0);

    Child host = spawn(xvfb.name(), {"host"});
    ASSERT_TRUE(wait_for([&] {
        host.read_some();
        return host.text.find("drivers:") != std::string::npos &&
               !mapped_named(d, "1-st order low-pass").empty();
    })) << host.text;
    // The JACK driver is listed first and is the one running.
    EXPECT_NE(host.text.find("drivers: \"JACK\""), std::string::npos) << host.text;
    const Window main = mapped_named(d, "1-st order low-pass")[0];
    const XWindowAttributes wa = attrs(d, main);
    XTestFakeMotionEvent(d, -1, wa.x + wa.width / 2, wa.y + wa.height / 2, CurrentTime);
    key(d, XK_c, true);  // "&Channel", then "&Add": the second instance takes the second input
    ASSERT_TRUE(wait_for([&] { return !mapped_named(d, "zelo menu").empty(); }));
    key(d, XK_a);
    ASSERT_TRUE(wait_for([&] { return mapped_named(d, "zelo menu").empty(); }));

    const std::string zelo = std::getenv("ZELO_JACK_CLIENT") ? std::getenv("ZELO_JACK_CLIENT") : "zelo";
    ASSERT_TRUE(wait_for([&] { return jack_port_by_name(probe.client, (zelo + ":out_2").c_str()) != nullptr; }))
        << host.text;
    for (int c = 0; c < 2; ++c) {
        const std::string n = std::to_string(c + 1);
        EXPECT_EQ(jack_connect(probe.client, jack_port_name(probe.out[c]), (zelo + ":in_" + n).c_str()), 0);
        EXPECT_EQ(jack_connect(probe.client, (zelo + ":out_" + n).c_str(), jack_port_name(probe.rec[c])), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    probe.feeding = true;
    ASSERT_TRUE(wait_for([&] { return probe.pos.load() >= kRecord; }, 20000));
    jack_deactivate(probe.client);
    jack_client_close(probe.client);
    EXPECT_EQ(host.stop(), 0) << host.text;
    XCloseDisplay(d);

    // Left = both signals' left outputs summed, right likewise; the round trip
    // through the server may delay the recording by whole periods.
    for (int out = 0; out < 2; ++out) {
        std::vector<float> want = reference(0, out), second = reference(1, out);
        for (std::size_t i = 0; i < want.size(); ++i) want[i] += second[i];
        double best = 1e9;
        int best_delay = -1;
        for (int delay = 0; delay <= 4 * kPeriod; delay += kPeriod) {
            double worst = 0;
            for (int i = 0; i + delay < kRecord && i < kLength; ++i)
                worst = std::max(worst, std::fabs(double(probe.recorded[out][static_cast<std::size_t>(i + delay)]) -
                                                  want[static_cast<std::size_t>(i)]));
            if (worst < best) {
                best = worst;
                best_delay = delay;
            }
        }
        std::printf("output %d: recording %d frames behind, largest difference %g\n", out + 1, best_delay, best);
        EXPECT_LT(best, 1e-5) << "output " << out + 1 << ", best delay " << best_delay;
        double energy = 0;
        for (float v : probe.recorded[out]) energy += double(v) * v;
        EXPECT_GT(energy, 10.0) << "output " << out + 1 << " is silent";
    }
}

namespace {
// Waits up to `ms` for the child to end by itself; its exit status, or -1.
int wait_exit(Child& c, int ms) {
    for (int t = 0; t < ms; t += 20) {
        int st = 0;
        c.read_some();
        if (::waitpid(c.pid, &st, WNOHANG) == c.pid) {
            c.pid = -1;
            c.read_some();
            return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}
}  // namespace

// The server killed under `zelo run`: the run ends as soon as the driver hears
// of it, says why, and fails.
TEST(HostJack, RunEndsWhenItsServerGoes) {
    Jack_Server server;
    const std::string why = server.start(kRate, 64, false, "zelo-test-run-gone");
    if (!why.empty()) GTEST_SKIP() << why;
    Child run = spawn(":0", {"run", "--driver", "jack", "--seconds", "20"});
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(wait_for([&] {
        run.read_some();
        return run.text.find("instance(s):") != std::string::npos;
    })) << run.text;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto killed = std::chrono::steady_clock::now();
    server.stop(SIGKILL);
    const int status = wait_exit(run, 10000);
    const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    if (status < 0) run.stop();
    EXPECT_EQ(status, 1) << run.text;
    EXPECT_LT(after, 5.0) << run.text;
    EXPECT_NE(run.text.find("zelo: The JACK server stopped"), std::string::npos) << run.text;
    EXPECT_NE(run.text.find("ran "), std::string::npos) << run.text;  // the summary still comes
}

// Without a server, listing drivers says so in our own words, with none of
// libjack's lines on standard error.
TEST(HostJack, NoServerGivesOneLineOfOurOwn) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"drivers"}, std::vector<std::string>{"run", "--list"},
          std::vector<std::string>{"run", "--driver", "jack", "--seconds", "1"}}) {
        Child c = spawn(":0", args, {{"JACK_DEFAULT_SERVER", "zelo-none"}});
        ASSERT_GT(c.pid, 0);
        EXPECT_GE(wait_exit(c, 20000), 0) << args[0];
        for (const char* chatter :
             {"Cannot connect to server socket", "jack server is not running", "JackShmReadWritePtr",
              "Cannot connect to server request channel"})
            EXPECT_EQ(c.text.find(chatter), std::string::npos) << args[0] << ": " << c.text;
        if (args[0] == "drivers") {
            EXPECT_NE(c.text.find("No JACK server \"zelo-none\" is running"), std::string::npos) << c.text;
            // The ALSA driver says which scheduling its device thread gets.
            const bool said = c.text.find("scheduling: the device thread will get real-time scheduling (SCHED_FIFO") !=
                                  std::string::npos ||
                              c.text.find("scheduling: the device thread will get normal scheduling (real-time refused") !=
                                  std::string::npos;
            EXPECT_TRUE(said || c.text.find("ALSA\n  cannot be used") != std::string::npos) << c.text;
        }
    }
}

// The server killed under `zelo host`: the window says why in a box and on
// standard error, runs on, and a driver can be chosen again from its menu.
TEST(HostJack, TheWindowSaysItsServerWentAndRunsOn) {
    auto& xvfb = gui_test::Xvfb_Server::get();
    if (!xvfb.running()) GTEST_SKIP() << "no Xvfb";
    Jack_Server server;
    const std::string why = server.start(kRate, 256, false, "zelo-test-host-gone");
    if (!why.empty()) GTEST_SKIP() << why;
    Display* d = XOpenDisplay(xvfb.name().c_str());
    ASSERT_NE(d, nullptr);
    int ev = 0, err = 0, maj = 0, min = 0;
    if (!XTestQueryExtension(d, &ev, &err, &maj, &min)) GTEST_SKIP() << "no XTest extension";

    Child host = spawn(xvfb.name(), {"host"});
    std::vector<Window> mains;
    ASSERT_TRUE(wait_for([&] {
        host.read_some();
        mains = mapped_named(d, "1-st order low-pass");
        return host.text.find("drivers:") != std::string::npos && !mains.empty();
    })) << host.text;
    ASSERT_NE(host.text.find("drivers: \"JACK\""), std::string::npos) << host.text;
    EXPECT_TRUE(mapped_named(d, "ERROR").empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    server.stop(SIGKILL);
    std::vector<Window> boxes;
    ASSERT_TRUE(wait_for([&] { return !(boxes = mapped_named(d, "ERROR")).empty(); })) << host.text;
    host.read_some();
    EXPECT_NE(host.text.find("The JACK server stopped"), std::string::npos) << host.text;
    EXPECT_NE(host.text.find("Proc: driver_lost"), std::string::npos) << host.text;
    // One box, not one per idle tick.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(mapped_named(d, "ERROR").size(), 1u);
    XTestFakeMotionEvent(d, -1, attrs(d, boxes[0]).x + 10, attrs(d, boxes[0]).y + 10, CurrentTime);
    key(d, XK_Return);
    ASSERT_TRUE(wait_for([&] { return mapped_named(d, "ERROR").empty(); }));

    // The window answers: Audio > JACK again finds no server, and says so.
    const XWindowAttributes wa = attrs(d, mains[0]);
    XTestFakeMotionEvent(d, -1, wa.x + wa.width / 2, wa.y + wa.height / 2, CurrentTime);
    key(d, XK_a, true);
    ASSERT_TRUE(wait_for([&] { return !mapped_named(d, "zelo menu").empty(); })) << host.text;
    key(d, XK_Return);  // the first item: JACK
    EXPECT_TRUE(wait_for([&] { return !(boxes = mapped_named(d, "ERROR")).empty(); })) << host.text;
    host.read_some();
    EXPECT_NE(host.text.find("No JACK server"), std::string::npos) << host.text;
    if (!boxes.empty()) {
        XTestFakeMotionEvent(d, -1, attrs(d, boxes[0]).x + 10, attrs(d, boxes[0]).y + 10, CurrentTime);
        key(d, XK_Return);
        EXPECT_TRUE(wait_for([&] { return mapped_named(d, "ERROR").empty(); }));
    }
    EXPECT_FALSE(mapped_named(d, "1-st order low-pass").empty());
    // And it closes cleanly when asked.
    EXPECT_EQ(host.stop(), 0) << host.text;
    XCloseDisplay(d);
}
