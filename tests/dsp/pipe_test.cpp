// Buffers, the pipe under construction, passes, switch crossfades, deletion.
#include <cstring>
#include <numeric>

#include "dsp/classes.h"
#include "dsp/filters.h"
#include "tests/dsp/dsp_test_util.h"

TEST(Buffer, LengthFollowsThePipeUnderConstruction) {
    Owned own;
    QZ_handle lone = own.buffer("lone");  // no pipe yet
    EXPECT_EQ(opt_int("%o -l", lone), 0);
    EXPECT_EQ(buf(lone)->main_block(), nullptr);

    QZ_handle p = own.pipe(512);
    QZ_handle b = own.buffer("b");
    EXPECT_EQ(opt_int("%o -l", b), 512);
    EXPECT_EQ(buf(b)->count(), 512);
    EXPECT_EQ(pipe_of(p)->buffers.count, 1);  // the lone buffer did not join
    // A shorter block later is reported as the pipe's current length.
    spcpp("%o -bl %i", p, 100);
    EXPECT_EQ(opt_int("%o -l", b), 100);
    EXPECT_EQ(buf(b)->frames(), 100);

    const char* name = nullptr;
    ASSERT_EQ(spcpp("%o -t", b, &name), QZ_OK);
    EXPECT_STREQ(name, "b");
    EXPECT_EQ(opt_int("%o -limit", b), 0x3FFFFFFF);
    spcpp("%o -limit %f", b, -12.9);
    EXPECT_EQ(opt_int("%o -limit", b), -12);
}

TEST(Buffer, NameIsCopiedFromTheCommand) {
    Owned own;
    char word[] = "buf_i";
    QZ_handle b = own.buffer(word);
    std::strcpy(word, "xxxxx");
    EXPECT_STREQ(buf(b)->name(), "buf_i");
    // A word that is not text names the buffer by its number.
    spcpp("%o -t %o", b, 0xABCu);
    EXPECT_STREQ(buf(b)->name(), "0xABC");
}

TEST(Buffer, LengthsOutsideTheBlockRangeAreRefused) {
    Owned own;
    QZ_handle b = own.buffer("b");
    spcpp("%o -l %i", b, 64);
    EXPECT_EQ(buf(b)->count(), 64);
    buf(b)->main_block()[3] = 9;
    for (int bad : {32769, -2, -1000000, 0x7FFFFFFF}) {
        spcpp("%o -l %i", b, bad);
        EXPECT_EQ(opt_int("%o -l", b), 64) << bad;
        EXPECT_EQ(buf(b)->main_block()[3], 9) << bad;  // storage untouched
    }
    spcpp("%o -l %i", b, 32768);
    EXPECT_EQ(buf(b)->count(), 32768);
    spcpp("%o -l %i", b, 0);
    EXPECT_EQ(buf(b)->count(), 0);
    EXPECT_EQ(buf(b)->main_block(), nullptr);
}

TEST(Buffer, ReallocationKeepsThePositionBelowTheCount) {
    Owned own;
    QZ_handle b = own.buffer("b");
    spcpp("%o -l %i", b, 100);
    buf(b)->position = 250;
    spcpp("%o -l %i", b, 64);
    EXPECT_EQ(buf(b)->position, 250 % 64);
    EXPECT_EQ(main_of(b), std::vector<std::int32_t>(64, 0));
}

TEST(Pipe, ConstructionIsBegunAndEnded) {
    Owned own;
    QZ_handle none = 0xFFFF;
    ASSERT_EQ(spcpp("QZ_Soundpipe current", &none), QZ_OK);
    EXPECT_EQ(none, 0u);

    QZ_handle p = own.pipe(64);
    QZ_handle cur = 0;
    spcpp("QZ_Soundpipe current", &cur);
    EXPECT_EQ(cur, p);

    QZ_handle q = own.pipe(32);  // a new pipe replaces the current one
    EXPECT_EQ(QZ_Soundpipe::current(), pipe_of(q));
    EXPECT_EQ(opt_int("%o -e", p), 0);  // not under construction: nothing changes
    EXPECT_EQ(QZ_Soundpipe::current(), pipe_of(q));
    EXPECT_EQ(opt_int("%o -e", q), 1);
    EXPECT_EQ(QZ_Soundpipe::current(), nullptr);
    EXPECT_EQ(opt_int("%o -b", p), 1);
    EXPECT_EQ(opt_int("%o -b", q), 0);  // another pipe is under construction
    EXPECT_EQ(QZ_Soundpipe::current(), pipe_of(p));

    // Deleting the pipe under construction clears it.
    spcpp("%o -delete", p);
    EXPECT_EQ(QZ_Soundpipe::current(), nullptr);
}

