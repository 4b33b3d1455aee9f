#include <gtest/gtest.h>

#include <cstring>

#include "core/command.h"
#include "gui/classes.h"
#include "gui/controls.h"
#include "gui/pal.h"
#include "gui/text.h"
#include "gui/win.h"
#include "tests/gui/gui_test_util.h"

using namespace gui_test;

namespace {
// A value an owner binds with -var: an object (so that it has a handle) that is a QZ_value.
struct Bound : QZ_Object, QZ_value {
    int calls = 0;
    QZ_Object* about = nullptr;
    void changed(QZ_Object* a) override {
        ++calls;
        about = a;
    }
};

int g_callbacks = 0;
QZ_Object* g_callback_data = nullptr;
void count_callback(QZ_Object* data) {
    ++g_callbacks;
    g_callback_data = data;
}

template <class T>
T* make(const char* cmd) {
    QZ_handle h = 0;
    EXPECT_EQ(spcpp(cmd, &h), QZ_OK) << cmd;
    return QZ_object_as<T>(h);
}

float as_float(std::uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

Bytes knob_strip(int frames) {
    return make_qzvf(16, 16, static_cast<std::uint32_t>(frames), [](int f, int x, int) {
        return QZ_Pix_A32{std::uint8_t(f), 0, 0, std::uint8_t(x < 8 ? 255 : 0)};
    });
}
}  // namespace

TEST(Wid, GeometryOptionsTruncateFloatsAndReport) {
    auto* w = make<QZ_Wid_Pic>("QZ_Wid_Pic -l 10.7 -t -3 -w 5 -h 6");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->left, 10);
    EXPECT_EQ(w->top, -3);
    std::uint32_t l = 0, vis = 0, en = 0;
    EXPECT_EQ(spcpp("%o -l -vis -enabled", w->handle(), &l, &vis, &en), QZ_OK);
    EXPECT_EQ(l, 10u);
    EXPECT_EQ(vis, 1u);
    EXPECT_EQ(en, 1u);
    EXPECT_EQ(w->width, 5);
    EXPECT_EQ(spcpp("%o -delete", w->handle()), QZ_OK);
}

TEST(Wid, WinOptionAttachesDetachesAndRefusesOtherObjects) {
    QZ_Win_Image win(64, 64);
    auto* w = make<QZ_Wid_Pic>("QZ_Wid_Pic -w 10 -h 10");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(spcpp("QZ_Wid %o -win %o", w->handle(), win.handle()), QZ_OK);
    EXPECT_EQ(w->window(), &win);
    QZ_handle other = make<QZ_Wid_Pic>("QZ_Wid_Pic")->handle();
    EXPECT_EQ(spcpp("QZ_Wid %o -win %o", w->handle(), other), QZ_OK);
    EXPECT_EQ(w->window(), &win);  // not a window: refused
    QZ_handle reported = 0;
    EXPECT_EQ(spcpp("%o -win", w->handle(), &reported), QZ_OK);
    EXPECT_EQ(reported, win.handle());
    EXPECT_EQ(spcpp("QZ_Wid %o -win 0", w->handle()), QZ_OK);
    EXPECT_EQ(w->window(), nullptr);
    EXPECT_EQ(win.widgets().count, 0);
    // Deleting an attached widget detaches it first.
    EXPECT_EQ(spcpp("QZ_Wid %o -win %o", w->handle(), win.handle()), QZ_OK);
    EXPECT_EQ(spcpp("%o -delete", w->handle()), QZ_OK);
    EXPECT_EQ(win.widgets().count, 0);
    EXPECT_EQ(win.tile(0, 0).count, 0);
    spcpp("%o -delete", other);
}

