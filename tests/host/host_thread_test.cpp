// Menu actions on one thread while a driver's thread runs the block callback:
// run under ThreadSanitizer, the host mutex must order every shared access.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host/host_logic.h"
#include "host_sim.h"

using host_sim::Sim_Class;
using host_sim::Sim_Driver;
using host_sim::Sim_Effect;

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

TEST(HostThread, MenuActionsDuringBlocks) {
    Sim_Driver* d = Sim_Class::add("Sim A", 2, {{48000, 32, 64, 2}, {44100, 32, 32, 4}});
    QZ_Host host(&VSTPluginMain);
    host.report_fn = [](int, const char*, const char*) {};
    host.start({Sim_Class::cls()});
    host.command(QZ_Host::CMD_ADD);
    std::atomic<bool> stop{false};
    // The simulated driver's thread: the data pointers change only while the
    // host holds no block (the callback reads them under the host mutex).
    std::thread audio([&] {
        while (!stop.load()) {
            if (host.mutex().try_lock()) {
                int j = 0;
                for (QZ_Chain_Item* it = d->inputs.first(); it != d->inputs.end(); it = it->next, ++j)
                    QZ_Rts::Chan::of(it)->data =
                        d->in_store.size() > static_cast<std::size_t>(j) ? d->in_store[j].data() : nullptr;
                int c = 0;
                for (QZ_Chain_Item* it = d->outputs.first(); it != d->outputs.end(); it = it->next, ++c)
                    QZ_Rts::Chan::of(it)->data = d->out_store[c].data();
                host.mutex().unlock();
            }
            QZ_Host::block_callback();
            // A driver waits for its period between blocks; a thread that took
            // the mutex back at once could starve the menu's timed wait.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    for (int round = 0; round < 30; ++round) {
        host.command(QZ_Host::CMD_ADD);
        host.command(QZ_Host::CMD_INPUT + round % 2);
        host.command(QZ_Host::CMD_MODE + round % 2);
        host.command(QZ_Host::CMD_INSTANCE + round % host.instance_count());
        if (round % 3 == 2) host.command(QZ_Host::CMD_DELETE);
        if (round % 10 == 9) host.command(QZ_Host::CMD_DRIVER);
        // A person between two menu choices: the driver's thread gets its turn.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // Blocks after the last action, on a machine however busy.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (host.blocks_run() < 10 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    audio.join();
    EXPECT_GT(host.blocks_run(), 0u);
    EXPECT_EQ(host.instance_count(), 31 - 10);
    host.shutdown();
}

// A driver that goes away says so on its own thread, between blocks; the
// window's thread notices on its idle tick, takes the driver down and tells
// the user why, and any driver can be chosen again.
TEST(HostThread, ADriverLostOnItsOwnThreadIsTakenDownOnTheWindowsThread) {
    Sim_Driver* a = Sim_Class::add("Sim A", 2, {{48000, 32, 64, 2}});
    Sim_Class::add("Sim B", 1, {{44100, 32, 32, 2}});
    static std::vector<std::string> reports;
    reports.clear();
    QZ_Host host(&Sim_Effect::entry);
    host.report_fn = [](int, const char* proc, const char* text) { reports.push_back(std::string(proc) + ": " + text); };
    host.start({Sim_Class::cls()});
    host.command(QZ_Host::CMD_ADD);
    host.command(QZ_Host::CMD_ADD);
    ASSERT_EQ(host.current_driver(), 0);
    ASSERT_EQ(std::string(host.instance(1).text), "2. In 2");
    EXPECT_FALSE(host.take_down_lost_driver());  // nothing lost: nothing happens
    ASSERT_EQ(host.current_driver(), 0);

    std::atomic<bool> lost{false};
    std::thread driver([&] {
        for (int i = 0; i < 200; ++i) {
            if (host.mutex().try_lock()) {
                for (QZ_Chain_Item* it = a->outputs.first(); it != a->outputs.end(); it = it->next)
                    QZ_Rts::Chan::of(it)->data = a->out_store[0].data();
                host.mutex().unlock();
            }
            QZ_Host::block_callback();
        }
        a->lose("The sim server stopped: killed");
        lost = true;
    });
    // The window's idle ticks.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool taken = false;
    while (!taken && std::chrono::steady_clock::now() < until) {
        host.idle();
        taken = host.take_down_lost_driver();
        if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    driver.join();
    ASSERT_TRUE(taken);
    EXPECT_TRUE(lost.load());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("driver_lost: The sim server stopped: killed (driver \"Sim A\")"), std::string::npos)
        << reports[0];
    EXPECT_GT(host.blocks_run(), 0u);
    // Released as a driver change releases it; no driver is checked, the Mode
    // menu says there are none, the instances are unconnected.
    EXPECT_EQ(a->free_calls, 1);
    EXPECT_EQ(a->exit_calls, 1);
    EXPECT_EQ(host.current_driver(), -1);
    EXPECT_EQ(host.driver_lost(), nullptr);
    for (const auto& it : host.menu(QZ_Host::MENU_AUDIO).items) EXPECT_FALSE(it.checked) << it.text;
    ASSERT_EQ(host.menu(QZ_Host::MENU_MODE).items.size(), 1u);
    EXPECT_EQ(host.menu(QZ_Host::MENU_MODE).items[0].text, "(no modes)");
    EXPECT_TRUE(host.menu(QZ_Host::MENU_MODE).items[0].greyed);
    EXPECT_TRUE(host.menu(QZ_Host::MENU_INPUT).items.empty());
    EXPECT_EQ(std::string(host.instance(0).text), "1. Unconnected");
    EXPECT_EQ(std::string(host.instance(1).text), "2. Unconnected");
    EXPECT_FALSE(host.take_down_lost_driver());  // once only
    EXPECT_EQ(reports.size(), 1u);

    // Another driver starts; the instances take the inputs it has.
    ASSERT_TRUE(host.command(QZ_Host::CMD_DRIVER + 1));
    EXPECT_EQ(host.current_driver(), 1);
    EXPECT_EQ(host.current_mode(), 0);
    EXPECT_EQ(std::string(host.instance(0).text), "1. In 1");
    EXPECT_EQ(std::string(host.instance(1).text), "2. Unconnected");
    EXPECT_EQ(reports.size(), 1u) << reports.back();
    host.shutdown();
}