TEST(Pipe, BlockLengthsOutsideTheRangeAreRefused) {
    Owned own;
    QZ_handle p = own.pipe(512);
    for (int bad : {-1, 32769, 1 << 30}) {
        spcpp("%o -bl %i", p, bad);
        EXPECT_EQ(opt_int("%o -bl", p), 512) << bad;
    }
}

// A pipe whose block length grows beyond what its buffers were sized for
// re-sizes them; a buffer that follows it from outside its list is cut to its
// storage. Either way no effect writes past an allocation.
TEST(Pipe, GrowingBlockLengthNeverOverrunsBuffers) {
    Owned own;
    QZ_handle p = own.pipe(0);
    QZ_handle a = own.buffer("a");  // sized later: the pipe has no length yet
    QZ_handle b = own.buffer("b");
    QZ_handle z = own.effect("QZ_Effect_Copy -i %o -o %o", a, b);
    EXPECT_EQ(buf(a)->count(), 0);
    spcpp("%o -bl %i", p, 256);
    EXPECT_EQ(buf(a)->count(), 256);
    EXPECT_EQ(buf(b)->count(), 256);
    spcpp("%o -bl %i", p, 4096);
    EXPECT_EQ(buf(a)->count(), 4096);

    // A buffer outside the pipe's list that follows its length.
    QZ_handle outside = 0;
    {
        QZ_Soundpipe::set_current(nullptr);
        QZ_handle o = 0;
        spcpp("QZ_Buffer", &o);
        own.keep(o);
        QZ_Soundpipe::set_current(pipe_of(p));
        spcpp("%o -l %i", o, -1);  // follows p, sized 4096, not in p's list
        outside = o;
    }
    EXPECT_EQ(buf(outside)->count(), 4096);
    spcpp("%o -bl %i", p, 8000);
    EXPECT_EQ(opt_int("%o -l", outside), 8000);
    EXPECT_EQ(buf(outside)->frames(), 4096);  // what effects may touch
    spcpp("%o -o %o", z, outside);
    pipe_of(p)->process();  // ASan reports any write past 4096
    end_construction(p);
}

TEST(Pipe, PlugInChainBuiltByCommands) {
    Owned own;
    QZ_handle pipe = 0, began = 9, bi = 0, lb = 0, bo = 0, cin = 0, lp = 0, cout = 0, ended = 0;
    ASSERT_EQ(spcpp("QZ_Soundpipe -bl %i -b", &pipe, 512, &began), QZ_OK);
    own.keep(pipe);
    ASSERT_EQ(spcpp("QZ_Buffer -t %s", &bi, "buf_i"), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Buffer -t %s", &lb, "lpf_buffer"), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Effect_Copy -i %o -o %o", &cin, bi, lb), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Effect_Lopass -i %o -o %o", &lp, bi, lb), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Buffer -t %s", &bo, "buf_o"), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Effect_Copy -i %o -o %o", &cout, lb, bo), QZ_OK);
    ASSERT_EQ(spcpp("QZ_Soundpipe %o -e", pipe, &ended), QZ_OK);
    for (QZ_handle h : {bi, lb, bo, cin, lp, cout}) own.keep(h);
    EXPECT_EQ(began, 0u);
    EXPECT_EQ(ended, 1u);
    for (QZ_handle e : {cin, lp, cout}) EXPECT_EQ(spcpp("QZ_Effect %o -clock %i", e, 44100), QZ_OK);
    EXPECT_EQ(spcpp("%o -f %f", lp, 1000.0), QZ_OK);
    EXPECT_EQ(fx<QZ_Effect_Lopass>(lp)->coefficient(), 535616699u);

    // Run chunks like the plug-in: set the block length, fill, process.
    std::vector<std::int32_t> expect;
    std::int32_t y = 0;
    for (int n : {512, 512, 76}) {
        spcpp("%o -bl %i", pipe, n);
        std::vector<std::int32_t> in(n, 1 << 30);
        fill(bi, in);
        pipe_of(pipe)->process();
        std::vector<std::int32_t> want(n);
        QZ_lopass_loop<QZ_MODE_SET>(in.data(), want.data(), n, 535616699u, y);
        EXPECT_EQ(main_of(bo), want) << n;
    }
    // Switched off, the chain passes the dry signal (after one crossfade pass).
    spcpp("QZ_Effect %o -on %i", lp, 0);
    spcpp("%o -bl %i", pipe, 512);
    fill(bi, std::vector<std::int32_t>(512, 777));
    pipe_of(pipe)->process();
    pipe_of(pipe)->process();
    EXPECT_EQ(main_of(bo), std::vector<std::int32_t>(512, 777));
}

