// The sound path allocates nothing: this program replaces the global allocation
// functions (operator new/delete, and malloc/calloc/realloc/free where no
// sanitizer owns them) with counting versions and runs passes between counts.
// It is its own executable so the replacement touches no other test.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>

#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/effect.h"
#include "dsp/filters.h"
#include "dsp/soundpipe.h"

#include "tests/alloc_counting.h"

namespace {
QZ_handle make(const char* command, QZ_handle a = 0, QZ_handle b = 0) {
    QZ_handle h = 0;
    EXPECT_EQ(spcpp(command, &h, a, b), QZ_OK) << command;
    return h;
}
}  // namespace

TEST(Allocation, CountingIsLive) {
    // The replacement is in effect: an allocation is seen.
    const long before = g_allocations.load();
    int* volatile p = new int(3);  // volatile: the pair may not be elided
    EXPECT_GT(g_allocations.load(), before);
    delete p;
#ifdef QZ_TEST_COUNTS_MALLOC
    const long mid = g_allocations.load();
    void* volatile m = std::malloc(24);
    EXPECT_GT(g_allocations.load(), mid);
    std::free(m);
#endif
}

TEST(Allocation, PassesAllocateNothing) {
    QZ_handle pipe = 0, began = 0;
    ASSERT_EQ(spcpp("QZ_Soundpipe -bl %i -b", &pipe, 512, &began), QZ_OK);
    const QZ_handle bi = make("QZ_Buffer"), lb = make("QZ_Buffer"), bo = make("QZ_Buffer"),
                    aux = make("QZ_Buffer");
    const QZ_handle effects[] = {
        make("QZ_Effect_Copy -i %o -o %o", bi, lb),
        make("QZ_Effect_Lopass -i %o -o %o", bi, lb),
        make("QZ_Effect_Copy -i %o -o %o", lb, bo),
        make("QZ_Effect_Hipass -i %o -o %o", bi, aux),
        make("QZ_Effect_Bapass -i %o -o %o", bi, aux),
        make("QZ_Effect_Lgd -i %o -o %o", aux, aux),
        make("QZ_Effect_Zero -o %o", aux),
    };
    std::uint32_t ended = 0;
    ASSERT_EQ(spcpp("%o -e", pipe, &ended), QZ_OK);
    for (QZ_handle e : effects) spcpp("QZ_Effect %o -clock %i", e, 44100);
    spcpp("%o -f %f -q %f -mode %s", effects[4], 800.0, 0.5, "add");
    spcpp("%o -f %i", effects[1], 2000);

    auto* p = QZ_object_as<QZ_Soundpipe>(pipe);
    auto* lp = QZ_object_as<QZ_Effect>(effects[1]);
    auto* bp = QZ_object_as<QZ_Effect>(effects[4]);
    std::int32_t* in = QZ_object_as<QZ_Buffer>(bi)->main_block();
    p->process();  // first pass prepares

    const long before = g_allocations.load();
    for (int pass = 0; pass < 200; ++pass) {
        // What the plug-in does per chunk: block length, input, one pass; the
        // switch is flipped now and then to run the crossfades.
        QZ_Soundpipe::m_bl(p, QZ_value::integer(pass % 3 ? 512 : 76));
        for (int i = 0; i < 512; ++i) in[i] = ((i * 37 + pass) % 200 - 100) << 20;
        if (pass % 17 == 0) QZ_Effect::m_on(lp, QZ_value::integer(pass % 34 ? 0 : 1));
        if (pass % 23 == 0) QZ_Effect::m_on(bp, QZ_value::integer(pass % 46 ? 0 : 1));
        if (pass % 50 == 0) QZ_Effect::m_clock(lp, QZ_value::integer(48000 + pass));
        p->process();
    }
    EXPECT_EQ(g_allocations.load() - before, 0);

    for (QZ_handle e : effects) spcpp("%o -delete", e);
    for (QZ_handle b : {bi, lb, bo, aux}) spcpp("%o -delete", b);
    spcpp("%o -delete", pipe);
}

