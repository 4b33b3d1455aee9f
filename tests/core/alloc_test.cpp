// Commands that a sound thread may send to an existing object allocate nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "core/command.h"
#include "tests/core/test_registry.h"

namespace {
std::atomic<long> g_news{0};
}

void* operator new(std::size_t n) {
    g_news.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST(Allocation, CommandOnExistingObjectAllocatesNothing) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Test_Thing", &h), QZ_OK);
    long before = g_news.load();
    for (int k = 0; k < 100; ++k) {
        ASSERT_EQ(spcpp("%o -v %i", h, k), QZ_OK);
        ASSERT_EQ(spcpp("QZ_Test_Thing %o -f %f -o 0x00A57BBD", h, 0.5 * k), QZ_OK);
    }
    EXPECT_EQ(g_news.load() - before, 0);
    EXPECT_EQ(QZ_object_as<QZ_Test_Thing>(h)->v, 99);

    // A command longer than the fixed buffer still works (it may allocate).
    std::string longcmd = "%o";
    for (int k = 0; k < 60; ++k) longcmd += " -v " + std::to_string(k);
    ASSERT_GT(longcmd.size(), 256u);
    EXPECT_EQ(spcpp(longcmd.c_str(), h), QZ_OK);
    EXPECT_EQ(QZ_object_as<QZ_Test_Thing>(h)->v, 59);
    delete QZ_object_from_handle(h);
}
