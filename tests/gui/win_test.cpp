#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gui/controls.h"
#include "gui/win.h"
#include "tests/gui/gui_test_util.h"

using namespace gui_test;

namespace {
QZ_Pix_A32 composed(QZ_Pix_A32 d, QZ_Pix_A32 s) {
    QZ_compose(d, s);
    return d;
}

// A picture widget showing one colour, built in memory.
struct Solid {
    Bytes bytes;
    QZ_Wid_Pic w;
    Solid(QZ_Pix_A32 c, int l, int t, int wd, int ht) : bytes(make_qzif(4, 4, [c](int, int) { return c; })) {
        w.picture.map(bytes.data(), bytes.size());
        w.left = l, w.top = t, w.width = wd, w.height = ht;
    }
};

// A knob whose frames are one colour each, opaque on the left half of the
// frame and transparent on the right half.
struct Knob_Fixture {
    Bytes bytes;
    QZ_Wid_Knob k;
    Knob_Fixture(int l, int t, int frames = 265, std::uint8_t alpha = 255)
        : bytes(make_qzvf(16, 16, static_cast<std::uint32_t>(frames), [alpha](int f, int x, int) {
              return QZ_Pix_A32{std::uint8_t(f), 100, 200, std::uint8_t(x < 8 ? alpha : 0)};
          })) {
        k.strip.map(bytes.data(), bytes.size());
        k.resource = "memory";
        k.left = l, k.top = t, k.width = 16, k.height = 16;
    }
};

// Counts redraw requests per rectangle on top of the image window.
struct Counting_Win : QZ_Win_Image {
    using QZ_Win_Image::QZ_Win_Image;
    std::vector<QZ_Rect> redraws;
    void redraw(const QZ_Rect& r) override {
        redraws.push_back(r);
        QZ_Win_Image::redraw(r);
    }
};
}  // namespace

TEST(Win, TileGrid) {
    EXPECT_EQ(QZ_Win(64, 64).tiles_across(), 1);
    EXPECT_EQ(QZ_Win(65, 64).tiles_across(), 2);
    QZ_Win w(200, 236);
    EXPECT_EQ(w.tiles_across(), 4);
    EXPECT_EQ(w.tiles_down(), 4);
}

TEST(Win, AttachFilesWidgetsIntoTheTilesTheyCoverAndDetachRemovesThem) {
    QZ_Win win(200, 236);
    Solid a({1, 1, 1, 255}, 60, 10, 10, 60);  // columns 0-1, rows 0-1
    a.w.attach(&win);
    EXPECT_EQ(a.w.window(), &win);
    EXPECT_EQ(win.widgets().count, 1);
    EXPECT_EQ(win.tile(0, 0).count, 1);
    EXPECT_EQ(win.tile(1, 0).count, 1);
    EXPECT_EQ(win.tile(0, 1).count, 1);
    EXPECT_EQ(win.tile(1, 1).count, 1);
    EXPECT_EQ(win.tile(2, 0).count, 0);
    a.w.attach(&win);  // again: no second set of entries
    EXPECT_EQ(win.tile(0, 0).count, 1);
    EXPECT_EQ(win.widgets().count, 1);

    QZ_Win other(100, 100);
    a.w.attach(&other);  // moves: gone from the first window
    EXPECT_EQ(win.widgets().count, 0);
    EXPECT_EQ(win.tile(1, 1).count, 0);
    EXPECT_EQ(other.tile(1, 1).count, 1);
    a.w.attach(nullptr);
    EXPECT_EQ(other.widgets().count, 0);
    EXPECT_EQ(a.w.window(), nullptr);

    // Partly or wholly outside the grid: clipped to it.
    Solid out({1, 1, 1, 255}, 150, -30, 500, 100);
    out.w.attach(&win);
    int filed = 0;
    for (int r = 0; r < win.tiles_down(); ++r)
        for (int c = 0; c < win.tiles_across(); ++c) filed += win.tile(c, r).count;
    EXPECT_EQ(filed, 2 * 2);  // columns 2-3, rows 0-1
    Solid far({1, 1, 1, 255}, 1000, 1000, 10, 10);
    far.w.attach(&win);
    EXPECT_EQ(win.widgets().count, 2);
}