TEST(Wid, HidingRepaintsAndStopsDrawingAndHitting) {
    QZ_Win_Image win(64, 64);
    Bytes red = make_qzif(2, 2, [](int, int) { return QZ_Pix_A32{0, 0, 255, 255}; });
    auto* w = make<QZ_Wid_Pic>("QZ_Wid_Pic -w 64 -h 64");
    w->picture.map(red.data(), red.size());
    w->attach(&win);
    win.redraw({0, 0, 64, 64});
    EXPECT_EQ(win.image.at(5, 5).r, 254);
    EXPECT_EQ(win.hit(5, 5), w);
    win.image.fill({1, 2, 3, 4});
    EXPECT_EQ(spcpp("%o -vis 0", w->handle()), QZ_OK);
    EXPECT_EQ(win.presented_tiles, 2);            // repainted at once
    EXPECT_EQ(win.image.at(5, 5), QZ_Pix_A32{});  // nothing drew there
    EXPECT_EQ(win.hit(5, 5), nullptr);
    spcpp("%o -delete", w->handle());
}

TEST(Butt, ValSwitchesOnceRedrawsAndCallsBack) {
    QZ_Win_Image win(64, 64);
    auto* b = make<QZ_Wid_Butt>("QZ_Wid_Butt -w 16 -h 16");
    ASSERT_NE(b, nullptr);
    Bytes strip = make_qzvf(16, 16, 2, [](int f, int, int) {
        return QZ_Pix_A32{0, std::uint8_t(f ? 200 : 50), 0, 255};
    });
    b->strip.map(strip.data(), strip.size());
    QZ_Callback cb(&count_callback);
    QZ_Wid_Pic data;
    ASSERT_EQ(spcpp("%o -com %o -dat %o -win %o", b->handle(), cb.handle(), data.handle(), win.handle()),
              QZ_OK);
    g_callbacks = 0;
    std::uint32_t state = 0;
    EXPECT_EQ(spcpp("QZ_Wid_Butt %o -val 1 -val", b->handle(), &state), QZ_OK);
    EXPECT_EQ(as_float(state), 1.0f);
    EXPECT_EQ(g_callbacks, 1);
    EXPECT_EQ(g_callback_data, &data);
    EXPECT_EQ(win.presented_tiles, 1);
    EXPECT_EQ(win.image.at(3, 3).g, 199);  // frame 1 shown
    EXPECT_EQ(b->shown, 1);
    EXPECT_EQ(spcpp("%o -val 1", b->handle()), QZ_OK);    // equal: nothing
    EXPECT_EQ(spcpp("%o -val 0.5", b->handle()), QZ_OK);  // a float other than 0 is on
    EXPECT_EQ(g_callbacks, 1);
    EXPECT_EQ(win.presented_tiles, 1);

    // Without a bound value a click toggles by itself.
    win.pointer_move(3, 3);
    win.pointer_down(3, 3);
    win.pointer_up();
    EXPECT_FALSE(b->state);
    EXPECT_EQ(g_callbacks, 2);
    spcpp("%o -delete", b->handle());
}

TEST(Butt, ClickWithBoundValueLeavesTheSwitchToTheOwner) {
    auto* b = make<QZ_Wid_Butt>("QZ_Wid_Butt -w 16 -h 16");
    Bound param;
    QZ_Wid_Pic owner;
    ASSERT_EQ(spcpp("%o -var %o -dat %o", b->handle(), param.handle(), owner.handle()), QZ_OK);
    b->mouseDown(1, 1);
    EXPECT_FALSE(b->state);
    EXPECT_EQ(param.calls, 1);
    EXPECT_EQ(param.about, &owner);
    EXPECT_EQ(param.type, QZ_T_INT);
    EXPECT_EQ(param.word.i, 1);
    b->state = true;
    b->mouseDown(1, 1);
    EXPECT_EQ(param.word.i, 0);
    // A -var that names no value object is refused.
    QZ_Wid_Pic not_a_value;
    EXPECT_EQ(spcpp("%o -var %o", b->handle(), not_a_value.handle()), QZ_OK);
    EXPECT_EQ(b->var, param.handle());
    spcpp("%o -delete", b->handle());
}

