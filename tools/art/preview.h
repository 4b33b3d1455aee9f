// Preview of the artwork as the editor shows it: the panel composed from the
// resource files with the editor's compositing rule, and a contact sheet.
#pragma once

#include <cstdint>
#include <string>

#include "art/pack.h"

namespace art {

// d <- d + ((s - d) * s.alpha) >> 8 on all four channels (note the divisor 256).
void compose_pixel(std::uint8_t* d, const std::uint8_t* s);
// Composes src over dst at (dx, dy), repeating src to fill w x h (like a picture widget).
void compose_tiled(Image& dst, const Image& src, int dx, int dy, int w, int h);

struct PanelState {
    bool on = true;       // switch state; off disables the cutoff widgets
    int knob_frame = 19;  // the frame for 1500 knob units, the effect's start value
    bool knob_hovered = false;
    std::string value_text = "130 Hz";
};

// Builds the 200 x 236 panel from the resource files in dir. text_font is the
// face used for the captions (empty: captions left out).
bool compose_panel(const std::string& dir, const std::string& text_font, const PanelState& st, Image& out,
                   std::string& error);
bool contact_sheet(const std::string& dir, Image& out, std::string& error);

Image upscale(const Image& img, int factor);
bool write_png(const std::string& path, const Image& img, std::string& error);

}  // namespace art
