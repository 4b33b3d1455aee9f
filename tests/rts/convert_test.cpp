// Sample conversion: exact values at the edges of every rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "rts/convert_paths.h"
#include "rts/rts.h"

namespace {

struct Block {
    std::vector<unsigned char> bytes;
    QZ_Rts::Chan chan;
    // `slack` bytes follow the block (0: a read past it is caught by ASan).
    Block(QZ_Rts_format f, int count, unsigned char fill = 0xAB, std::size_t slack = 16)
        : bytes(static_cast<std::size_t>(count) * QZ_rts_format_stride(f) + slack, fill) {
        chan.format = f;
        chan.count = count;
        chan.data = bytes.data();
    }
    unsigned char* at(int k) { return bytes.data() + static_cast<std::size_t>(k) * QZ_rts_format_stride(chan.format); }
    template <class T>
    T get(int k) {
        T v;
        std::memcpy(&v, at(k), sizeof v);
        return v;
    }
    template <class T>
    void put(int k, T v) {
        std::memcpy(at(k), &v, sizeof v);
    }
};

QZ_error copy(Block& d, Block& s) { return QZ_Rts::copyBuffer(&d.chan, &s.chan); }
void check_every_narrow_sample();

}  // namespace

TEST(RtsConvert, TwentyFourBitsAssembleWithUnsignedLowBytes) {
    Block s(QZ_RTS_INT24, 2), d(QZ_RTS_INT32, 2);
    const unsigned char in[] = {0x80, 0x80, 0x00, 0x00, 0x00, 0x80};
    std::memcpy(s.at(0), in, sizeof in);
    ASSERT_EQ(copy(d, s), QZ_OK);
    EXPECT_EQ(d.get<std::int32_t>(0), 0x00808000);  // 0x008080 at the top, positive
    EXPECT_EQ(d.get<std::int32_t>(1), INT32_MIN);   // top byte signed
}

TEST(RtsConvert, IntegerToFloatFullScale) {
    Block s(QZ_RTS_INT16, 4), d(QZ_RTS_FLOAT32, 4);
    s.put<std::int16_t>(0, -32768);
    s.put<std::int16_t>(1, 32767);
    s.put<std::int16_t>(2, 0);
    s.put<std::int16_t>(3, -1);
    ASSERT_EQ(copy(d, s), QZ_OK);
    EXPECT_EQ(d.get<float>(0), -1.0f);
    EXPECT_EQ(d.get<float>(1), 0.999969482421875f);
    EXPECT_EQ(d.get<float>(2), 0.0f);
    EXPECT_EQ(d.get<float>(3), -1.0f / 32768.0f);

    // 32-bit integers go through v / (2^31 - 1): the most negative one is clamped.
    Block s32(QZ_RTS_INT32, 3), d64(QZ_RTS_FLOAT64, 3);
    s32.put<std::int32_t>(0, INT32_MIN);
    s32.put<std::int32_t>(1, INT32_MAX);
    s32.put<std::int32_t>(2, 1);
    ASSERT_EQ(copy(d64, s32), QZ_OK);
    EXPECT_EQ(d64.get<double>(0), -1.0);
    EXPECT_EQ(d64.get<double>(1), 1.0);
    EXPECT_EQ(d64.get<double>(2), static_cast<double>(1.0L / 2147483647.0L));
}

TEST(RtsConvert, FloatToIntegerClampsScalesAndTruncates) {
    Block s(QZ_RTS_FLOAT32, 6), d(QZ_RTS_INT16, 6);
    s.put<float>(0, 1.5f);
    s.put<float>(1, std::numeric_limits<float>::quiet_NaN());
    s.put<float>(2, -7.0f);
    s.put<float>(3, 0.5f);
    s.put<float>(4, -std::numeric_limits<float>::infinity());
    s.put<float>(5, -0.5f);
    ASSERT_EQ(copy(d, s), QZ_OK);
    EXPECT_EQ(d.get<std::int16_t>(0), 32767);
    EXPECT_EQ(d.get<std::int16_t>(1), -32768);
    EXPECT_EQ(d.get<std::int16_t>(2), -32768);
    EXPECT_EQ(d.get<std::int16_t>(3), 16383);  // 0x3FFFFFFF shifted down
    EXPECT_EQ(d.get<std::int16_t>(4), -32768);
    EXPECT_EQ(d.get<std::int16_t>(5), -16384);  // arithmetic shift keeps the sign

    Block d32(QZ_RTS_INT32, 6);
    ASSERT_EQ(copy(d32, s), QZ_OK);
    EXPECT_EQ(d32.get<std::int32_t>(0), INT32_MAX);
    EXPECT_EQ(d32.get<std::int32_t>(1), -INT32_MAX);
    EXPECT_EQ(d32.get<std::int32_t>(3), 1073741823);
}

