// Sample conversion with arbitrary format words, counts and samples, at every
// vector width: no read or write outside the blocks a caller provides (count x
// stride bytes each), and a refused call writes only silence. Also mode names
// from arbitrary values.
#include <cstdint>
#include <cstring>
#include <vector>

#include "rts/convert_paths.h"
#include "rts/rts.h"

namespace {
template <class T>
T take(const std::uint8_t*& p, std::size_t& n) {
    T v{};
    const std::size_t k = n < sizeof v ? n : sizeof v;
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return v;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* p = data;
    std::size_t n = size;
    const std::uint8_t width = take<std::uint8_t>(p, n);
    const QZ_Rts_format sf = take<std::uint32_t>(p, n), df = take<std::uint32_t>(p, n);
    const std::uint16_t scount = take<std::uint16_t>(p, n) % 2048;
    const bool same = take<std::uint8_t>(p, n) & 1;
    const std::uint16_t dcount = same ? scount : take<std::uint16_t>(p, n) % 2048;

    const std::size_t sbytes = static_cast<std::size_t>(scount) * QZ_rts_format_stride(sf);
    const std::size_t dbytes = static_cast<std::size_t>(dcount) * QZ_rts_format_stride(df);
    std::vector<std::uint8_t> src(sbytes), dst(dbytes, 0xA5);
    for (std::size_t i = 0; i < sbytes && n; ++i) src[i] = take<std::uint8_t>(p, n);

    QZ_rts_limit_vector_width(width % 4 == 0 ? 0 : 64 << (width % 4));
    QZ_Rts::Chan s, d;
    s.format = sf;
    d.format = df;
    s.count = scount;
    d.count = dcount;
    s.data = sbytes ? src.data() : nullptr;
    d.data = dbytes ? dst.data() : nullptr;
    if (QZ_Rts::copyBuffer(&d, &s) == nullptr) {
        // Refused: samples are silence, everything else untouched; never garbage.
        for (std::uint8_t b : dst)
            if (b != 0 && b != 0xA5) __builtin_trap();
    }

    const std::int32_t rate = take<std::int32_t>(p, n), bits = take<std::int32_t>(p, n),
                       block = take<std::int32_t>(p, n), channels = take<std::int32_t>(p, n);
    QZ_Rts::Mode m(rate, bits, block, channels);
    if (std::strlen(m.name) > 63) __builtin_trap();
    return 0;
}
