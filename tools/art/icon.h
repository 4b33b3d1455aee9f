// The program's icons: the banner's response curve and cutoff dot on a dark
// tile in the editor's colours, drawn for each size rather than scaled, and
// packed as Windows icon files (32-bit pictures with alpha).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "art/pack.h"

namespace art {

// The large icon at `size` pixels square (any size from 16 up).
Image draw_icon(int size);
// The small one (title bar, task list): the same motif with fewer details,
// strokes kept at whole pixels.
Image draw_small_icon(int size);

// A .ico file holding the pictures in the order given (each square, at most
// 256 pixels): 32-bit BGRA with straight alpha and the 1-bit mask Windows
// still reads for the transparent pixels.
std::vector<std::uint8_t> encode_ico(const std::vector<Image>& pictures);

// The sizes desktop menus take from the icon theme (hicolor/NxN/apps).
inline constexpr int kDesktopIconSizes[] = {16, 32, 48, 128, 256};

// A PNG file with the picture's alpha kept (a desktop icon over any background).
bool write_icon_png(const std::string& path, const Image& icon, std::string& error);

}  // namespace art