TEST(RtsConvert, FloatToFloatClamps) {
    Block s(QZ_RTS_FLOAT32, 3), d(QZ_RTS_FLOAT32, 3);
    s.put<float>(0, 2.0f);
    s.put<float>(1, std::numeric_limits<float>::quiet_NaN());
    s.put<float>(2, 0.25f);
    ASSERT_EQ(copy(d, s), QZ_OK);
    EXPECT_EQ(d.get<float>(0), 1.0f);
    EXPECT_EQ(d.get<float>(1), -1.0f);
    EXPECT_EQ(d.get<float>(2), 0.25f);
}

TEST(RtsConvert, NarrowSamplesInThirtyTwoBitContainers) {
    // 16 significant bits: the upper half of the container is dropped.
    Block s(QZ_RTS_INT32_16, 1), d(QZ_RTS_INT16, 1);
    s.put<std::int32_t>(0, 0x00017FFF);
    ASSERT_EQ(copy(d, s), QZ_OK);
    EXPECT_EQ(d.get<std::int16_t>(0), 0x7FFF);

    // 18, 20 and 24 bits sign-extend from their own top bit, and are written back
    // into the low bits with the sign above them.
    const QZ_Rts_format words[] = {QZ_RTS_INT32_18, QZ_RTS_INT32_20, QZ_RTS_INT32_24};
    const unsigned bits[] = {18, 20, 24};
    for (int i = 0; i < 3; ++i) {
        Block n(words[i], 2), wide(QZ_RTS_INT32, 2);
        const std::int32_t top = 1 << (bits[i] - 1);
        n.put<std::int32_t>(0, top | 0x7F000000);  // negative full scale, junk above
        n.put<std::int32_t>(1, top - 1);
        ASSERT_EQ(copy(wide, n), QZ_OK);
        EXPECT_EQ(wide.get<std::int32_t>(0), INT32_MIN) << bits[i];
        EXPECT_EQ(wide.get<std::int32_t>(1), INT32_MAX - ((1 << (32 - bits[i])) - 1)) << bits[i];
        Block back(words[i], 2);
        ASSERT_EQ(copy(back, wide), QZ_OK);
        EXPECT_EQ(back.get<std::int32_t>(0), -top) << bits[i];
        EXPECT_EQ(back.get<std::int32_t>(1), top - 1) << bits[i];
    }
}

TEST(RtsConvert, StridesReadAndWriteInterleavedChannels) {
    // Right channel of interleaved 24-bit stereo into a four-channel 16-bit block.
    Block s(0x1806, 3), d(0x1008, 3, 0x11);
    s.chan.data = s.bytes.data() + 3;
    const std::int32_t right[] = {0x123456, -0x123456, 0x7FFFFF};
    for (int k = 0; k < 3; ++k) {
        unsigned char* p = s.at(k) + 3;
        p[0] = static_cast<unsigned char>(right[k]);
        p[1] = static_cast<unsigned char>(right[k] >> 8);
        p[2] = static_cast<unsigned char>(right[k] >> 16);
    }
    d.chan.data = d.bytes.data() + 2;
    ASSERT_EQ(copy(d, s), QZ_OK);
    for (int k = 0; k < 3; ++k) {
        std::int16_t v;
        std::memcpy(&v, d.at(k) + 2, 2);
        EXPECT_EQ(v, right[k] >> 8);
        // The other channels of the frame are untouched.
        EXPECT_EQ(d.at(k)[0], 0x11);
        EXPECT_EQ(d.at(k)[4], 0x11);
    }
}

TEST(RtsConvert, DoublesAreConvertedAsDoubles) {
    Block s(QZ_RTS_FLOAT64, 2), d(QZ_RTS_FLOAT64, 2), i(QZ_RTS_INT32, 2);
    s.put<double>(0, 0.1);
    s.put<double>(1, -3.0);
    ASSERT_EQ(copy(d, s), QZ_OK);
    EXPECT_EQ(d.get<double>(0), 0.1);
    EXPECT_EQ(d.get<double>(1), -1.0);
    ASSERT_EQ(copy(i, s), QZ_OK);
    EXPECT_EQ(i.get<std::int32_t>(0), static_cast<std::int32_t>(0.1 * 2147483647.0));
}

// Integer-to-float loops give what the rule v / (2^31 - 1) rounded to double,
// clamped and rounded to float gives, for every 16- and 24-bit sample, whichever
// vector width converts them.
TEST(RtsConvert, NarrowIntegersToFloatMatchTheRuleForEverySample) {
    for (int width : {512, 256, 128, 0}) {
        SCOPED_TRACE(width);
        QZ_rts_limit_vector_width(width);
        check_every_narrow_sample();
    }
    QZ_rts_limit_vector_width(512);
}

