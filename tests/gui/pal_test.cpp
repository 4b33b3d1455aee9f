#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "core/command.h"
#include "gui/pal.h"
#include "gui/win.h"
#include "tests/gui/gui_test_util.h"

using namespace gui_test;

namespace {
constexpr std::uint32_t BG = 0xFF101010, FG = 0xFF00FF00, RG = 0xFFFF0000;

// A meter of `n` segments side by side, two pixels wide each, segment number in
// green; a last column that belongs to no segment (its red byte is set).
struct Meter {
    Bytes bytes;
    QZ_Wid_Pal* w = nullptr;
    QZ_Wid_Pal_Line line;
    explicit Meter(int n) {
        bytes = make_qzif(static_cast<std::uint32_t>(2 * n + 1), 2, [n](int x, int) {
            if (x == 2 * n) return QZ_Pix_A32{0, 0, 77, 255};
            return QZ_Pix_A32{0, std::uint8_t(x / 2), 0, 255};
        });
        QZ_handle h = 0;
        EXPECT_EQ(spcpp("QZ_Wid_Pal", &h), QZ_OK);
        w = QZ_object_as<QZ_Wid_Pal>(h);
        // What -res does, from bytes in memory.
        w->source.map(bytes.data(), bytes.size());
        w->picture.allocate(w->source.width, w->source.height);
        std::memcpy(w->picture.pixels, w->source.pixels, 4u * w->source.width * w->source.height);
        EXPECT_EQ(spcpp("%o -ln %o -ch g -cg 0 -bg %i -fg %i -rg %i -mn 0 -mx %i -rl 2", h, line.handle(),
                        int(BG), int(FG), int(RG), n - 1),
                  QZ_OK);
    }
    ~Meter() { spcpp("%o -delete", w->handle()); }
    QZ_Pix_A32 seg(int k) const { return w->picture.at(2 * k + 1, 1); }
};
}  // namespace

TEST(Pal, LevelSequenceLightsAndMixesOnlyTheSegmentsInBetween) {
    Meter m(8);
    m.w->level(0.0f);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(m.seg(k), px(BG)) << k;
    EXPECT_EQ(m.w->picture.at(16, 0), (QZ_Pix_A32{0, 0, 77, 255}));  // not a segment: untouched

    m.w->level(0.375f);
    EXPECT_EQ(m.seg(0), px(FG));
    EXPECT_EQ(m.seg(1), px(FG));
    EXPECT_EQ(m.seg(2), px(FG));
    EXPECT_EQ(m.seg(3), px(BG));  // fraction 0

    m.w->picture.at(1, 0) = {1, 2, 3, 4};  // a mark on segment 0: only repainted segments change
    m.w->level(0.4375f);
    EXPECT_EQ(m.seg(3), (QZ_Pix_A32{8, 135, 8, 255}));  // halfway, truncated, byte by byte
    EXPECT_EQ(m.seg(2), px(FG));
    EXPECT_EQ(m.w->picture.at(1, 0), (QZ_Pix_A32{1, 2, 3, 4}));

    m.w->level(0.125f);
    EXPECT_EQ(m.seg(3), px(BG));
    EXPECT_EQ(m.seg(2), px(BG));
    EXPECT_EQ(m.seg(1), px(BG));
    EXPECT_EQ(m.seg(0), px(FG));
    EXPECT_EQ(m.line.level, 0.125f);
}

TEST(Pal, ThresholdSplitsLitColours) {
    Meter m(10);
    spcpp("%o -rl 0.8", m.w->handle());
    m.w->level(1.0f);
    EXPECT_EQ(m.seg(7), px(FG));  // t = 0.778
    EXPECT_EQ(m.seg(8), px(RG));  // t = 0.889
    EXPECT_EQ(m.seg(9), px(RG));  // t = 1.0
}

TEST(Pal, SegmentAlphaFollowsTheSource) {
    Meter m(2);
    m.w->source.pixels = nullptr;  // re-map a source whose segment 1 is half transparent
    m.bytes = make_qzif(5, 2, [](int x, int) {
        return QZ_Pix_A32{0, std::uint8_t(x / 2), 0, std::uint8_t(x >= 2 ? 128 : 255)};
    });
    m.w->source.map(m.bytes.data(), m.bytes.size());
    m.w->level(1.0f);
    EXPECT_EQ(m.seg(1), (QZ_Pix_A32{0, 255, 0, 128}));  // trunc(255 x 128 / 255)
}

TEST(Pal, LineOptionsWithoutALineChangeNothing) {
    QZ_handle h = 0;
    ASSERT_EQ(spcpp("QZ_Wid_Pal", &h), QZ_OK);
    char out[64];
    ASSERT_EQ(spcpp_text(out, sizeof out, "%o -mn 3 -mn -ch -level", h), QZ_OK);
    EXPECT_STREQ(out, "");
    auto* w = QZ_object_as<QZ_Wid_Pal>(h);
    w->level(0.5f);  // nothing to do, nothing to crash
    QZ_Wid_Pic not_a_line;
    spcpp("%o -ln %o", h, not_a_line.handle());
    EXPECT_EQ(w->line, 0u);
    spcpp("%o -delete", h);
}

TEST(Pal, ChannelLetterAndKeyMasking) {
    Meter m(4);
    char out[64];
    ASSERT_EQ(spcpp_text(out, sizeof out, "%o -cg 0xFF123456 -ch g -ch x -ch -cg", m.w->handle()), QZ_OK);
    EXPECT_STREQ(out, "g 1179734");  // 0x00120056: green and alpha bytes cleared
    ASSERT_EQ(spcpp_text(out, sizeof out, "%o -ch red -ch -cg", m.w->handle()), QZ_OK);
    EXPECT_STREQ(out, "r 86");
}

TEST(Pal, OutlandishLevelsAndRangesStayInsideTheIndex) {
    Meter m(8);
    spcpp("%o -mx 300", m.w->handle());
    m.w->level(1.0f);
    EXPECT_EQ(m.seg(7), px(FG));
    m.w->level(7.5f);
    m.w->level(-3.0f);
    m.w->level(std::numeric_limits<float>::quiet_NaN());
    m.w->level(std::numeric_limits<float>::infinity());
    spcpp("%o -mn -2147483647 -mx 2147483647", m.w->handle());
    m.w->level(0.5f);
    spcpp("%o -mn 5 -mx 5", m.w->handle());  // one segment: no division by zero
    m.w->level(0.0f);
    EXPECT_EQ(m.seg(5), px(BG));
    m.w->level(1.0f);
    EXPECT_EQ(m.seg(5), px(FG));
}