TEST(Knob, ValueAndFrameMapping) {
    auto* k = make<QZ_Wid_Knob>("QZ_Wid_Knob -w 16 -h 16");
    Bytes strip = knob_strip(265);
    k->strip.map(strip.data(), strip.size());
    // Without a resource name the knob ignores values.
    EXPECT_EQ(spcpp("%o -val 50", k->handle()), QZ_OK);
    EXPECT_EQ(k->position, 0);
    k->resource = "big";
    ASSERT_EQ(spcpp("%o -mn 20 -mx 20000 -val 10010", k->handle()), QZ_OK);
    EXPECT_EQ(k->position, 132);
    std::uint32_t v = 0;
    ASSERT_EQ(spcpp("%o -val", k->handle(), &v), QZ_OK);
    EXPECT_EQ(as_float(v), 10010.0f);
    spcpp("%o -val 20", k->handle());
    EXPECT_EQ(k->position, 0);
    spcpp("%o -val 20000", k->handle());
    EXPECT_EQ(k->position, 264);
    spcpp("%o -val 1500", k->handle());
    EXPECT_EQ(k->position, 19);  // trunc(264 x 1480 / 19980)
    // Every frame's own value, as the knob reports it, shows that frame again
    // (the owner of a bound knob sets it back this way).
    int wrong = 0;
    for (int p = 0; p < 265; ++p) {
        k->position = p;
        spcpp("%o -val", k->handle(), &v);
        spcpp("%o -val %f", k->handle(), static_cast<double>(as_float(v)));
        wrong += k->position != p;
    }
    EXPECT_EQ(wrong, 0);

    // -mx keeps the value, not the position.
    spcpp("%o -mn 0 -mx 100 -val 50", k->handle());
    EXPECT_EQ(k->position, 132);
    spcpp("%o -mx 200", k->handle());
    EXPECT_EQ(k->position, 66);
    spcpp("%o -val", k->handle(), &v);
    EXPECT_EQ(as_float(v), 50.0f);

    spcpp("%o -mn 7 -mx 7 -val 123", k->handle());
    EXPECT_EQ(k->position, 0);  // equal limits: always frame 0
    spcpp("%o -delete", k->handle());
}

TEST(Knob, OutOfRangeValuesNeitherDrawNorCallBack) {
    QZ_Win_Image win(64, 64);
    auto* k = make<QZ_Wid_Knob>("QZ_Wid_Knob -w 16 -h 16");
    Bytes strip = knob_strip(10);
    k->strip.map(strip.data(), strip.size());
    k->resource = "x";
    QZ_Callback cb(&count_callback);
    spcpp("%o -com %o -win %o", k->handle(), cb.handle(), win.handle());
    g_callbacks = 0;
    spcpp("%o -val 50", k->handle());
    EXPECT_EQ(k->position, 4);
    EXPECT_EQ(g_callbacks, 1);
    EXPECT_EQ(win.presented_tiles, 1);
    spcpp("%o -val 500", k->handle());  // beyond the maximum: frame 45 does not exist
    EXPECT_EQ(k->position, 45);
    EXPECT_EQ(g_callbacks, 1);
    EXPECT_EQ(win.presented_tiles, 1);
    EXPECT_FALSE(k->hitTest(1, 1));
    spcpp("%o -val nan", k->handle());
    spcpp("%o -delete", k->handle());
}

TEST(Knob, DraggingTurnsOneFramePerPixelAndReanchorsAtTheEnds) {
    auto* k = make<QZ_Wid_Knob>("QZ_Wid_Knob -w 16 -h 16");
    Bytes strip = knob_strip(265);
    k->strip.map(strip.data(), strip.size());
    k->resource = "big";
    k->mouseDown(5, 5);
    k->mouseDrag(305, 5);
    EXPECT_EQ(k->position, 264);
    k->mouseDrag(295, 5);
    EXPECT_EQ(k->position, 254);  // at once, without making up the overshoot
    k->mouseDown(0, 0);
    k->mouseDrag(10, -10);  // right and up both turn it up: 254 + 20 passes the end
    EXPECT_EQ(k->position, 264);
    k->position = 100;
    k->mouseDown(0, 0);
    k->mouseDrag(10, 10);  // right and down cancel
    EXPECT_EQ(k->position, 100);
    k->mouseDrag(-200, 0);
    EXPECT_EQ(k->position, 0);
    k->mouseDrag(-190, 0);
    EXPECT_EQ(k->position, 10);
    spcpp("%o -delete", k->handle());
}

