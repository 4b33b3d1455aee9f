#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "gui/controls.h"
#include "gui/png.h"
#include "gui/text.h"
#include "tests/gui/gui_test_util.h"
#include "tests/gui/panel.h"

using namespace gui_test;

namespace {
const std::string kRef = std::string(ZELO_GUI_REF_DIR) + "/panel.png";

void render_panel(QZ_Win_Image& win, bool with_texts) {
    Panel p(with_texts);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.attach(win));
    win.redraw({0, 0, Panel::W, Panel::H});
}
}  // namespace

TEST(Panel, MatchesTheReferencePixelForPixel) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_Image win(Panel::W, Panel::H);
    render_panel(win, false);
    if (std::getenv("ZELO_UPDATE_REF")) {
        // Regenerating after the artwork changed: write, then compare as usual.
        ASSERT_TRUE(QZ_png_write(kRef.c_str(), win.image));
    }
    QZ_Picture ref;
    ASSERT_TRUE(QZ_png_read(kRef.c_str(), ref)) << kRef;
    ASSERT_EQ(ref.width, Panel::W);
    ASSERT_EQ(ref.height, Panel::H);
    int differing = 0;
    for (int y = 0; y < Panel::H; ++y)
        for (int x = 0; x < Panel::W; ++x) differing += !(ref.at(x, y) == win.image.at(x, y));
    EXPECT_EQ(differing, 0) << "run with ZELO_UPDATE_REF=1 after changing the artwork";
    if (differing) QZ_png_write("panel_actual.png", win.image);
}

TEST(Panel, KnobAndSwitchShowTheirFrames) {
    ASSERT_TRUE(Panel::artwork_present());
    QZ_Win_Image win(Panel::W, Panel::H);
    Panel p(false);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.attach(win));
    auto* knob = QZ_object_as<QZ_Wid_Knob>(p.knob);
    auto* butt = QZ_object_as<QZ_Wid_Butt>(p.button);
    ASSERT_NE(knob, nullptr);
    EXPECT_EQ(knob->strip.frames, 265u);
    EXPECT_EQ(knob->position, 19);  // 1500 on 20..20000 over 265 frames
    win.redraw({0, 0, Panel::W, Panel::H});
    QZ_Picture at19;
    at19.allocate(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) at19.at(x, y) = win.image.at(66 + x, 126 + y);
    spcpp("QZ_Wid_Knob %o -val 20000", p.knob);  // redraws at once
    int changed = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) changed += !(at19.at(x, y) == win.image.at(66 + x, 126 + y));
    EXPECT_GT(changed, 50);  // the pointer moved
    EXPECT_EQ(butt->strip.frames, 2u);
    const QZ_Pix_A32 on = win.image.at(41, 79);
    spcpp("QZ_Wid_Butt %o -val 0", p.button);
    int butt_changed = 0;
    for (int y = 67; y < 67 + 24; ++y)
        for (int x = 21; x < 21 + 40; ++x) butt_changed += !(win.image.at(x, y) == on);
    EXPECT_GT(butt_changed, 0);
}

namespace {
// Bounding box of the pixels a text widget rendered (alpha set).
struct Ink {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
};
Ink ink_of(const QZ_Picture& pic) {
    Ink k;
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x)
            if (pic.at(x, y).a) {
                k.x0 = std::min(k.x0, x);
                k.y0 = std::min(k.y0, y);
                k.x1 = std::max(k.x1, x);
                k.y1 = std::max(k.y1, y);
            }
    return k;
}
}  // namespace

