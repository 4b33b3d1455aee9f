// The entry linked into a program of its own, as the standalone host has it:
// exported from the executable and found there with dlsym.
#include <gtest/gtest.h>

#include <cstdlib>

#include "host/vsthost/vsthost.h"
#include "test_platform.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

namespace {
// Linking the entry in is the program's business; the test then finds it only
// by name, the way the host does.
[[maybe_unused]] volatile auto g_keep = &VSTPluginMain;
}  // namespace

TEST(SelfEntry, FoundInTheRunningProgram) {
    zelo_test::set_env("ZELO_VST_TRACE", "0");
    std::string error;
    auto self = zelo::vsthost::Module::self(&error);
    ASSERT_TRUE(self) << error;
    EXPECT_EQ(self->entry_name(), zelo_test::kSelfEntryName);
    auto p = zelo::vsthost::Plugin::create(*self, &error);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(p->text(effGetProductString, 0, kVstMaxProductStrLen).text, "zelo.audio 1-st order low-pass");
    p->start(44100.0f, 64);
    std::vector<float> in(100, 0.5f), l, r;
    p->render(in, l, r, 64);
    EXPECT_GT(l.back(), 0.0f);
    EXPECT_LT(l.back(), 0.5f);  // the 129 Hz low-pass is still rising
    EXPECT_EQ(p->close(), 1);
}