TEST(Knob, DragWithBoundValueReportsTheValueAsAFloat) {
    auto* k = make<QZ_Wid_Knob>("QZ_Wid_Knob -w 16 -h 16");
    Bytes strip = knob_strip(265);
    k->strip.map(strip.data(), strip.size());
    k->resource = "big";
    Bound param;
    spcpp("%o -mn 20 -mx 20000 -var %o", k->handle(), param.handle());
    k->mouseDown(0, 0);
    k->mouseDrag(132, 0);
    EXPECT_EQ(param.calls, 1);
    EXPECT_EQ(param.type, QZ_T_FLOAT);
    EXPECT_EQ(param.length, -1);
    EXPECT_EQ(param.word.f, 10010.0f);
    spcpp("%o -delete", k->handle());
}

TEST(Text, CopiesItsTextsAndMakesAFontOnlyWithFaceAndSize) {
    char word[] = "Cutoff";
    auto* t = make<QZ_Wid_Text>("QZ_Wid_Text -w 96 -h 18");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->text, "test string");
    EXPECT_EQ(t->color, 0xFFFFFFu);
    spcpp("%o -text %s -font %s", t->handle(), word, word);
    std::strcpy(word, "XXXXXX");
    EXPECT_EQ(t->text, "Cutoff");
    EXPECT_EQ(t->face, "Cutoff");
    EXPECT_FALSE(t->has_font());  // no size yet

    auto* b = make<QZ_Wid_Text>("QZ_Wid_Text -bold 1");
    EXPECT_TRUE(b->bold);
    EXPECT_FALSE(b->has_font());
    spcpp("%o -font Tahoma -size 12", b->handle());
    ASSERT_TRUE(b->has_font());
    EXPECT_TRUE(b->font().bold);
    EXPECT_EQ(b->font().size, 12);
    std::uint32_t c = 0;
    spcpp("%o -color 0x00A57BBD -color", b->handle(), &c);
    EXPECT_EQ(c, 0x00A57BBDu);
    // A text widget has no -res: its class continues with the base's options.
    EXPECT_EQ(spcpp("%o -res bgnd", b->handle()), QZ_ERROR_COMMAND_NOT_PARAM);
    // Never attached: renders nothing.
    b->prepare();
    EXPECT_FALSE(b->rendered());
    spcpp("%o -delete", t->handle());
    spcpp("%o -delete", b->handle());
}

TEST(Wid, PictureResourceSizesAnEmptyWidgetAndRepeatsInALargerOne) {
    auto* bg = make<QZ_Wid_Pic>("QZ_Wid_Pic -res bgnd");
    ASSERT_NE(bg, nullptr);
    EXPECT_EQ(bg->width, 63);
    EXPECT_EQ(bg->height, 63);
    QZ_Win_Image win(200, 100);
    auto* big = make<QZ_Wid_Pic>("QZ_Wid_Pic -w 200 -h 100 -res BGND");
    ASSERT_EQ(big->width, 200);
    big->attach(&win);
    win.redraw({0, 0, 200, 100});
    for (int x : {0, 17, 62, 100})
        for (int y : {0, 30, 36}) EXPECT_EQ(win.image.at(x + 63, y), win.image.at(x, y)) << x << "," << y;

    Box_Recorder boxes;
    auto* none = make<QZ_Wid_Pic>("QZ_Wid_Pic -res nosuch");
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0].rfind("Error: nosuch\nFile: QZ_cfuncs\nLine: 121\nProc: QZ_resource", 0), 0u);
    EXPECT_EQ(none->width, 0);
    EXPECT_EQ(none->picture.pixels, nullptr);
    for (QZ_Wid* w : std::initializer_list<QZ_Wid*>{bg, big, none}) spcpp("%o -delete", w->handle());
}
