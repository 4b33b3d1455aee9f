// Text for the artwork (banner and button labels), rasterised with FreeType.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace art {

// Grey-level coverage of a line of text. Pixel (x, y) of the mask lies at
// (x + left, y + top) relative to the pen origin on the baseline.
struct TextMask {
    int w = 0, h = 0;
    int left = 0, top = 0;  // top is negative: rows above the baseline
    int advance = 0;        // total advance width in pixels
    std::vector<std::uint8_t> cov;
    std::uint8_t at(int x, int y) const {
        return (x < 0 || y < 0 || x >= w || y >= h) ? 0 : cov[static_cast<std::size_t>(y) * w + x];
    }
};

// Renders text with the font file at the given pixel size. Returns false
// (with a reason) when the font cannot be loaded.
bool render_text(const std::string& font_file, int pixel_size, const std::string& text, TextMask& out,
                 std::string& error);

}  // namespace art
