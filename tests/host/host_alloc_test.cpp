// The host's block callback allocates nothing: the global allocation functions
// are replaced by counting ones (malloc too where no sanitizer owns it), and
// blocks run through the built-in effect between counts. Its own program, so
// the replacement touches no other test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "host/host_logic.h"
#include "host_sim.h"

#include "tests/alloc_counting.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

using host_sim::Sim_Class;
using host_sim::Sim_Driver;

TEST(HostAllocation, BlockCallbackAllocatesNothing) {
    {
        const long before = g_allocations.load();
        int* volatile p = new int(1);
        delete p;
        ASSERT_GT(g_allocations.load(), before) << "counting is not in effect";
    }
    Sim_Driver* d = Sim_Class::add("Sim", 2, {{48000, 32, 480, 4}});
    QZ_Host host(&VSTPluginMain);
    host.report_fn = [](int, const char*, const char*) {};
    host.start({Sim_Class::cls()});
    for (int k = 0; k < 8; ++k) host.command(QZ_Host::CMD_ADD);
    for (int i = 0; i < 480; ++i) d->in_store[0][i] = d->in_store[1][i] = 0.1f * ((i % 48) < 24 ? 1 : -1);
    const std::vector<int> both = {0, 1};
    d->pump(Sim_Class::callback(), both);  // first pass warms up anything lazy
    const long before = g_allocations.load();
    for (int b = 0; b < 50; ++b) d->pump(Sim_Class::callback(), both);
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_EQ(host.blocks_run(), 51u);
    // The blocks did reach the outputs.
    double energy = 0;
    for (float v : d->out_store[0]) energy += double(v) * v;
    EXPECT_GT(energy, 0.0);
    host.shutdown();
}