// Float to 32-bit integers at every width, for values at and around the edges,
// and block lengths that leave tails after the vector steps.
TEST(RtsConvert, FloatToInt32IsTheSameAtEveryWidth) {
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, 1.0000001f, -1.0000001f, 0.99999994f, -0.99999994f,
                                 std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::denorm_min(), 1e-30f, -1e-30f, 0.5f, -0.5f, 3e9f};
    std::uint32_t seed = 12345;
    while (values.size() < 4099) {
        seed = seed * 1664525u + 1013904223u;
        float f;
        const std::uint32_t bits = (seed >> 9) | 0x3F000000u;  // in [0.5, 1)
        std::memcpy(&f, &bits, 4);
        values.push_back((seed & 1) ? -f : f * (seed & 2 ? 1.0f : 1e-3f));
    }
    for (int n : {4099, 7, 1}) {
        Block s(QZ_RTS_FLOAT32, n, 0, 0), ref(QZ_RTS_INT32, n, 0, 0);
        for (int k = 0; k < n; ++k) s.put<float>(k, values[static_cast<std::size_t>(k)]);
        QZ_rts_limit_vector_width(0);
        ASSERT_EQ(copy(ref, s), QZ_OK);
        for (int k = 0; k < n; ++k) {
            double x = values[static_cast<std::size_t>(k)];
            if (x > 1.0) x = 1.0;
            if (!(x >= -1.0)) x = -1.0;
            ASSERT_EQ(ref.get<std::int32_t>(k), static_cast<std::int32_t>(x * 2147483647.0)) << k;
        }
        for (int width : {128, 256, 512}) {
            QZ_rts_limit_vector_width(width);
            Block d(QZ_RTS_INT32, n, 0, 0);
            ASSERT_EQ(copy(d, s), QZ_OK);
            EXPECT_EQ(std::memcmp(d.bytes.data(), ref.bytes.data(), static_cast<std::size_t>(n) * 4), 0)
                << width << " " << n;
        }
    }
    QZ_rts_limit_vector_width(512);
}

// Every exponent a sample below full scale can have, with mantissas at both
// ends and between, both signs: the vector paths against the rule in doubles
// (where the fraction of x 2^31 meets x itself, and at 2^31).
TEST(RtsConvert, FloatToInt32AtEveryExponent) {
    std::vector<float> values;
    std::uint32_t seed = 777;
    for (std::uint32_t e = 1; e <= 127; ++e)
        for (int j = 0; j < 40; ++j) {
            seed = seed * 1664525u + 1013904223u;
            const std::uint32_t mant = j == 0 ? 0u : j == 1 ? 1u : j == 2 ? 0x7FFFFFu : j == 3 ? 0x400000u : seed >> 9;
            const std::uint32_t bits = (e << 23) | mant;
            float f;
            std::memcpy(&f, &bits, 4);
            if (f > 1.0f) continue;
            values.push_back(f);
            values.push_back(-f);
        }
    const int n = static_cast<int>(values.size());
    Block s(QZ_RTS_FLOAT32, n, 0, 0);
    for (int k = 0; k < n; ++k) s.put<float>(k, values[static_cast<std::size_t>(k)]);
    for (int width : {0, 128, 256, 512}) {
        QZ_rts_limit_vector_width(width);
        Block d(QZ_RTS_INT32, n, 0, 0);
        ASSERT_EQ(copy(d, s), QZ_OK);
        int bad = 0;
        for (int k = 0; k < n; ++k) {
            const double x = values[static_cast<std::size_t>(k)];
            const auto want = static_cast<std::int32_t>(x * 2147483647.0);
            if (d.get<std::int32_t>(k) != want && bad++ < 5)
                ADD_FAILURE() << "width " << width << ": " << x << " gave " << d.get<std::int32_t>(k) << ", not "
                              << want;
        }
        EXPECT_EQ(bad, 0) << width;
    }
    QZ_rts_limit_vector_width(512);
}