namespace {
// Pipe: copy in -> mid, lopass mid -> mid, copy mid -> out.
struct Chain {
    Owned own;
    QZ_handle pipe, in, mid, out, cin, lp, cout;
    explicit Chain(int n) {
        pipe = own.pipe(n);
        in = own.buffer("in");
        mid = own.buffer("mid");
        out = own.buffer("out");
        cin = own.effect("QZ_Effect_Copy -i %o -o %o", in, mid);
        lp = own.effect("QZ_Effect_Lopass -i %o -o %o", mid, mid);
        cout = own.effect("QZ_Effect_Copy -i %o -o %o", mid, out);
        end_construction(pipe);
        spcpp("QZ_Effect %o -clock %i", lp, 44100);
        spcpp("%o -f %i", lp, 1000);
    }
    void run() { pipe_of(pipe)->process(); }
};
}  // namespace

TEST(Crossfade, SwitchingOnFadesFromDryToFiltered) {
    const int n = 64;
    Chain c(n);
    spcpp("QZ_Effect %o -on %i", c.lp, 0);
    std::vector<std::int32_t> dry(n);
    for (int i = 0; i < n; ++i) dry[i] = (i % 2 ? 1 : -1) * (1 << 29) + i * 1000;
    fill(c.in, dry);
    c.run();  // switched off: runs once more, then reset
    c.run();  // off: not run at all
    EXPECT_EQ(main_of(c.out), dry);

    spcpp("QZ_Effect %o -on %i", c.lp, 1);
    c.run();
    std::vector<std::int32_t> wet(n);
    std::int32_t y = 0;  // restarted from silence after the reset
    QZ_lopass_loop<QZ_MODE_SET>(dry.data(), wet.data(), n, fx<QZ_Effect_Lopass>(c.lp)->coefficient(), y);
    std::vector<std::int32_t> got = main_of(c.out);
    for (std::int64_t i = 0; i < n; ++i)
        EXPECT_EQ(got[i], static_cast<std::int32_t>((wet[i] * i + dry[i] * (n - i)) / n)) << i;
    EXPECT_EQ(got[0], dry[0]);  // sample 0 entirely dry

    c.run();  // fully on now: the filter continues from its state
    std::vector<std::int32_t> wet2(n);
    QZ_lopass_loop<QZ_MODE_SET>(dry.data(), wet2.data(), n, fx<QZ_Effect_Lopass>(c.lp)->coefficient(), y);
    EXPECT_EQ(main_of(c.out), wet2);
}

TEST(Crossfade, SwitchingOffFadesFromLastOutputToDry) {
    const int n = 128;
    Chain c(n);
    std::vector<std::int32_t> dry(n);
    for (int i = 0; i < n; ++i) dry[i] = (i * 7919 % 2001 - 1000) * 500000;
    fill(c.in, dry);
    c.run();
    std::int32_t y = fx<QZ_Effect_Lopass>(c.lp)->y;
    std::vector<std::int32_t> last(n);
    QZ_lopass_loop<QZ_MODE_SET>(dry.data(), last.data(), n, fx<QZ_Effect_Lopass>(c.lp)->coefficient(), y);

    spcpp("QZ_Effect %o -on %i", c.lp, 0);
    c.run();
    std::vector<std::int32_t> got = main_of(c.out);
    for (std::int64_t i = 0; i < n; ++i)
        EXPECT_EQ(got[i], static_cast<std::int32_t>((dry[i] * i + last[i] * (n - i)) / n)) << i;
    EXPECT_EQ(got[0], last[0]);  // the effect's last output
    EXPECT_EQ(fx<QZ_Effect_Lopass>(c.lp)->y, 0);  // reset after its last run
    EXPECT_FALSE(fx(c.lp)->current_on());
}

namespace {
// Counts calls of the virtual operations.
struct Probe : QZ_Effect {
    int processed = 0, prepared_calls = 0, resets = 0, clocks = 0;
    std::vector<int>* order = nullptr;
    int id = 0;
    void process() noexcept override {
        ++processed;
        if (order) order->push_back(id);
    }
    void prepare() noexcept override {
        ++prepared_calls;
        QZ_Effect::prepare();
    }
    void reset() noexcept override { ++resets; }
    void clock_changed() noexcept override { ++clocks; }
};
}  // namespace