TEST(Win, WindowDestructionDetachesWidgets) {
    Solid a({1, 1, 1, 255}, 0, 0, 10, 10);
    {
        QZ_Win win(64, 64);
        a.w.attach(&win);
    }
    EXPECT_EQ(a.w.window(), nullptr);
}

TEST(Win, LaterWidgetsAreDrawnOnTopAndHitFirst) {
    QZ_Win_Image win(100, 100);
    Solid back({0, 0, 0, 255}, 0, 0, 100, 100);
    Solid red({0, 0, 255, 255}, 10, 10, 40, 40);
    Solid blue({255, 0, 0, 255}, 30, 30, 40, 40);
    back.w.attach(&win);
    red.w.attach(&win);
    blue.w.attach(&win);
    win.redraw({0, 0, 100, 100});
    const QZ_Pix_A32 b0 = composed({0, 0, 0, 0}, {0, 0, 0, 255});
    const QZ_Pix_A32 on_red = composed(b0, {0, 0, 255, 255});
    EXPECT_EQ(win.image.at(20, 20), on_red);
    EXPECT_EQ(win.image.at(40, 40), composed(on_red, {255, 0, 0, 255}));  // blue over red
    EXPECT_EQ(win.image.at(60, 60), composed(b0, {255, 0, 0, 255}));
    EXPECT_EQ(win.image.at(90, 5), b0);
    EXPECT_EQ(win.hit(40, 40), &blue.w);
    EXPECT_EQ(win.hit(20, 20), &red.w);
    EXPECT_EQ(win.hit(90, 90), &back.w);
    blue.w.visible = 0;
    EXPECT_EQ(win.hit(40, 40), &red.w);
    EXPECT_EQ(win.hit(100, 5), nullptr);
}

TEST(Win, RepaintTouchesOnlyTheTilesOfTheRectangle) {
    QZ_Win_Image win(200, 236);
    Solid back({5, 5, 5, 255}, 0, 0, 200, 236);
    back.w.attach(&win);
    win.redraw({0, 0, 200, 236});
    EXPECT_EQ(win.presented_tiles, 16);
    win.presented_tiles = 0;
    win.redraw({70, 70, 80, 140});  // tile column 1, rows 1-2
    EXPECT_EQ(win.presented_tiles, 2);
    win.presented_tiles = 0;
    win.redraw({195, 230, 400, 400});  // clamped to the grid
    EXPECT_EQ(win.presented_tiles, 1);
}

TEST(Win, HoveredKnobIsBrightenedAndDisabledWidgetsFaded) {
    QZ_Win_Image win(64, 64);
    Solid back({40, 40, 40, 255}, 0, 0, 64, 64);
    Knob_Fixture kf(8, 8);
    kf.k.position = 200;
    back.w.attach(&win);
    kf.k.attach(&win);
    const QZ_Pix_A32 base = composed({0, 0, 0, 0}, {40, 40, 40, 255});
    win.redraw({0, 0, 64, 64});
    EXPECT_EQ(win.image.at(10, 10), composed(base, {200, 100, 200, 255}));

    win.pointer_move(10, 10);
    ASSERT_EQ(win.hovered(), &kf.k);
    // The knob goes into a cleared scratch area (199, 99, 199, 254); being nearly
    // opaque its colours grow by half, capped (255, 148, 255, 254); then it is
    // blended over the background (39, 39, 39, 254).
    EXPECT_EQ(win.image.at(10, 10), (QZ_Pix_A32{253, 147, 253, 254}));
    EXPECT_EQ(win.image.at(20, 10), base);  // transparent half stays transparent

    kf.k.enabled = 0;
    win.redraw(kf.k.rect());
    // Disabled (hovered or not): alpha 254 x 0.4 = 101, colours kept.
    EXPECT_EQ(win.image.at(10, 10), (QZ_Pix_A32{102, 62, 102, 193}));
    win.pointer_leave();
    EXPECT_EQ(win.hovered(), nullptr);
    EXPECT_EQ(win.image.at(10, 10), (QZ_Pix_A32{102, 62, 102, 193}));
}

