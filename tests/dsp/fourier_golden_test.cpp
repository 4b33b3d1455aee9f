// The transform's outputs pinned down: hashes of the butterflies' and the
// transform effect's results for fixed inputs at every size the transform
// accepts (s = 0..11), recorded from the straightforward integer code. Faster
// versions must keep every one of them. On a mismatch the message shows the
// hash computed now.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/command.h"
#include "dsp/fourier.h"
#include "dsp/fourier_math.h"
#include "tests/dsp/dsp_test_util.h"

namespace {

struct Mix {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
};

struct Fnv {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    void add(std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int i = 0; i < 4; ++i) {
            h ^= (u >> (8 * i)) & 0xFF;
            h *= 0x100000001B3ULL;
        }
    }
    void add(const std::vector<std::int32_t>& v) {
        for (std::int32_t x : v) add(x);
    }
};

// Kinds of input: full range, the extremes, tiny values (ties everywhere),
// random magnitudes, values around 0.7 of full scale, triangle waves with noise (sound-like),
// and runs of eight alternating between tiny and full scale.
constexpr int KINDS = 7;

std::vector<std::int32_t> input(int s, int kind, bool forward) {
    const std::size_t words = std::size_t{4} << s;
    Mix rng{static_cast<std::uint64_t>(s * 131 + kind * 7 + (forward ? 1 : 0))};
    std::vector<std::int32_t> v(words);
    for (std::size_t i = 0; i < words; ++i) {
        const std::uint64_t r = rng.next();
        std::int32_t x = 0;
        switch (kind) {
            case 0: x = static_cast<std::int32_t>(r); break;
            case 1:
                x = (r & 1) ? INT32_MIN + static_cast<std::int32_t>((r >> 1) % 3)
                            : INT32_MAX - static_cast<std::int32_t>((r >> 1) % 3);
                break;
            case 2: x = static_cast<std::int32_t>(r % 9) - 4; break;
            case 3: x = static_cast<std::int32_t>(r) >> (r >> 59); break;
            case 4: {
                const std::int32_t m = 1518500249 + static_cast<std::int32_t>((r >> 8) % 65536) - 32768;
                x = (r & 1) ? m : -m;
                break;
            }
            case 5: {
                // two triangle waves and some noise, in integers alone
                const std::int64_t t = static_cast<std::int64_t>(i / 2);
                const std::int64_t p1 = (t * 37) % 1024, p2 = (t * 611 + 100) % 256;
                const std::int64_t tri1 = (p1 < 512 ? p1 : 1024 - p1) - 256;
                const std::int64_t tri2 = (p2 < 128 ? p2 : 256 - p2) - 64;
                x = static_cast<std::int32_t>(tri1 * 3500000 + tri2 * 7800000 +
                                              (static_cast<std::int32_t>(r) >> 8));
                break;
            }
            default:
                x = ((i / 8) & 1) ? static_cast<std::int32_t>(r) : static_cast<std::int32_t>(r % 2001) - 1000;
                break;
        }
        v[i] = x;
    }
    // a forward transform usually sees real samples: every other kind keeps
    // the imaginary parts zero
    if (forward && (kind & 1))
        for (std::size_t i = 1; i < words; i += 2) v[i] = 0;
    return v;
}

std::uint64_t butterflies_hash(void (*f)(std::int32_t*, int, bool), int s, bool forward) {
    Fnv h;
    for (int kind = 0; kind < KINDS; ++kind) {
        std::vector<std::int32_t> v = input(s, kind, forward);
        f(v.data(), s, forward);
        h.add(v);
    }
    return h.h;
}

// Recorded hashes, [s][0] forward and [s][1] backward.
constexpr std::uint64_t BUTTERFLIES[12][2] = {
    {0x2585481A46837761ULL, 0x34EB94294F8BBD2DULL},
    {0x9FCC6A87659B8C44ULL, 0x2FE9ED5CA97E0A91ULL},
    {0x6ADB149429B7BDFAULL, 0x57FF226819A27ECAULL},
    {0x2A2CC56D9F5F88A3ULL, 0x4764800187EDBD8DULL},
    {0x1DF22B277E88C442ULL, 0xE40500F8275887D7ULL},
    {0x4F098C9E9136015DULL, 0x5DC60E5212DD58A6ULL},
    {0xA36D569BF145222EULL, 0x79F509EF22B5E05BULL},
    {0xEB88D2E06CAE221CULL, 0xB321FDB13DA96C47ULL},
    {0xECD26B4D2A19CF33ULL, 0x02EFEA0DD849E9C4ULL},
    {0xF4FE32FC3B8B0B46ULL, 0xF9E361ED8AE05375ULL},
    {0x3F2247C04F7048C3ULL, 0xA16AD8F9B8B55316ULL},
    {0xD5BF73F2F9ED9B9BULL, 0x6B9F5E02F8FBE2E9ULL},
};

// The transform effect over three passes, forward (its history carrying over
// between passes) and backward.
constexpr std::uint64_t EFFECT[12] = {
    0x9876A5DA1C8083B3ULL,
    0xF5FF7307BCFA2C48ULL,
    0x18DA30F028B2D30EULL,
    0x1C2953CFBBB60E6EULL,
    0x7FF787624398E3B9ULL,
    0xE5E2099CA3DB277FULL,
    0xCB7CC77AF72D5728ULL,
    0xE1CDFE16BC298AC1ULL,
    0xAA3CB89FA0D81DE5ULL,
    0x0D5D3C8020C42B68ULL,
    0x8F5EC348E0E3151AULL,
    0xDACC83C675FD63B0ULL,
};

std::uint64_t effect_hash(int s) {
    const int n = 2 << s;
    Owned own;
    const QZ_handle pipe = own.pipe(2 * n);
    const QZ_handle in = own.buffer("in");
    QZ_handle fwd = 0, back = 0;
    EXPECT_EQ(spcpp("QZ_Fourier_Transform -i %o -s %i", &fwd, in, s), QZ_OK);
    own.keep(fwd);
    EXPECT_EQ(spcpp("QZ_Fourier_Transform -i %o -s %i -d backward", &back, in, s), QZ_OK);
    own.keep(back);
    end_construction(pipe);
    Fnv h;
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<std::int32_t> x = input(s, 3 + 2 * pass, pass != 1);
        x.resize(static_cast<std::size_t>(2 * n));
        fill(in, x);
        pipe_of(pipe)->process();
        for (QZ_handle e : {fwd, back}) h.add(main_of(QZ_handle_of(fx<QZ_Fourier_Transform>(e)->spectrum())));
    }
    return h.h;
}

}  // namespace

TEST(FourierRecorded, ButterfliesKeepTheirResultsAtEverySize) {
    for (int s = 0; s <= 11; ++s)
        for (int dir = 0; dir < 2; ++dir) {
            const bool forward = dir == 0;
            const std::string where = "s=" + std::to_string(s) + (forward ? " forward" : " backward");
            EXPECT_EQ(butterflies_hash(QZ_fourier_butterflies, s, forward), BUTTERFLIES[s][dir]) << where;
            EXPECT_EQ(butterflies_hash(QZ_fourier_butterflies_scalar, s, forward), BUTTERFLIES[s][dir])
                << where << " (portable path)";
        }
}

TEST(FourierRecorded, TransformEffectKeepsItsResultsAtEverySize) {
    for (int s = 0; s <= QZ_Fourier_Transform::MAX_S; ++s) EXPECT_EQ(effect_hash(s), EFFECT[s]) << "s=" << s;
}