namespace {
void check_every_narrow_sample() {
    constexpr int n = 1 << 16;
    Block s16(QZ_RTS_INT16, n), f(QZ_RTS_FLOAT32, n);
    for (int k = 0; k < n; ++k) s16.put<std::int16_t>(k, static_cast<std::int16_t>(k - 32768));
    ASSERT_EQ(copy(f, s16), QZ_OK);
    auto rule = [](std::int32_t v) {
        double x = static_cast<double>(static_cast<long double>(v) * (1.0L / 2147483647.0L));
        if (x > 1.0) x = 1.0;
        if (!(x >= -1.0)) x = -1.0;
        return static_cast<float>(x);
    };
    int wrong = 0;
    for (int k = 0; k < n; ++k) wrong += f.get<float>(k) != rule((k - 32768) * 65536);
    EXPECT_EQ(wrong, 0);

    Block s24(QZ_RTS_INT24, n);
    for (int chunk = 0; chunk < 256; ++chunk) {
        for (int k = 0; k < n; ++k) {
            const std::int32_t v = (chunk << 16 | k) - (1 << 23);
            unsigned char* p = s24.at(k);
            p[0] = static_cast<unsigned char>(v);
            p[1] = static_cast<unsigned char>(v >> 8);
            p[2] = static_cast<unsigned char>(v >> 16);
        }
        ASSERT_EQ(copy(f, s24), QZ_OK);
        for (int k = 0; k < n; ++k)
            wrong += f.get<float>(k) != rule(static_cast<std::int32_t>(static_cast<std::uint32_t>((chunk << 16 | k) - (1 << 23)) << 8));
    }
    EXPECT_EQ(wrong, 0);

    // Blocks that end inside a vector step, with nothing readable after them.
    for (int count : {1, 9, 10, 11, 13, 17, 31}) {
        Block a(QZ_RTS_INT16, count, 0, 0), b(QZ_RTS_INT24, count, 0, 0), fa(QZ_RTS_FLOAT32, count, 0, 0),
            fb(QZ_RTS_FLOAT32, count, 0, 0);
        std::memcpy(a.at(0), s16.at(n - count), static_cast<std::size_t>(count) * 2);
        std::memcpy(b.at(0), s24.at(n - count), static_cast<std::size_t>(count) * 3);
        ASSERT_EQ(copy(fa, a), QZ_OK);
        ASSERT_EQ(copy(fb, b), QZ_OK);
        for (int k = 0; k < count; ++k) {
            EXPECT_EQ(fa.get<float>(k), rule((n - count + k - 32768) * 65536)) << count;
            EXPECT_EQ(fb.get<float>(k), rule(static_cast<std::int32_t>(
                                            static_cast<std::uint32_t>((255 << 16 | (n - count + k)) - (1 << 23)) << 8)))
                << count;
        }
    }
}
}  // namespace

TEST(RtsConvert, MismatchedCountIsRefusedWithSilenceAndLaterCallsStillConvert) {
    Block s(QZ_RTS_FLOAT32, 4), d(QZ_RTS_INT16, 5, 0x55);
    for (int k = 0; k < 4; ++k) s.put<float>(k, 0.5f);
    const std::uint32_t before = QZ_Rts::copyRefusals();
    EXPECT_EQ(copy(d, s), nullptr);
    EXPECT_EQ(QZ_Rts::copyRefusals(), before + 1);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(d.get<std::int16_t>(k), 0) << k;  // not the stale 0x5555
    EXPECT_EQ(d.bytes[10], 0x55);                                           // nothing past the block

    // The refusal concerns that call only.
    Block d4(QZ_RTS_INT16, 4);
    EXPECT_EQ(copy(d4, s), QZ_OK);
    EXPECT_EQ(d4.get<std::int16_t>(3), 16383);
}

TEST(RtsConvert, UnreadableOrUnwritableWordsConvertNothing) {
    Block good(QZ_RTS_FLOAT32, 2);
    good.put<float>(0, 0.5f);
    good.put<float>(1, 0.5f);
    // Float of 16 bits, 40-bit container, zero bits, 12 bits in no whole byte,
    // stride shorter than the sample.
    const QZ_Rts_format bad[] = {0x01001004, 0x2804, 0x0004, 0x0C02, 0x1001, 0x01002002};
    for (QZ_Rts_format w : bad) {
        Block b(w, 2, 0x77);
        EXPECT_EQ(copy(b, good), nullptr) << std::hex << w;
        EXPECT_EQ(b.bytes[0], 0x77) << std::hex << w;  // no layout to silence either
        Block out(QZ_RTS_INT16, 2, 0x77);
        EXPECT_EQ(copy(out, b), nullptr) << std::hex << w;
        EXPECT_EQ(out.get<std::int16_t>(0), 0) << std::hex << w;  // silence, not stale
    }
    Block nodata(QZ_RTS_INT16, 2), out(QZ_RTS_INT16, 2, 0x77);
    nodata.chan.data = nullptr;
    EXPECT_EQ(copy(out, nodata), nullptr);
    EXPECT_EQ(out.get<std::int16_t>(1), 0);
    EXPECT_EQ(QZ_Rts::copyBuffer(nullptr, &good.chan), nullptr);
}
