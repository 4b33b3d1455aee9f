// Buffers, the pipe under construction, passes, switch crossfades, deletion.
#include <cstring>

#include "dsp/classes.h"
#include "dsp/filters.h"
#include "tests/dsp/dsp_test_util.h"

TEST(Buffer, LengthNameAndRefusals) {
    Owned own;
    QZ_handle lone = own.buffer("lone");  // no pipe yet: no storage
    EXPECT_EQ(opt_int("%o -l", lone), 0);
    EXPECT_EQ(buf(lone)->main_block(), nullptr);

    QZ_handle p = own.pipe(512);
    char word[] = "b";
    QZ_handle b = own.buffer(word);
    std::strcpy(word, "x");  // the name is a copy of the command's word
    EXPECT_STREQ(buf(b)->name(), "b");
    EXPECT_EQ(buf(b)->count(), 512);
    EXPECT_EQ(pipe_of(p)->buffers.count, 1);  // the lone buffer did not join
    spcpp("%o -bl %i", p, 100);               // later blocks report the pipe's length
    EXPECT_EQ(opt_int("%o -l", b), 100);
    spcpp("%o -limit %f", b, -12.9);
    EXPECT_EQ(opt_int("%o -limit", b), -12);

    spcpp("%o -l %i", lone, 100);
    buf(lone)->position = 250;
    spcpp("%o -l %i", lone, 64);
    EXPECT_EQ(buf(lone)->position, 250 % 64);
    buf(lone)->main_block()[3] = 9;
    for (int bad : {32769, -2, 0x7FFFFFFF}) {
        spcpp("%o -l %i", lone, bad);
        EXPECT_EQ(opt_int("%o -l", lone), 64) << bad;
        EXPECT_EQ(buf(lone)->main_block()[3], 9) << bad;  // storage untouched
    }
    for (int bad : {-1, 32769}) spcpp("%o -bl %i", p, bad);
    EXPECT_EQ(opt_int("%o -bl", p), 100);
}

TEST(Pipe, ConstructionIsBegunAndEnded) {
    Owned own;
    QZ_handle got = 0xFFFF;
    spcpp("QZ_Soundpipe current", &got);
    EXPECT_EQ(got, 0u);
    QZ_handle p = own.pipe(64);
    spcpp("QZ_Soundpipe current", &got);
    EXPECT_EQ(got, p);
    QZ_handle q = 0, began = 9;  // a new pipe replaces the current one at once
    spcpp("QZ_Soundpipe -bl %i -b", &q, 32, &began);
    own.keep(q);
    EXPECT_EQ(began, 0u);
    EXPECT_FALSE(end_construction(p));
    EXPECT_EQ(QZ_Soundpipe::current(), pipe_of(q));
    EXPECT_TRUE(end_construction(q));
    EXPECT_EQ(opt_int("%o -b", p), 1);
    EXPECT_EQ(opt_int("%o -b", q), 0);
    spcpp("%o -delete", p);  // deleting the pipe under construction clears it
    EXPECT_EQ(QZ_Soundpipe::current(), nullptr);
}

// A pipe whose block length grows beyond what its buffers were sized for
// re-sizes them; a buffer that follows it from outside its list is cut to its
// storage. Either way no effect writes past an allocation (ASan checks).
TEST(Pipe, GrowingBlockLengthNeverOverrunsBuffers) {
    Owned own;
    QZ_handle p = own.pipe(0);
    QZ_handle a = own.buffer("a"), b = own.buffer("b");  // no length yet
    QZ_handle c = own.effect("QZ_Effect_Copy -i %o -o %o", a, b);
    EXPECT_EQ(buf(a)->count(), 0);
    spcpp("%o -bl %i", p, 4096);
    EXPECT_EQ(buf(a)->count(), 4096);
    EXPECT_EQ(buf(b)->count(), 4096);

    QZ_Soundpipe::set_current(nullptr);
    QZ_handle outside = own.buffer("outside");
    QZ_Soundpipe::set_current(pipe_of(p));
    spcpp("%o -l %i", outside, -1);  // follows p, sized 4096, not in its list
    spcpp("%o -bl %i", p, 8000);
    EXPECT_EQ(opt_int("%o -l", outside), 8000);
    EXPECT_EQ(buf(outside)->frames(), 4096);
    spcpp("%o -o %o", c, outside);
    pipe_of(p)->process();
}

namespace {
// The plug-in's chain, built by its own commands: copy in -> mid, low-pass
// in -> mid, copy mid -> out.
struct Chain {
    Owned own;
    QZ_handle pipe, in, mid, out, cin, lp, cout;
    explicit Chain(int n) {
        pipe = own.pipe(n);
        in = own.buffer("buf_i");
        mid = own.buffer("lpf_buffer");
        cin = own.effect("QZ_Effect_Copy -i %o -o %o", in, mid);
        lp = own.effect("QZ_Effect_Lopass -i %o -o %o", in, mid);
        out = own.buffer("buf_o");
        cout = own.effect("QZ_Effect_Copy -i %o -o %o", mid, out);
        EXPECT_TRUE(end_construction(pipe));
        for (QZ_handle e : {cin, lp, cout}) EXPECT_EQ(spcpp("QZ_Effect %o -clock %i", e, 44100), QZ_OK);
        EXPECT_EQ(spcpp("%o -f %f", lp, 1000.0), QZ_OK);
    }
    std::vector<std::int32_t> run(const std::vector<std::int32_t>& x) {
        spcpp("%o -bl %i", pipe, static_cast<int>(x.size()));
        fill(in, x);
        pipe_of(pipe)->process();
        return main_of(out);
    }
    std::vector<std::int32_t> lopass(const std::vector<std::int32_t>& x, std::int32_t& y) {
        std::vector<std::int32_t> o(x.size());
        QZ_lopass_loop<QZ_MODE_SET>(x.data(), o.data(), static_cast<int>(x.size()), 535616699u, y);
        return o;
    }
};

std::vector<std::int32_t> signal(int n, int seed) {
    std::vector<std::int32_t> x(n);
    for (int i = 0; i < n; ++i) x[i] = ((i * 7919 + seed) % 2001 - 1000) * 500000;
    return x;
}
}  // namespace