TEST(PanelText, TextsStayInsideTheirRectanglesAndFollowTheirAlignment) {
    ASSERT_FALSE(QZ_text_raster().resolve({"Tahoma", 12, false}).empty()) << "no usable font face";
    QZ_Win_Image win(Panel::W, Panel::H);
    Panel p(true);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.attach(win));
    win.redraw({0, 0, Panel::W, Panel::H});
    ASSERT_EQ(p.texts.size(), 4u);
    for (QZ_handle h : p.texts) {
        auto* t = QZ_object_as<QZ_Wid_Text>(h);
        ASSERT_TRUE(t->rendered()) << t->text;
        ASSERT_EQ(t->picture.width, t->width);
        ASSERT_EQ(t->picture.height, t->height);
        const Ink k = ink_of(t->picture);
        ASSERT_GE(k.x1, 0) << t->text << ": nothing rendered";
        // Not cut by the rectangle: a free column or row on each side.
        EXPECT_GT(k.y0, 0) << t->text;
        EXPECT_LT(k.y1, t->height - 1) << t->text;
        // Vertically centred: the ink's middle within 3 pixels of the middle.
        EXPECT_NEAR((k.y0 + k.y1) / 2.0, (t->height - 1) / 2.0, 3.0) << t->text;
        if (t->horz < 0) {
            EXPECT_LE(k.x0, 2) << t->text;
        } else if (t->horz == 0) {
            EXPECT_GT(k.x0, 0) << t->text;
            EXPECT_LT(k.x1, t->width - 1) << t->text;
            EXPECT_NEAR(k.x0, t->width - 1 - k.x1, 3) << t->text;
        }
        // The colour is the widget's, opaque where drawn, clear elsewhere.
        const std::uint32_t c = t->color;
        int full = 0;
        for (int y = 0; y < t->height; ++y)
            for (int x = 0; x < t->width; ++x) {
                const QZ_Pix_A32 q = t->picture.at(x, y);
                ASSERT_TRUE(q.a == 0 || q.a == 255);
                if (q.a == 0) {
                    ASSERT_EQ(q, QZ_Pix_A32{});
                }
                full += q.r == (c & 0xFF) && q.g == ((c >> 8) & 0xFF) && q.b == ((c >> 16) & 0xFF);
            }
        EXPECT_GT(full, 5) << t->text;
    }
}

TEST(PanelText, AlignmentFlagsMoveTheLine) {
    ASSERT_FALSE(QZ_text_raster().resolve({"Tahoma", 12, false}).empty()) << "no usable font face";
    QZ_Win_Image win(200, 40);
    QZ_handle h = 0;
    ASSERT_EQ(
        spcpp("QZ_Wid_Text -w 200 -h 40 -font Tahoma -size 14 -text %s -win %o", &h, "Cutoff", win.handle()),
        QZ_OK);
    auto* t = QZ_object_as<QZ_Wid_Text>(h);
    Ink left, centre, right;
    spcpp("%o -horz -1", h);
    t->prepare();
    left = ink_of(t->picture);
    spcpp("%o -horz 0", h);
    t->prepare();
    centre = ink_of(t->picture);
    spcpp("%o -horz 5", h);
    t->prepare();
    right = ink_of(t->picture);
    EXPECT_LE(left.x0, 2);
    EXPECT_GE(right.x1, 197);
    EXPECT_NEAR(centre.x0, 199 - centre.x1, 3);
    const int w = left.x1 - left.x0;
    EXPECT_EQ(centre.x1 - centre.x0, w);     // the same line, shifted
    EXPECT_NEAR(right.x1 - right.x0, w, 1);  // the last glyph's overhang may touch the edge
    EXPECT_EQ(left.y0, right.y0);
    // Black is transparent: a black text leaves nothing.
    spcpp("%o -color 0", h);
    t->prepare();
    EXPECT_EQ(ink_of(t->picture).x1, -1);
    // A new text shows at the next paint without an explicit prepare.
    spcpp("%o -color 0xFFFFFF -text %s", h, "Cutoff frequency");
    win.redraw({0, 0, 200, 40});
    EXPECT_EQ(t->text, "Cutoff frequency");
    EXPECT_GT(ink_of(t->picture).x1 - ink_of(t->picture).x0, w);
    spcpp("%o -delete", h);
}
