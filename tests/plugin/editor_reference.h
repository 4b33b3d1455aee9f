// The editor's panel as the effect shows it, composed by the toolkit linked
// into the test program (not the module's): what the X11 and the Win32 editor
// tests compare the screen with.
#pragma once

#include <cmath>
#include <cstdio>

#include "core/command.h"
#include "gui/controls.h"
#include "gui/win.h"
#include "tests/gui/panel.h"

namespace plugtest {

// Knob units of frame p of the 265-frame knob strip.
inline float knob_value_of_frame(int p) { return static_cast<float>(20.0 + p / 264.0 * 19980.0); }

// The preset buttons at the group's bottom corners, the filter state, the knob
// value and its text.
struct Reference {
    using Panel = gui_test::Panel;
    QZ_Win_Image win{Panel::W, Panel::H};
    Panel panel{true};
    QZ_handle load = 0, save = 0;

    // `frame` >= 0 puts the knob on that frame directly, whatever -val would pick.
    Reference(bool on, float knob, int frame = -1) {
        spcpp("QZ_Wid_Butt -w 40 -h 24 -l %i -t %i -res load", &load, 24, 184);
        spcpp("QZ_Wid_Butt -w 40 -h 24 -l %i -t %i -res save", &save, 136, 184);
        spcpp("QZ_Wid_Butt %o -val %i", panel.button, on ? 1 : 0);
        for (QZ_handle h : {panel.texts[2], panel.knob, panel.value_text})
            spcpp("QZ_Wid %o -enabled %i", h, on ? 1 : 0);
        spcpp("QZ_Wid_Knob %o -val %f", panel.knob, static_cast<double>(knob));
        if (frame >= 0) QZ_object_as<QZ_Wid_Knob>(panel.knob)->position = frame;
        char text[32];
        std::snprintf(text, sizeof text, "%d Hz", static_cast<int>(std::lround(cutoff_exact(knob))));
        spcpp("QZ_Wid_Text %o -text %s", panel.value_text, text);
        panel.attach(win);
        for (QZ_handle h : {load, save}) spcpp("QZ_Wid %o -win %o", h, win.handle());
        win.redraw({0, 0, Panel::W, Panel::H});
    }
    ~Reference() {
        for (QZ_handle h : {load, save}) spcpp("%o -delete", h);
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    static double cutoff_exact(float v) {
        float t = (v - 20.0f) / 19980.0f;
        t = t * t;
        return 20.0f + 19980.0f * t;
    }
};

}  // namespace plugtest
