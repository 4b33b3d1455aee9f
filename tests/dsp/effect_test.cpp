// Effect base options, output modes, and the zero and copy effects.
#include "tests/dsp/dsp_test_util.h"

namespace {
std::int32_t wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Reference combination of r into o for each mode, written independently of QZ_put.
std::int32_t combine(int mode, std::int32_t o, std::int32_t r) {
    const std::int64_t O = o, R = r;
    switch (mode) {
        case 0: return r;
        case 1: return wrap(O + R);
        case 2: return wrap(O - R);
        case 3: return wrap(-R);
        case 4: return wrap(-(O + R));
        default: return wrap(R - O);
    }
}

const char* const kModes[] = {"set", "add", "sub", "stn", "adn", "sbn"};
}  // namespace

TEST(Effect, ModeWordsSelectAndUnknownWordsKeep) {
    Owned own;
    QZ_handle e = 0;
    spcpp("QZ_Effect_Zero", &e);
    own.keep(e);
    const char* word = nullptr;
    spcpp("%o -mode", e, &word);
    EXPECT_STREQ(word, "set");
    for (int m = 5; m >= 0; --m) {
        spcpp("%o -mode %s", e, kModes[m]);
        EXPECT_EQ(fx(e)->mode(), m);
    }
    spcpp("%o -mode %s", e, "sbn");
    for (const char* bad : {"xyz", "SET", "sb", "sbnn", ""}) {
        spcpp("%o -mode %s", e, bad);
        spcpp("%o -mode", e, &word);
        EXPECT_STREQ(word, "sbn") << bad;
    }
    spcpp("%o -mode %i", e, 1);  // not text: unchanged
    EXPECT_EQ(fx(e)->mode(), 5);
    EXPECT_EQ(opt_int("%o -debug", e), 0);
    spcpp("%o -debug %i", e, 3);
    EXPECT_EQ(opt_int("%o -debug", e), 1);
}

// Every mode on a copy, including the wrap-around of sums and negations.
TEST(Copy, CombinesByEachMode) {
    const std::vector<std::int32_t> in = {5, -7, 0x7FFFFFFF, INT32_MIN, 123456789, -1};
    const std::vector<std::int32_t> before = {100, 100, 1, -1, INT32_MIN, 0x7FFFFFFF};
    for (int m = 0; m < 6; ++m) {
        Owned own;
        own.pipe(6);
        QZ_handle a = own.buffer("a"), b = own.buffer("b");
        QZ_handle c = own.effect("QZ_Effect_Copy -i %o -o %o", a, b);
        spcpp("%o -mode %s", c, kModes[m]);
        fill(a, in);
        fill(b, before);
        fx(c)->process();
        std::vector<std::int32_t> got = main_of(b);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], combine(m, before[i], in[i])) << kModes[m] << " " << i;
        EXPECT_EQ(main_of(a), in);
    }
}

TEST(Copy, StepsPickEveryOtherSample) {
    Owned own;
    own.pipe(512);
    QZ_handle a = own.buffer("a"), b = own.buffer("b");
    QZ_handle c = own.effect("QZ_Effect_Copy -i %o -o %o", a, b);
    spcpp("%o -is %i", c, 2);
    std::vector<std::int32_t> in(512);
    for (int i = 0; i < 512; ++i) in[i] = 1000 + i;
    fill(a, in);
    fill(b, std::vector<std::int32_t>(512, -5));
    fx(c)->process();
    std::vector<std::int32_t> got = main_of(b);
    for (int j = 0; j < 256; ++j) EXPECT_EQ(got[j], in[2 * j]) << j;
    for (int j = 256; j < 512; ++j) EXPECT_EQ(got[j], -5) << j;  // 256 samples written

    // Output step 3, input step 1: spread out; the output's end bounds the count.
    spcpp("%o -is %i -os %i", c, 1, 3);
    fill(b, std::vector<std::int32_t>(512, -5));
    fx(c)->process();
    got = main_of(b);
    for (int i = 0; i < 512; ++i) EXPECT_EQ(got[i], i % 3 ? -5 : in[i / 3]) << i;
}

TEST(Copy, StepsOfZeroOrBelowAreRefused) {
    Owned own;
    QZ_handle c = 0;
    spcpp("QZ_Effect_Copy", &c);
    own.keep(c);
    spcpp("%o -is %i -os %i", c, 4, 2);
    for (int bad : {0, -1, INT32_MIN}) {
        spcpp("%o -is %i -os %i", c, bad, bad);
        EXPECT_EQ(opt_int("%o -is", c), 4) << bad;
        EXPECT_EQ(opt_int("%o -os", c), 2) << bad;
    }
    spcpp("%o -is %f", c, 0.5);  // truncates to 0: refused too
    EXPECT_EQ(opt_int("%o -is", c), 4);
}

TEST(Copy, OntoItself) {
    Owned own;
    own.pipe(8);
    QZ_handle a = own.buffer("a");
    QZ_handle c = own.effect("QZ_Effect_Copy -i %o -o %o", a, a);
    const std::vector<std::int32_t> v = {1, -2, 3, -4, 5, -6, 7, 1 << 29};
    fill(a, v);
    fx(c)->process();  // "set": unchanged
    EXPECT_EQ(main_of(a), v);
    spcpp("%o -mode %s", c, "add");
    fx(c)->process();
    std::vector<std::int32_t> doubled;
    for (std::int32_t x : v) doubled.push_back(2 * x);
    EXPECT_EQ(main_of(a), doubled);
}

// An output shorter than the input is never written past its end.
TEST(Copy, ShortOutputIsNotOverrun) {
    Owned own;
    QZ_handle a = own.buffer("a"), b = own.buffer("b");
    spcpp("%o -l %i", a, 512);
    spcpp("%o -l %i", b, 100);
    QZ_handle c = 0;
    spcpp("QZ_Effect_Copy -i %o -o %o", &c, a, b);
    own.keep(c);
    fill(a, std::vector<std::int32_t>(512, 3));
    fx(c)->process();  // ASan would report a write past 100
    EXPECT_EQ(main_of(b), std::vector<std::int32_t>(100, 3));
}

TEST(Copy, BufferOptionsRefuseWordsThatNameNoBuffer) {
    Owned own;
    QZ_handle a = own.buffer("a");
    QZ_handle c = 0, other = 0;
    spcpp("QZ_Effect_Copy -i %o", &c, a);
    own.keep(c);
    spcpp("QZ_Effect_Zero", &other);
    own.keep(other);
    for (QZ_handle bad : {other, 0x12345u, c}) {
        spcpp("%o -i %o", c, bad);
        QZ_handle got = 0;
        spcpp("%o -i", c, &got);
        EXPECT_EQ(got, a) << bad;
    }
    spcpp("%o -i %o", c, 0u);
    QZ_handle got = 7;
    spcpp("%o -i", c, &got);
    EXPECT_EQ(got, 0u);
}

TEST(Zero, ClearsItsOutputAndSurvivesItsDeletion) {
    Owned own;
    QZ_handle p = own.pipe(16);
    QZ_handle b = own.buffer("b");
    QZ_handle z = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Zero -o %o", &z, b), QZ_OK);
    own.keep(z);
    end_construction(p);
    fill(b, std::vector<std::int32_t>(16, 42));
    pipe_of(p)->process();
    EXPECT_EQ(main_of(b), std::vector<std::int32_t>(16, 0));
    spcpp("%o -delete", b);  // the effect now does nothing
    pipe_of(p)->process();
}
