// Packing pictures into the two resource formats the editor reads:
// "QZIF" (one picture) and "QZVF" (a strip of frames stored as shared 4x4 blocks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace art {

// 8-bit BGRA pixels, straight alpha, rows top to bottom without padding.
struct Image {
    int w = 0, h = 0;
    std::vector<std::uint8_t> px;  // w*h*4 bytes
};

std::vector<std::uint8_t> encode_qzif(const Image& img);

struct StripInfo {
    std::uint32_t width = 0, height = 0, blocks = 0, frames = 0;
};

// Packs equally sized frames. Pixels of edge tiles outside the frame are
// stored as transparent zeros. Fails (returns false with a reason) when the
// frames differ in size, there are none, or more than 65536 distinct blocks
// would be needed, since the index table has 16-bit entries.
bool encode_qzvf(const std::vector<Image>& frames, std::vector<std::uint8_t>& out, std::string& error,
                 StripInfo* info = nullptr);

// Readers used by the preview and the tests. They check the magic, that the
// data is exactly as long as the header says and that every index names a
// block, and refuse anything else.
bool decode_qzif(const std::uint8_t* data, std::size_t size, Image& out);
bool decode_qzvf(const std::uint8_t* data, std::size_t size, StripInfo& info, std::vector<Image>& frames);

}  // namespace art
