// The editor's artwork: every picture and strip drawn procedurally, then packed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "art/pack.h"

namespace art {

struct Resource {
    std::string name;  // file name, which is also the resource name
    std::vector<std::uint8_t> bytes;
};

struct ArtOptions {
    std::string font_bold;     // banner title and button labels
    std::string font_regular;  // banner web address
};

// The default fonts (from the build configuration).
ArtOptions default_art_options();

// Key colour of the segment pixels in the two meter faces (I41X89, I91X17):
// green and blue as given here, red = segment number (0 = lowest level): a
// level meter reads them with "-ch r -cg 0x00002A36".
constexpr std::uint32_t kMeterKey = 0x00002A36u;  // 0x00RRGGBB in pixel word order

// Draws and packs all 28 resources, sorted by name.
bool make_artwork(const ArtOptions& opt, std::vector<Resource>& out, std::string& error);

// Single drawings, also used by the preview and the tests.
Image draw_knob(int size, int frame, int frames);
Image draw_switch(bool on);

}  // namespace art
