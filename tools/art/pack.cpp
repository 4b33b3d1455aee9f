#include "art/pack.h"

#include <array>
#include <cstring>
#include <map>

namespace art {

namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_magic(std::vector<std::uint8_t>& out, const char* m) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(m[i]));
}

using Block = std::array<std::uint8_t, 64>;

}  // namespace

std::vector<std::uint8_t> encode_qzif(const Image& img) {
    std::vector<std::uint8_t> out;
    out.reserve(12 + img.px.size());
    put_magic(out, "QZIF");
    put32(out, static_cast<std::uint32_t>(img.w));
    put32(out, static_cast<std::uint32_t>(img.h));
    out.insert(out.end(), img.px.begin(), img.px.end());
    return out;
}

bool encode_qzvf(const std::vector<Image>& frames, std::vector<std::uint8_t>& out, std::string& error,
                 StripInfo* info) {
    if (frames.empty() || frames[0].w <= 0 || frames[0].h <= 0) {
        error = "a strip needs at least one non-empty frame";
        return false;
    }
    const int w = frames[0].w, h = frames[0].h;
    const int tw = (w - 1) / 4 + 1, th = (h - 1) / 4 + 1;
    std::map<Block, std::uint32_t> numbers;
    std::vector<const Block*> order;  // blocks in the order they were first met
    std::vector<std::uint16_t> index;
    index.reserve(frames.size() * tw * th);
    for (const Image& f : frames) {
        if (f.w != w || f.h != h || f.px.size() != static_cast<std::size_t>(w) * h * 4) {
            error = "frames of a strip must all have the same size";
            return false;
        }
        for (int ty = 0; ty < th; ++ty)
            for (int tx = 0; tx < tw; ++tx) {
                Block b{};
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 4; ++x) {
                        int sx = tx * 4 + x, sy = ty * 4 + y;
                        if (sx < w && sy < h)
                            std::memcpy(&b[(y * 4 + x) * 4],
                                        &f.px[(static_cast<std::size_t>(sy) * w + sx) * 4], 4);
                    }
                auto it = numbers.find(b);
                if (it == numbers.end()) {
                    if (numbers.size() == 65536) {
                        error = "more than 65536 distinct blocks";
                        return false;
                    }
                    it = numbers.emplace(b, static_cast<std::uint32_t>(numbers.size())).first;
                    order.push_back(&it->first);
                }
                index.push_back(static_cast<std::uint16_t>(it->second));
            }
    }
    out.clear();
    out.reserve(20 + 64 * order.size() + 2 * index.size());
    put_magic(out, "QZVF");
    put32(out, static_cast<std::uint32_t>(w));
    put32(out, static_cast<std::uint32_t>(h));
    put32(out, static_cast<std::uint32_t>(order.size()));
    put32(out, static_cast<std::uint32_t>(frames.size()));
    for (const Block* b : order) out.insert(out.end(), b->begin(), b->end());
    for (std::uint16_t i : index) {
        out.push_back(static_cast<std::uint8_t>(i));
        out.push_back(static_cast<std::uint8_t>(i >> 8));
    }
    if (info)
        *info =
            StripInfo{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h),
                      static_cast<std::uint32_t>(order.size()), static_cast<std::uint32_t>(frames.size())};
    return true;
}

bool decode_qzif(const std::uint8_t* data, std::size_t size, Image& out) {
    if (!data || size < 12 || std::memcmp(data, "QZIF", 4) != 0) return false;
    std::uint64_t w = get32(data + 4), h = get32(data + 8);
    if (w > 65535 || h > 65535 || size != 12 + 4 * w * h) return false;
    out.w = static_cast<int>(w);
    out.h = static_cast<int>(h);
    out.px.assign(data + 12, data + size);
    return true;
}

bool decode_qzvf(const std::uint8_t* data, std::size_t size, StripInfo& info, std::vector<Image>& frames) {
    if (!data || size < 20 || std::memcmp(data, "QZVF", 4) != 0) return false;
    std::uint64_t w = get32(data + 4), h = get32(data + 8), b = get32(data + 12), f = get32(data + 16);
    if (w == 0 || h == 0 || w > 65535 || h > 65535 || b > 65536) return false;
    std::uint64_t tw = (w - 1) / 4 + 1, th = (h - 1) / 4 + 1;
    if (f > (std::uint64_t(1) << 32) / (tw * th) || size != 20 + 64 * b + 2 * f * tw * th) return false;
    const std::uint8_t* blocks = data + 20;
    const std::uint8_t* idx = blocks + 64 * b;
    std::vector<Image> result(static_cast<std::size_t>(f));
    for (std::uint64_t k = 0; k < f; ++k) {
        Image& img = result[k];
        img.w = static_cast<int>(w);
        img.h = static_cast<int>(h);
        img.px.assign(w * h * 4, 0);
        for (std::uint64_t ty = 0; ty < th; ++ty)
            for (std::uint64_t tx = 0; tx < tw; ++tx) {
                const std::uint8_t* e = idx + 2 * (k * tw * th + ty * tw + tx);
                std::uint32_t n = static_cast<std::uint32_t>(e[0]) | static_cast<std::uint32_t>(e[1]) << 8;
                if (n >= b) return false;
                for (std::uint64_t y = 0; y < 4; ++y)
                    for (std::uint64_t x = 0; x < 4; ++x) {
                        std::uint64_t px = tx * 4 + x, py = ty * 4 + y;
                        if (px < w && py < h)
                            std::memcpy(&img.px[(py * w + px) * 4], blocks + 64 * n + (y * 4 + x) * 4, 4);
                    }
            }
    }
    info = StripInfo{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h),
                     static_cast<std::uint32_t>(b), static_cast<std::uint32_t>(f)};
    frames = std::move(result);
    return true;
}

}  // namespace art
