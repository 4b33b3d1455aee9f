// The editor panel (200 x 236) built by commands, widget by widget, as the
// plug-in's editor builds it: background, outer frame, banner, title, group
// frame, switch, captions, knob and value text.
#pragma once

#include <vector>

#include "core/command.h"
#include "core/resource.h"
#include "gui/win.h"

namespace gui_test {

struct Panel {
    static constexpr int W = 200, H = 236, B = 10, GL = 10, GT = 56, GW = 180, GH = 170;
    std::vector<QZ_handle> widgets;  // in slot order
    std::vector<QZ_handle> texts;
    QZ_handle button = 0, knob = 0, value_text = 0;
    bool ok = true;

    explicit Panel(bool with_texts) {
        auto add = [&](QZ_error e, const QZ_handle& h) {
            ok = ok && e == QZ_OK && h != 0;
            widgets.push_back(h);
            return h;
        };
        auto text = [&](QZ_error e, const QZ_handle& h) {
            if (with_texts)
                texts.push_back(add(e, h));
            else if (h)
                spcpp("%o -delete", h);
            return h;
        };
        QZ_handle h = 0;
        add(spcpp("QZ_Wid_Pic -w %i -h %i -l 0 -t 0 -res bgnd", &h, W, H), h);
        add(spcpp("QZ_Wid_Pic -w 10 -h 10 -l 0 -t 0 -res alt", &h), h);
        add(spcpp("QZ_Wid_Pic -w %i -h 10 -l 10 -t 0 -res amt", &h, W - 20), h);
        add(spcpp("QZ_Wid_Pic -w 10 -h 10 -l %i -t 0 -res art", &h, W - 10), h);
        add(spcpp("QZ_Wid_Pic -w 10 -h %i -l 0 -t 10 -res alm", &h, H - 20), h);
        add(spcpp("QZ_Wid_Pic -w 10 -h %i -l %i -t 10 -res arm", &h, H - 20, W - 10), h);
        add(spcpp("QZ_Wid_Pic -w 10 -h 10 -l 0 -t %i -res alb", &h, H - 10), h);
        add(spcpp("QZ_Wid_Pic -w %i -h 10 -l 10 -t %i -res amb", &h, W - 20, H - 10), h);
        add(spcpp("QZ_Wid_Pic -w 10 -h 10 -l %i -t %i -res arb", &h, W - 10, H - 10), h);
        add(spcpp("QZ_Wid_Pic -l %i -t 8 -res logo", &h, (W - 160) / 2), h);
        text(spcpp("QZ_Wid_Text -l 10 -t 35 -h 20 -w %i -text %s -font %s -size 12", &h, W - 20,
                   "1-st order low-pass", "Tahoma"),
             h);
        const char* pic = "QZ_Wid_Pic -w %i -h %i -l %i -t %i -res %s";
        add(spcpp(pic, &h, B, B, GL, GT, "glt"), h);
        add(spcpp(pic, &h, GW - 2 * B, B, GL + B, GT, "gmt"), h);
        add(spcpp(pic, &h, B, B, GL + GW - B, GT, "grt"), h);
        add(spcpp(pic, &h, B, GH - 2 * B, GL, GT + B, "glm"), h);
        add(spcpp(pic, &h, GW - 2 * B + 8, GH - 2 * B + 8, GL + B - 4, GT + B - 4, "gmm"), h);
        add(spcpp(pic, &h, B, GH - 2 * B, GL + GW - B, GT + B, "grm"), h);
        add(spcpp(pic, &h, B, B, GL, GT + GH - B, "glb"), h);
        add(spcpp(pic, &h, GW - 2 * B, B, GL + B, GT + GH - B, "gmb"), h);
        add(spcpp(pic, &h, B, B, GL + GW - B, GT + GH - B, "grb"), h);
        button = add(spcpp("QZ_Wid_Butt -w 40 -h 24 -l %i -t %i -res but", &h, GL + 11, GT + 11), h);
        text(spcpp("QZ_Wid_Text -l %i -t %i -w 80 -h 16 -color 0x00A57BBD -horz -1 -text Filter", &h, GL + 52,
                   GT + 14),
             h);
        text(spcpp("QZ_Wid_Text -font %s -size %i -color %i -text %s -l %i -t %i -w 96 -h 18", &h, "Tahoma",
                   12, 0xE0C0C0, "Cutoff frequency", GL + 40, GT + 48),
             h);
        knob = add(
            spcpp("QZ_Wid_Knob -w 64 -h 64 -l %i -t %i -res big -mn 20 -mx 20000", &h, GL + 56, GT + 70), h);
        value_text = text(spcpp("QZ_Wid_Text -font %s -size %i -color %i -text %s -l %i -t %i -w 64 -h 18",
                                &h, "Tahoma", 12, 0xB0B0B0, "130 Hz", GL + 56, GT + 138),
                          h);
        if (!with_texts) value_text = 0;
        // The state the plug-in starts in: filter on, cutoff knob at 1500.
        ok = ok && spcpp("QZ_Wid_Butt %o -val 1", button) == QZ_OK;
        ok = ok && spcpp("QZ_Wid_Knob %o -val %f", knob, 1500.0) == QZ_OK;
    }
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;
    ~Panel() {
        for (auto it = widgets.rbegin(); it != widgets.rend(); ++it) spcpp("%o -delete", *it);
    }

    bool attach(QZ_Win& win) {
        for (QZ_handle w : widgets)
            if (spcpp("QZ_Wid %o -win %o", w, win.handle()) != QZ_OK) return false;
        return true;
    }

    // The product's artwork is linked in (the tests need all of it).
    static bool artwork_present() {
        static const char* names[] = {"bgnd", "alt", "amt",  "art", "alm", "arm", "alb",
                                      "amb",  "arb", "logo", "glt", "gmt", "grt", "glm",
                                      "gmm",  "grm", "glb",  "gmb", "grb", "but", "big"};
        for (const char* n : names)
            if (!QZ_resource_find(n, nullptr)) return false;
        return true;
    }
};

}  // namespace gui_test
