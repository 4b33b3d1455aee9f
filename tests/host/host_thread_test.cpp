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
