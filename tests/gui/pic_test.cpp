#include <gtest/gtest.h>

#include "gui/pic.h"
#include "tests/gui/gui_test_util.h"

using namespace gui_test;

namespace {
QZ_Pix_A32 composed(QZ_Pix_A32 d, QZ_Pix_A32 s) {
    QZ_compose(d, s);
    return d;
}
QZ_Pix_A32 pattern(int x, int y) {
    return {static_cast<std::uint8_t>(10 * x + 1), static_cast<std::uint8_t>(10 * y + 2),
            static_cast<std::uint8_t>(x + y), 255};
}
}  // namespace

TEST(Compose, DivisorIs256) {
    EXPECT_EQ(composed(px(0xFF000000), px(0xFFFFFFFF)), px(0xFFFEFEFE));  // white over black: 254
    EXPECT_EQ(composed(px(0xFFFFFFFF), px(0xFF000000)), px(0xFF000000));  // black over white: 0 (floor)
    EXPECT_EQ(composed(px(0x80402010), px(0x00FFFFFF)), px(0x80402010));  // alpha 0 leaves it
    // Half-transparent source: every channel, alpha included, moves by (s - d) * a >> 8.
    EXPECT_EQ(composed(QZ_Pix_A32{0, 0, 0, 255}, QZ_Pix_A32{200, 100, 0, 128}),
              (QZ_Pix_A32{100, 50, 0, 191}));
}

TEST(Rect, Intersection) {
    EXPECT_EQ(QZ_intersect({0, 0, 64, 64}, {10, 20, 100, 30}), (QZ_Rect{10, 20, 64, 30}));
    EXPECT_TRUE(QZ_intersect({0, 0, 10, 10}, {10, 0, 20, 10}).empty());  // touching edges: empty
    EXPECT_TRUE(QZ_intersect({0, 0, 10, 10}, {3, 12, 5, 20}).empty());
    EXPECT_FALSE(QZ_intersect({0, 0, 10, 10}, {9, 9, 20, 20}).empty());
}

TEST(Qzif, MapsInPlaceAndRefusesBadHeaders) {
    Box_Recorder boxes;
    Bytes res = make_qzif(3, 2, pattern);
    ASSERT_EQ(res.size(), 12u + 4 * 3 * 2);
    QZ_Picture pic;
    ASSERT_TRUE(pic.map(res.data(), res.size()));
    EXPECT_EQ(pic.width, 3);
    EXPECT_EQ(pic.height, 2);
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(pic.pixels), res.data() + 12);  // nothing copied
    EXPECT_EQ(pic.at(2, 1), pattern(2, 1));
    EXPECT_TRUE(boxes.texts().empty());

    Bytes strip = make_qzvf(4, 4, 1, [](int, int, int) { return QZ_Pix_A32{1, 2, 3, 4}; });
    EXPECT_FALSE(pic.map(strip.data(), strip.size()));
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_NE(boxes.texts()[0].find("Error: Invalid QZIF header\nFile: QZ/Pic/Base\nLine: 21\n"
                                    "Proc: QZ_Pic_Base<TPix>::map"),
              std::string::npos)
        << boxes.texts()[0];
    EXPECT_EQ(pic.width, 3);  // left as it was
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(pic.pixels), res.data() + 12);
}

TEST(Qzif, ShorterThanItsHeaderIsRefused) {
    Box_Recorder boxes;
    Bytes res = make_qzif(4, 4, pattern);
    QZ_Picture pic;
    EXPECT_FALSE(pic.map(res.data(), res.size() - 1));
    EXPECT_FALSE(pic.map(res.data(), 11));
    // A header claiming 2^31 x 2^31 pixels must neither wrap nor pass.
    Bytes huge = {'Q', 'Z', 'I', 'F'};
    put32(huge, 0x80000000u);
    put32(huge, 0x80000000u);
    EXPECT_FALSE(pic.map(huge.data(), huge.size()));
    // 2^30 x 2^30 pixels: 4 x w x h wraps to 0 in 32 bits.
    for (int i = 4; i < 12; ++i) huge[i] = (i % 4 == 3) ? 0x40 : 0;
    EXPECT_FALSE(pic.map(huge.data(), huge.size()));
    EXPECT_EQ(pic.pixels, nullptr);
    EXPECT_EQ(boxes.texts().size(), 4u);
}