// The effect library: every class wired into one pipe, passes with switches,
// clock changes and option changes that only store numbers allocate nothing.
TEST(Allocation, LibraryPassesAllocateNothing) {
    QZ_handle pipe = 0, began = 0;
    ASSERT_EQ(spcpp("QZ_Soundpipe -bl %i", &pipe, 512, &began), QZ_OK);
    (void)began;
    const QZ_handle a = make("QZ_Buffer"), b = make("QZ_Buffer"), c = make("QZ_Buffer");
    QZ_handle bins = 0, over = 0, sig = make("QZ_Buffer");
    ASSERT_EQ(spcpp("QZ_Buffer -l %i", &bins, 512), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Buffer -l %i", &over, 4096), QZ_OK);
    char text[256];
    auto build = [&](const char* cmd, QZ_handle x = 0, QZ_handle y = 0, QZ_handle z = 0) {
        EXPECT_EQ(spcpp_text(text, sizeof text, cmd, x, y, z), QZ_OK) << cmd;
        unsigned h = 0;
        std::sscanf(text, "0x%X", &h);
        return static_cast<QZ_handle>(h);
    };
    const QZ_handle effects[] = {
        build("QZ_Gener_White -o %o", a),
        build("QZ_Effect_Oper -i1 %o -i2 %o -o %o -oper mul", a, a, b),
        build("QZ_Effect_Koef -i %o -o %o -oper div -k 0.5", a, c),
        build("QZ_Effect_Gtzero -i %o -o %o", b, c),
        build("QZ_Effect_Ltzero -i %o -o %o -mode add", c, c),
        build("QZ_Effect_Dist -i %o -o %o -d 0.5 -k 0.01", a, b),
        build("QZ_Effect_Ampdet -i %o -o %o -a %o -f1 100 -f2 10", a, b, c),
        build("QZ_Effect_Deline -i %o -g -go %o -ga 1.0 -gf 0.5 -d -dt 100 -da 0.5 -d -dt 0.01 -da 0.25", a,
              b),
        build("QZ_Effect_Oversam -i %o -o %o", a, over),
        build("QZ_Effect_Shift -i %o -o %o -s -2000", a, c),
        build("QZ_Effect_Nshift -i %o -o %o -s 3000", a, c),
        build("QZ_Fourier_Transform -i %o -s 8", a),
        build("QZ_Fourier_Noisegate -i %o -s %o -o1 -o2 -a 1", bins, sig),
        build("QZ_Effect_Freqmul -i %o -o %o -k 3", a, b),
        build("QZ_Effect_Nefreqmul -i %o -o %o", a, c),
        build("QZ_Gener_Exp -o %o -beg 0.01 -time 0.05", sig),
    };
    std::uint32_t ended = 0;
    ASSERT_EQ(spcpp("%o -e", pipe, &ended), QZ_OK);
    for (QZ_handle e : effects) {
        ASSERT_NE(e, 0u);
        spcpp("QZ_Effect %o -clock %i", e, 48000);
    }
    auto* p = QZ_object_as<QZ_Soundpipe>(pipe);
    p->process();  // first pass prepares

    const long before = g_allocations.load();
    for (int pass = 0; pass < 100; ++pass) {
        QZ_Effect* e = QZ_object_as<QZ_Effect>(effects[pass % std::size(effects)]);
        if (pass % 7 == 0) QZ_Effect::m_on(e, QZ_value::integer(pass % 14 ? 0 : 1));
        if (pass % 11 == 0) QZ_Effect::m_clock(e, QZ_value::integer(44100 + pass));
        p->process();
    }
    EXPECT_EQ(g_allocations.load() - before, 0);

    for (QZ_handle e : effects) spcpp("%o -delete", e);
    for (QZ_handle h : {a, b, c, bins, over, sig}) spcpp("%o -delete", h);
    spcpp("%o -delete", pipe);
}