TEST(Pipe, EffectLifecycleOverPasses) {
    Owned own;
    QZ_handle p = own.pipe(16);
    auto* probe = new Probe;
    probe->descriptor = &QZ_Effect_class;
    own.keep(probe->handle());
    end_construction(p);
    EXPECT_EQ(probe->resets, 0);  // the base constructor runs only the base's reset
    EXPECT_EQ(pipe_of(p)->effects.count, 1);

    pipe_of(p)->process();  // prepared and processed in the same first pass
    EXPECT_EQ(probe->prepared_calls, 1);
    EXPECT_EQ(probe->processed, 1);
    pipe_of(p)->process();
    EXPECT_EQ(probe->prepared_calls, 1);
    EXPECT_EQ(probe->processed, 2);

    QZ_Effect::m_on(probe, QZ_value::integer(0));
    pipe_of(p)->process();  // runs once more, then reset
    EXPECT_EQ(probe->processed, 3);
    EXPECT_EQ(probe->resets, 1);
    pipe_of(p)->process();
    pipe_of(p)->process();
    EXPECT_EQ(probe->processed, 3);
    EXPECT_EQ(probe->resets, 1);
    QZ_Effect::m_on(probe, QZ_value::integer(5));
    EXPECT_EQ(QZ_Effect::m_on(probe, QZ_EMPTY).word.i, 1);
    pipe_of(p)->process();
    EXPECT_EQ(probe->processed, 4);
    EXPECT_EQ(probe->resets, 1);  // switching on does not reset

    QZ_Effect::m_clock(probe, QZ_value::real(48000.9f));
    EXPECT_EQ(probe->clock(), 48000);
    EXPECT_EQ(probe->clocks, 1);
    QZ_Effect::m_clock(probe, QZ_EMPTY);
    EXPECT_EQ(probe->clocks, 1);  // reading does not recompute
}

TEST(Pipe, InsertionPointAndReordering) {
    Owned own;
    std::vector<int> order;
    QZ_handle p = own.pipe(8);
    auto make = [&](int id) {
        auto* e = new Probe;
        e->descriptor = &QZ_Effect_class;
        e->id = id;
        e->order = &order;
        own.keep(e->handle());
        return e;
    };
    Probe* a = make(1);
    Probe* b = make(2);
    ASSERT_EQ(spcpp("%o -be %o", p, a->handle()), QZ_OK);
    QZ_handle be = 0;
    spcpp("%o -be", p, &be);
    EXPECT_EQ(be, a->handle());
    make(3);  // inserted before a
    spcpp("%o -be %o", p, 0u);
    make(4);  // appended
    pipe_of(p)->process();
    EXPECT_EQ(order, (std::vector<int>{3, 1, 2, 4}));

    // -before moves an effect within the pipe under construction and reports
    // the effect that now follows it.
    QZ_handle next = 0;
    spcpp("%o -before %o", b->handle(), a->handle());
    spcpp("%o -before", b->handle(), &next);
    EXPECT_EQ(next, a->handle());
    order.clear();
    pipe_of(p)->process();
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 4}));

    // Refused: an effect of another pipe, or a pipe no longer under construction.
    end_construction(p);
    spcpp("%o -before %o", a->handle(), 0u);
    QZ_handle q = own.pipe(8);
    Probe* other = make(9);
    EXPECT_EQ(other->pipe(), pipe_of(q));
    spcpp("%o -before %o", other->handle(), a->handle());
    spcpp("%o -be %o", p, other->handle());
    spcpp("%o -be", p, &be);
    EXPECT_EQ(be, 0u);
    order.clear();
    pipe_of(p)->process();
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 4}));
}

// Objects may be deleted in any order; ASan reports any use of freed memory.
TEST(Pipe, DeletionInAnyOrderTouchesNoFreedMemory) {
    const int orders[][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const auto& ord : orders) {
        QZ_handle p = 0, b = 0, e = 0, b2 = 0;
        spcpp("QZ_Soundpipe -bl %i", &p, 32);
        spcpp("QZ_Buffer", &b);
        spcpp("QZ_Buffer", &b2);
        spcpp("QZ_Effect_Lopass -i %o -o %o", &e, b, b2);
        spcpp("QZ_Soundpipe %o -be %o", p, e);
        end_construction(p);
        pipe_of(p)->process();
        QZ_handle hs[3] = {p, b, e};
        for (int k : ord) {
            spcpp("%o -delete", hs[k]);
            // Whatever is left still works.
            if (QZ_Soundpipe* pp = pipe_of(p)) {
                pp->process();
                EXPECT_EQ(pp->insertion_point(), fx(e));
            }
            if (QZ_Effect* ee = fx(e)) ee->process();
            if (QZ_Buffer* bb = buf(b)) {
                EXPECT_EQ(bb->frames(), pipe_of(p) ? 32 : 0);
            }
        }
        spcpp("%o -delete", b2);
        EXPECT_EQ(QZ_Soundpipe::current(), nullptr);
    }
}