TEST(Blend, TilesASmallPictureAcrossALargerArea) {
    Bytes res = make_qzif(10, 10, pattern);
    QZ_Picture src, dst;
    ASSERT_TRUE(src.map(res.data(), res.size()));
    dst.allocate(30, 10);
    dst.fill({0, 0, 0, 0});
    QZ_Rect r{0, 0, 30, 10};
    QZ_blend(src, dst, 0, 0, &r);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_EQ(dst.at(x, y), composed({0, 0, 0, 0}, pattern(x % 10, y))) << x << "," << y;

    QZ_Picture small;
    small.allocate(5, 5);
    small.fill({0, 0, 0, 0});
    QZ_Rect r5{0, 0, 5, 5};
    QZ_blend(src, small, 0, 0, &r5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) ASSERT_EQ(small.at(x, y), composed({0, 0, 0, 0}, pattern(x, y)));
}

TEST(Blend, SourceRectangleLandsAtTheDestinationPointAndIsClipped) {
    Bytes res = make_qzif(10, 10, pattern);
    QZ_Picture src, dst;
    ASSERT_TRUE(src.map(res.data(), res.size()));
    dst.allocate(8, 8);
    const QZ_Pix_A32 mark{9, 9, 9, 9};
    dst.fill(mark);
    QZ_Rect r{12, 3, 16, 5};       // columns 12..15 wrap to 2..5
    QZ_blend(src, dst, 6, 7, &r);  // only (6..7, 7) lies inside the destination
    EXPECT_EQ(dst.at(6, 7), composed(mark, pattern(2, 3)));
    EXPECT_EQ(dst.at(7, 7), composed(mark, pattern(3, 3)));
    EXPECT_EQ(dst.at(5, 7), mark);
    EXPECT_EQ(dst.at(6, 6), mark);
    QZ_Rect r2{12, 3, 16, 9};
    QZ_blend(src, dst, -3, -3, &r2);  // lands above and left: clipped, no stray writes
    EXPECT_EQ(dst.at(0, 0), composed(mark, pattern(5, 6)));
    QZ_Picture empty;
    QZ_blend(empty, dst, 0, 0, &r);  // no pixels: nothing happens
    QZ_blend(src, dst, 0, 0, nullptr);
    EXPECT_EQ(dst.at(1, 1), mark);
}

TEST(Qzvf, SizesAndTiles) {
    std::uint32_t blocks = 0;
    Bytes b40 = make_qzvf(
        40, 24, 2,
        [](int f, int x, int y) {
            return QZ_Pix_A32{std::uint8_t(f), std::uint8_t(x / 4), std::uint8_t(y), 255};
        },
        &blocks);
    EXPECT_EQ(b40.size(), 20u + 64u * blocks + 240u);
    QZ_Vid v;
    ASSERT_TRUE(v.map(b40.data(), b40.size()));
    EXPECT_EQ(v.tiles_across(), 10u);
    EXPECT_EQ(v.tiles_down(), 6u);
    EXPECT_EQ(v.frames, 2u);
    EXPECT_EQ(v.blocks_count, blocks);

    Bytes b41 = make_qzvf(41, 4, 1, [](int, int x, int) { return QZ_Pix_A32{std::uint8_t(x), 0, 0, 255}; });
    ASSERT_TRUE(v.map(b41.data(), b41.size()));
    EXPECT_EQ(v.tiles_across(), 11u);
    // The last tile column shows one pixel; the rest of that tile is never drawn.
    QZ_Picture dst;
    dst.allocate(48, 4);
    dst.fill({7, 7, 7, 7});
    QZ_Rect all{0, 0, 48, 4};
    QZ_drawFrame(v, 0, dst, 0, 0, &all);
    EXPECT_EQ(dst.at(40, 2), composed({7, 7, 7, 7}, {40, 0, 0, 255}));
    EXPECT_EQ(dst.at(39, 0), composed({7, 7, 7, 7}, {39, 0, 0, 255}));
    for (int x = 41; x < 48; ++x) EXPECT_EQ(dst.at(x, 1), (QZ_Pix_A32{7, 7, 7, 7})) << x;
}