TEST(Crossfade, PlugInChunksThenSwitchOffAndOn) {
    Chain c(512);
    std::int32_t y = 0;
    for (int n : {512, 512, 76}) {  // a host block of 1100 samples
        const auto x = signal(n, n);
        EXPECT_EQ(c.run(x), c.lopass(x, y)) << n;
    }

    // Off: sample 0 is the effect's last output, then a linear fade to dry.
    const int n = 128;
    const auto dry = signal(n, 3);
    const auto last = c.lopass(dry, y);
    spcpp("QZ_Effect %o -on %i", c.lp, 0);
    std::vector<std::int32_t> got = c.run(dry);
    for (std::int64_t i = 0; i < n; ++i)
        ASSERT_EQ(got[i], static_cast<std::int32_t>((dry[i] * i + last[i] * (n - i)) / n)) << i;
    EXPECT_EQ(got[0], last[0]);
    EXPECT_EQ(fx<QZ_Effect_Lopass>(c.lp)->y, 0);  // reset after its last run
    EXPECT_EQ(c.run(dry), dry);                   // bypassed

    // On: sample 0 is dry, then a linear fade to the filter restarted from 0.
    spcpp("QZ_Effect %o -on %i", c.lp, 1);
    got = c.run(dry);
    y = 0;
    const auto wet = c.lopass(dry, y);
    for (std::int64_t i = 0; i < n; ++i)
        ASSERT_EQ(got[i], static_cast<std::int32_t>((wet[i] * i + dry[i] * (n - i)) / n)) << i;
    EXPECT_EQ(got[0], dry[0]);
    EXPECT_EQ(c.run(dry), c.lopass(dry, y));  // fully on
}

namespace {
// Records calls of the virtual operations.
struct Probe : QZ_Effect {
    int processed = 0, prepares = 0, resets = 0, clocks = 0, id = 0;
    std::vector<int>* order = nullptr;
    Probe() { descriptor = &QZ_Effect_class; }
    void process() noexcept override {
        ++processed;
        if (order) order->push_back(id);
    }
    void prepare() noexcept override {
        ++prepares;
        QZ_Effect::prepare();
    }
    void reset() noexcept override { ++resets; }
    void clock_changed() noexcept override { ++clocks; }
};
}  // namespace

TEST(Pipe, EffectLifecycleOverPasses) {
    Owned own;
    QZ_handle p = own.pipe(16);
    auto* e = new Probe;
    own.keep(e->handle());
    end_construction(p);
    EXPECT_EQ(e->resets, 0);  // the base constructor runs only the base's reset
    auto pass = [&] { pipe_of(p)->process(); };
    pass();  // prepared and processed in the same first pass
    pass();
    EXPECT_EQ(e->prepares, 1);
    EXPECT_EQ(e->processed, 2);
    spcpp("QZ_Effect %o -on %i", e->handle(), 0);
    pass();  // runs once more, then reset
    EXPECT_EQ(e->processed, 3);
    EXPECT_EQ(e->resets, 1);
    pass();
    EXPECT_EQ(e->processed, 3);
    spcpp("QZ_Effect %o -on %i", e->handle(), 5);
    EXPECT_EQ(opt_int("%o -on", e->handle()), 1);
    pass();
    EXPECT_EQ(e->processed, 4);
    EXPECT_EQ(e->resets, 1);  // switching on does not reset
    spcpp("%o -clock %f", e->handle(), 48000.9);
    EXPECT_EQ(opt_int("%o -clock", e->handle()), 48000);
    EXPECT_EQ(e->clocks, 1);  // only a stored clock recomputes
}

TEST(Pipe, InsertionPointAndReordering) {
    Owned own;
    std::vector<int> order;
    QZ_handle p = own.pipe(8);
    auto make = [&](int id) {
        auto* e = new Probe;
        e->id = id;
        e->order = &order;
        own.keep(e->handle());
        return e->handle();
    };
    QZ_handle a = make(1), b = make(2);
    spcpp("%o -be %o", p, a);
    EXPECT_EQ(opt_int("%o -be", p), static_cast<std::int32_t>(a));
    make(3);  // inserted before a
    spcpp("%o -be %o", p, 0u);
    make(4);                       // appended
    spcpp("%o -before %o", b, a);  // b moves before a; a now follows it
    EXPECT_EQ(opt_int("%o -before", b), static_cast<std::int32_t>(a));
    pipe_of(p)->process();
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 4}));

    // Refused: a pipe no longer under construction, an effect of another pipe.
    end_construction(p);
    spcpp("%o -before %o", a, 0u);
    own.pipe(8);
    QZ_handle other = make(9);
    spcpp("%o -before %o", other, a);
    spcpp("%o -be %o", p, other);
    EXPECT_EQ(opt_int("%o -be", p), 0);
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
        const QZ_handle hs[3] = {p, b, e};
        for (int k : ord) {
            spcpp("%o -delete", hs[k]);
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
    }
}
