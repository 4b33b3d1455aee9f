// Helpers for the graphics tests: pictures and strips built in memory, and a
// message-box hook that records the reports.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/error.h"
#include "gui/pic.h"

namespace gui_test {

using Bytes = std::vector<unsigned char>;

inline void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
inline void put_pix(Bytes& b, QZ_Pix_A32 p) {
    b.push_back(p.b);
    b.push_back(p.g);
    b.push_back(p.r);
    b.push_back(p.a);
}

inline Bytes make_qzif(std::uint32_t w, std::uint32_t h, const std::function<QZ_Pix_A32(int, int)>& px) {
    Bytes b = {'Q', 'Z', 'I', 'F'};
    put32(b, w);
    put32(b, h);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) put_pix(b, px(static_cast<int>(x), static_cast<int>(y)));
    return b;
}

// A strip with equal 4x4 tiles shared, as the format wants.
inline Bytes make_qzvf(std::uint32_t w, std::uint32_t h, std::uint32_t frames,
                       const std::function<QZ_Pix_A32(int, int, int)>& px,
                       std::uint32_t* block_count = nullptr) {
    const std::uint32_t tw = (w - 1) / 4 + 1, th = (h - 1) / 4 + 1;
    std::map<Bytes, std::uint16_t> ids;
    std::vector<Bytes> blocks;
    std::vector<std::uint16_t> index;
    for (std::uint32_t f = 0; f < frames; ++f)
        for (std::uint32_t ty = 0; ty < th; ++ty)
            for (std::uint32_t tx = 0; tx < tw; ++tx) {
                Bytes blk;
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x) {
                        const int fx = static_cast<int>(tx * 4) + x, fy = static_cast<int>(ty * 4) + y;
                        put_pix(blk, (fx < static_cast<int>(w) && fy < static_cast<int>(h))
                                         ? px(static_cast<int>(f), fx, fy)
                                         : QZ_Pix_A32{0, 0, 0, 0});
                    }
                auto it = ids.find(blk);
                if (it == ids.end()) {
                    it = ids.emplace(blk, static_cast<std::uint16_t>(blocks.size())).first;
                    blocks.push_back(blk);
                }
                index.push_back(it->second);
            }
    Bytes b = {'Q', 'Z', 'V', 'F'};
    put32(b, w);
    put32(b, h);
    put32(b, static_cast<std::uint32_t>(blocks.size()));
    put32(b, frames);
    for (const Bytes& blk : blocks) b.insert(b.end(), blk.begin(), blk.end());
    for (std::uint16_t i : index) {
        b.push_back(static_cast<unsigned char>(i));
        b.push_back(static_cast<unsigned char>(i >> 8));
    }
    if (block_count) *block_count = static_cast<std::uint32_t>(blocks.size());
    return b;
}

// Records every message box while alive.
class Box_Recorder {
public:
    Box_Recorder() : old_(QZ_set_message_box(&record)) { texts().clear(); }
    ~Box_Recorder() { QZ_set_message_box(old_); }
    static std::vector<std::string>& texts() {
        static std::vector<std::string> t;
        return t;
    }

private:
    static int record(const char* text, const char*) {
        texts().push_back(text);
        return QZ_IDOK;
    }
    QZ_message_box_fn old_;
};

inline QZ_Pix_A32 px(std::uint32_t word) { return QZ_Pix_A32::from_word(word); }

}  // namespace gui_test
