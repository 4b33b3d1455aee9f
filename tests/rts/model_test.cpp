// Driver model: mode names, records and the base operations.
#include <gtest/gtest.h>

#include <string>

#include "rts/rts.h"

TEST(RtsModel, ModeNamesFollowTheirParts) {
    EXPECT_STREQ(QZ_Rts::Mode(48000, 32, 480, 2).name, " 48.0 kHz, 32 bit, stereo");
    EXPECT_STREQ(QZ_Rts::Mode(44100, 16, 441, 4).name, " 44.1 kHz, 16 bit, quadro");
    EXPECT_STREQ(QZ_Rts::Mode(192000, 32, 256, 8).name, "192.0 kHz, 32 bit, 8 ch");
    EXPECT_STREQ(QZ_Rts::Mode(96000, 24, 960, 6).name, " 96.0 kHz, 24 bit, 6 ch");
    EXPECT_STREQ(QZ_Rts::Mode(48000, 32, 480, 0).name, " 48.0 kHz, 32 bit");
    EXPECT_STREQ(QZ_Rts::Mode(48000, 32, 480, 1).name, " 48.0 kHz, 32 bit, mono");
    EXPECT_STREQ(QZ_Rts::Mode(48000, 32, 480, 3).name, " 48.0 kHz, 32 bit, trio");
    EXPECT_STREQ(QZ_Rts::Mode(48000, 32, 480, 16).name, " 48.0 kHz, 32 bit, 16 ch");
    // Parts left out take their values with them (no argument is read as another type).
    EXPECT_STREQ(QZ_Rts::Mode(0, 16, 480, 2).name, "16 bit, stereo");
    EXPECT_STREQ(QZ_Rts::Mode(0, 0, 480, 7).name, "7 ch");
    EXPECT_STREQ(QZ_Rts::Mode(8000, 0, 80, 0).name, "  8.0 kHz");
    EXPECT_STREQ(QZ_Rts::Mode(0, 0, 0, 0).name, "");
    EXPECT_STREQ(QZ_Rts::Mode(48000, 32, 480, -1).name, " 48.0 kHz, 32 bit, -1 ch");
    QZ_Rts::Mode m(44100, 24, 441, 2);
    EXPECT_EQ(m.rate, 44100);
    EXPECT_EQ(m.bits, 24);
    EXPECT_EQ(m.block, 441);
    EXPECT_EQ(m.channels, 2);
    EXPECT_EQ(m.item.data, nullptr);
}

TEST(RtsModel, BaseOperationsAndLists) {
    const std::string long_name(100, 'x');
    QZ_Rts d(long_name.c_str());
    EXPECT_EQ(std::string(d.name), long_name.substr(0, 63));
    EXPECT_FALSE(d.enabled);
    EXPECT_EQ(d.current.load(), nullptr);

    auto* m = new QZ_Rts::Mode(48000, 32, 480, 2);
    d.modes.insert(&m->item);
    d.inputs.insert(&(new QZ_Rts::Chan("Left"))->item);
    d.inputs.insert(&(new QZ_Rts::Chan("Right", QZ_RTS_FLOAT32, 480))->item);
    d.outputs.insert(&(new QZ_Rts::Chan("Out"))->item);
    EXPECT_EQ(QZ_Rts::modeAt(d.modes, 0), m);
    EXPECT_STREQ(QZ_Rts::chanAt(d.inputs, 1)->name, "Right");
    EXPECT_EQ(QZ_Rts::chanAt(d.inputs, 1)->count, 480);
    EXPECT_EQ(QZ_Rts::chanAt(d.inputs, 2), nullptr);

    EXPECT_EQ(d.mode(m), QZ_OK);
    EXPECT_EQ(d.current.load(), m);
    EXPECT_EQ(d.enable(), QZ_OK);
    EXPECT_TRUE(d.enabled);
    EXPECT_EQ(d.disable(), QZ_OK);
    EXPECT_FALSE(d.enabled);
    EXPECT_EQ(d.refresh(), QZ_OK);
    EXPECT_EQ(d.free(), QZ_OK);
    EXPECT_EQ(d.current.load(), nullptr);
    EXPECT_EQ(d.outputs.count, 0);
    EXPECT_EQ(d.inputs.count, 2);
    EXPECT_EQ(d.exit(), QZ_OK);
    EXPECT_EQ(d.modes.count, 0);
    EXPECT_EQ(d.inputs.count, 0);
}