TEST(Qzvf, DrawsFramesFromSharedBlocks) {
    auto frame_px = [](int f, int x, int y) {
        return x < 4 ? QZ_Pix_A32{std::uint8_t(f * 50), std::uint8_t(x), std::uint8_t(y), 255} : QZ_Pix_A32{};
    };
    std::uint32_t blocks = 0;
    Bytes res = make_qzvf(8, 8, 3, frame_px, &blocks);
    EXPECT_EQ(blocks, 3u * 2u + 1u);  // the right half is the same in every frame: one block
    QZ_Vid v;
    ASSERT_TRUE(v.map(res.data(), res.size()));
    QZ_Picture dst;
    dst.allocate(8, 8);
    for (int f = 0; f < 3; ++f) {
        dst.fill({0, 0, 0, 0});
        QZ_Rect r{2, 3, 7, 8};
        QZ_drawFrame(v, f, dst, 1, 0, &r);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const int sx = x - 1 + 2, sy = y + 3;
                const bool inside = x >= 1 && x < 6 && y < 5 && sx < 4;
                EXPECT_EQ(dst.at(x, y), inside ? composed({0, 0, 0, 0}, frame_px(f, sx, sy)) : QZ_Pix_A32{})
                    << f << ":" << x << "," << y;
            }
        QZ_Pix_A32 p;
        ASSERT_TRUE(v.pixel(f, 5, 7, &p));
        EXPECT_EQ(p, frame_px(f, 5, 7));
    }
    // Frames outside the strip draw nothing (and are not hit).
    dst.fill({0, 0, 0, 0});
    QZ_drawFrame(v, 3, dst, 0, 0, nullptr);
    QZ_drawFrame(v, -1, dst, 0, 0, nullptr);
    EXPECT_EQ(dst.at(0, 0), QZ_Pix_A32{});
    QZ_Pix_A32 p;
    EXPECT_FALSE(v.pixel(3, 0, 0, &p));
    // Without a rectangle the whole frame from (0, 0) is drawn.
    QZ_drawFrame(v, 1, dst, 0, 0, nullptr);
    EXPECT_EQ(dst.at(5, 7), composed({0, 0, 0, 0}, frame_px(1, 5, 7)));
}

TEST(Qzvf, RefusesBadHeadersShortResourcesAndDamagedIndexes) {
    Box_Recorder boxes;
    Bytes pic = make_qzif(4, 4, pattern);
    QZ_Vid v;
    EXPECT_FALSE(v.map(pic.data(), pic.size()));
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_NE(boxes.texts()[0].find("Error: Invalid QZVF header\nFile: QZ/Vid\nLine: 14\nProc: QZ_Vid::map"),
              std::string::npos);
    EXPECT_TRUE(v.empty());

    Bytes res = make_qzvf(8, 4, 2, [](int f, int x, int) {
        return QZ_Pix_A32{std::uint8_t(f), std::uint8_t(x), 0, 255};
    });
    EXPECT_FALSE(v.map(res.data(), res.size() - 1));
    EXPECT_TRUE(v.empty());
    // 2^32 - 1 frames of 2^32 - 1 square pixels: the size check must not wrap.
    Bytes huge = {'Q', 'Z', 'V', 'F'};
    for (int i = 0; i < 4; ++i) put32(huge, 0xFFFFFFFFu);
    EXPECT_FALSE(v.map(huge.data(), huge.size()));
    EXPECT_EQ(boxes.texts().size(), 3u);

    ASSERT_TRUE(v.map(res.data(), res.size()));
    // Point tile 0 of frame 0 at block 999, which does not exist: it is skipped.
    Bytes damaged = res;
    const std::size_t index_at = 20 + 64 * v.blocks_count;
    damaged[index_at] = 0xE7;
    damaged[index_at + 1] = 0x03;
    QZ_Vid d;
    ASSERT_TRUE(d.map(damaged.data(), damaged.size()));
    QZ_Picture dst;
    dst.allocate(8, 4);
    dst.fill({0, 0, 0, 0});
    QZ_drawFrame(d, 0, dst, 0, 0, nullptr);
    EXPECT_EQ(dst.at(0, 0), QZ_Pix_A32{});
    EXPECT_EQ(dst.at(4, 0), composed({0, 0, 0, 0}, {0, 4, 0, 255}));
}
