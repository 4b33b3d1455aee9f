// Output modes, and the zero and copy effects.
#include "tests/dsp/dsp_test_util.h"

namespace {
const char* const kModes[] = {"set", "add", "sub", "stn", "adn", "sbn"};

// Reference combination of r into o, written independently of QZ_put.
std::int32_t combine(int mode, std::int64_t o, std::int64_t r) {
    const std::int64_t v[] = {r, o + r, o - r, -r, -(o + r), r - o};
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v[mode]));
}

// A pipe of block length n with buffers a, b and a copy a -> b.
struct CopyRig {
    Owned own;
    QZ_handle a, b, c;
    explicit CopyRig(int n, bool onto_itself = false) {
        own.pipe(n);
        a = own.buffer("a");
        b = onto_itself ? a : own.buffer("b");
        c = own.effect("QZ_Effect_Copy -i %o -o %o", a, b);
    }
};
}  // namespace

TEST(Effect, ModeWordsSelectAndOthersKeep) {
    CopyRig r(1);
    const char* word = nullptr;
    for (int m = 5; m >= 0; --m) {
        spcpp("%o -mode %s", r.c, kModes[m]);
        EXPECT_EQ(fx(r.c)->mode(), m);
    }
    spcpp("%o -mode %s", r.c, "sbn");
    for (const char* bad : {"xyz", "SET", "sbnn", ""}) spcpp("%o -mode %s", r.c, bad);
    spcpp("%o -mode %i", r.c, 1);  // not text
    spcpp("%o -mode", r.c, &word);
    EXPECT_STREQ(word, "sbn");
}

// Every mode, including the wrap-around of sums and negations.
TEST(Copy, CombinesByEachMode) {
    const std::vector<std::int32_t> in = {5, -7, 0x7FFFFFFF, INT32_MIN, 123456789, -1};
    const std::vector<std::int32_t> before = {100, 100, 1, -1, INT32_MIN, 0x7FFFFFFF};
    for (int m = 0; m < 6; ++m) {
        CopyRig r(6);
        spcpp("%o -mode %s", r.c, kModes[m]);
        fill(r.a, in);
        fill(r.b, before);
        fx(r.c)->process();
        std::vector<std::int32_t> got = main_of(r.b);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], combine(m, before[i], in[i])) << kModes[m] << " " << i;
    }
}

TEST(Copy, StepsAndTheirRefusal) {
    CopyRig r(512);
    spcpp("%o -is %i", r.c, 2);
    std::vector<std::int32_t> in(512);
    for (int i = 0; i < 512; ++i) in[i] = 1000 + i;
    fill(r.a, in);
    fill(r.b, std::vector<std::int32_t>(512, -5));
    fx(r.c)->process();
    std::vector<std::int32_t> got = main_of(r.b);
    for (int j = 0; j < 512; ++j) EXPECT_EQ(got[j], j < 256 ? in[2 * j] : -5) << j;  // 256 written

    // Output step 3: the output's end bounds the count, not the input's.
    spcpp("%o -is %i -os %i", r.c, 1, 3);
    fill(r.b, std::vector<std::int32_t>(512, -5));
    fx(r.c)->process();
    got = main_of(r.b);
    for (int i = 0; i < 512; ++i) EXPECT_EQ(got[i], i % 3 ? -5 : in[i / 3]) << i;

    // Steps of 0 or below (the count divides by the input step) are refused.
    for (int bad : {0, -1, INT32_MIN}) spcpp("%o -is %i -os %i", r.c, bad, bad);
    spcpp("%o -is %f", r.c, 0.5);
    EXPECT_EQ(opt_int("%o -is", r.c), 1);
    EXPECT_EQ(opt_int("%o -os", r.c), 3);
}

TEST(Copy, OntoItselfSetLeavesAndAddDoubles) {
    CopyRig r(4, true);
    const std::vector<std::int32_t> v = {1, -2, 3, 1 << 29};
    fill(r.a, v);
    fx(r.c)->process();
    EXPECT_EQ(main_of(r.a), v);
    spcpp("%o -mode %s", r.c, "add");
    fx(r.c)->process();
    EXPECT_EQ(main_of(r.a), (std::vector<std::int32_t>{2, -4, 6, 1 << 30}));
}

// An output shorter than the input is not written past its end (ASan checks);
// buffer options refuse words that name no live buffer.
TEST(Copy, ShortOutputAndForeignHandles) {
    Owned own;
    QZ_handle a = own.buffer("a"), b = own.buffer("b"), c = 0;
    spcpp("%o -l %i", a, 512);
    spcpp("%o -l %i", b, 100);
    spcpp("QZ_Effect_Copy -i %o -o %o", &c, a, b);
    own.keep(c);
    fill(a, std::vector<std::int32_t>(512, 3));
    fx(c)->process();
    EXPECT_EQ(main_of(b), std::vector<std::int32_t>(100, 3));

    for (QZ_handle bad : {c, 0x12345u}) spcpp("%o -i %o", c, bad);
    EXPECT_EQ(opt_int("%o -i", c), static_cast<std::int32_t>(a));
    spcpp("%o -i %o", c, 0u);
    EXPECT_EQ(opt_int("%o -i", c), 0);
}

TEST(Zero, ClearsItsOutputUntilTheBufferIsDeleted) {
    Owned own;
    QZ_handle p = own.pipe(16);
    QZ_handle b = own.buffer("b"), z = 0;
    ASSERT_EQ(spcpp("QZ_Effect_Zero -o %o", &z, b), QZ_OK);
    own.keep(z);
    end_construction(p);
    fill(b, std::vector<std::int32_t>(16, 42));
    pipe_of(p)->process();
    EXPECT_EQ(main_of(b), std::vector<std::int32_t>(16, 0));
    spcpp("%o -delete", b);
    pipe_of(p)->process();  // the effect now does nothing
    EXPECT_EQ(opt_int("%o -o", z), 0);
}