TEST(Win, HoverRaisesTheAlphaOfTranslucentPixels) {
    QZ_Win_Image win(64, 64);
    Solid back({40, 40, 40, 255}, 0, 0, 64, 64);
    Knob_Fixture kf(0, 0, 2, 160);  // alpha 160: 160 x 1.5 = 240 <= 255
    back.w.attach(&win);
    kf.k.attach(&win);
    win.pointer_move(2, 2);
    ASSERT_EQ(win.hovered(), &kf.k);
    // Scratch (0, 62, 125, 100): translucent, so alpha grows by half to 150.
    EXPECT_EQ(win.image.at(2, 2), (QZ_Pix_A32{16, 52, 89, 193}));
    kf.k.position = 1;
    kf.k.enabled = 0;
    win.redraw({0, 0, 64, 64});
    EXPECT_EQ(win.image.at(2, 2), (QZ_Pix_A32{32, 42, 52, 220}));  // alpha 100 x 0.4 = 40
}

TEST(Win, PointerHoverCaptureAndDrag) {
    Counting_Win win(128, 64);
    Solid back({40, 40, 40, 255}, 0, 0, 128, 64);
    Solid pic({90, 90, 90, 255}, 80, 0, 40, 40);
    Knob_Fixture kf(8, 8, 265);
    back.w.attach(&win);
    kf.k.attach(&win);
    pic.w.attach(&win);

    win.pointer_move(10, 10);
    EXPECT_EQ(win.hovered(), &kf.k);
    ASSERT_EQ(win.redraws.size(), 1u);
    EXPECT_EQ(win.redraws[0], kf.k.rect());

    win.redraws.clear();
    win.pointer_move(50, 50);  // background: the knob is redrawn once, plainly
    EXPECT_EQ(win.hovered(), nullptr);
    ASSERT_EQ(win.redraws.size(), 1u);
    EXPECT_EQ(win.redraws[0], kf.k.rect());
    win.redraws.clear();
    win.pointer_move(90, 10);  // a picture widget is not highlighted
    EXPECT_EQ(win.hovered(), nullptr);
    EXPECT_TRUE(win.redraws.empty());
    win.pointer_move(20, 10);  // transparent half of the knob: not hit
    EXPECT_EQ(win.hovered(), nullptr);

    // Press, then drag far outside the window: raw coordinates keep coming.
    win.pointer_move(10, 10);
    win.pointer_down(10, 10);
    EXPECT_EQ(win.captured(), &kf.k);
    win.pointer_move(10 + 100, 10);
    EXPECT_EQ(kf.k.position, 100);
    win.pointer_move(-500, 4000);  // far outside: clamps to frame 0 and re-anchors
    EXPECT_EQ(kf.k.position, 0);
    win.pointer_move(-490, 4000);
    EXPECT_EQ(kf.k.position, 10);
    win.pointer_up();
    EXPECT_EQ(win.captured(), nullptr);
    win.pointer_move(200, 10);  // no capture: clamped, hit-tested, nothing moves
    EXPECT_EQ(kf.k.position, 10);

    // A disabled knob takes no press.
    kf.k.enabled = 0;
    win.pointer_move(10, 10);
    win.pointer_down(10, 10);
    EXPECT_EQ(win.captured(), nullptr);
}

TEST(Win, DeletedWidgetIsNeitherHoveredNorCaptured) {
    QZ_Win_Image win(64, 64);
    auto* kf = new Knob_Fixture(0, 0);
    kf->k.attach(&win);
    win.pointer_move(1, 1);
    win.pointer_down(1, 1);
    ASSERT_EQ(win.captured(), &kf->k);
    delete kf;
    EXPECT_EQ(win.captured(), nullptr);
    EXPECT_EQ(win.hovered(), nullptr);
    win.pointer_move(5, 5);  // must not touch the deleted knob
    win.pointer_up();
}

TEST(Win, PaintWaitsAtMostOneSecondForThePaintMutex) {
    QZ_Win_Image win(64, 64);
    Solid back({40, 40, 40, 255}, 0, 0, 64, 64);
    back.w.attach(&win);
    std::atomic<bool> held{false}, done{false};
    std::thread holder([&] {
        std::lock_guard<std::recursive_timed_mutex> lock(win.paint_mutex());
        held = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    while (!held) std::this_thread::yield();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(win.paint({0, 0, 64, 64}));
    const auto waited = std::chrono::steady_clock::now() - t0;
    done = true;
    holder.join();
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    EXPECT_EQ(win.presented_tiles, 0);
    EXPECT_TRUE(win.paint({0, 0, 64, 64}));
    EXPECT_EQ(win.presented_tiles, 1);
}
