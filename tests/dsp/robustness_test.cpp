// Hostile option values and deletions between passes never crash the engine
// (run under the asan preset, this also checks memory and undefined behaviour).
#include <cmath>
#include <limits>

#include "dsp/filters.h"
#include "tests/dsp/dsp_test_util.h"

namespace {
struct Rng {
    std::uint32_t s = 0x9E3779B9u;
    std::uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[next() % v.size()];
    }
};
}  // namespace

TEST(Robustness, RandomOptionsAndPassesOverEveryEngineClass) {
    const std::vector<double> floats = {0.0, -0.0, 1.0, 0.5, -1.0, 1e-30, 1e30, -1e30, 440.7, 20000.0, 14.06,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::infinity(),
                                        -std::numeric_limits<double>::infinity()};
    const std::vector<int> ints = {0, 1, -1, 2, 3, 44100, 48000, -44100, 32768, 32769, 512, 76,
                                   std::numeric_limits<int>::max(), std::numeric_limits<int>::min()};
    const std::vector<const char*> words = {"set", "add", "sub", "stn", "adn", "sbn", "floating", "integer", "", "x"};
    const std::vector<const char*> int_options = {"-f", "-clock", "-on", "-is", "-os", "-bl", "-l", "-limit", "-debug"};
    const std::vector<const char*> float_options = {"-f", "-q", "-c", "-clock", "-limit"};
    const std::vector<const char*> word_options = {"-mode", "-a", "-t"};
    const std::vector<const char*> object_options = {"-i", "-o", "-be", "-before"};

    Rng rng;
    // Options that a class lacks are reported on standard output; keep them quiet.
    testing::internal::CaptureStdout();
    for (int round = 0; round < 20; ++round) {
        Owned own;
        QZ_handle p = own.pipe(rng.pick(std::vector<int>{0, 1, 64, 512}));
        std::vector<QZ_handle> bufs, effects;
        for (int i = 0; i < 4; ++i) bufs.push_back(own.buffer("b"));
        const char* classes[] = {"QZ_Effect_Copy", "QZ_Effect_Lopass", "QZ_Effect_Hipass",
                                 "QZ_Effect_Bapass", "QZ_Effect_Lgd", "QZ_Effect_Zero"};
        for (const char* c : classes) {
            QZ_handle e = 0;
            ASSERT_EQ(spcpp(c, &e), QZ_OK);
            effects.push_back(own.keep(e));
        }
        // Buffers of different sizes, wired at random, so inputs and outputs differ.
        const int sizes[] = {0, 16, 100, 512};
        for (int i = 0; i < 4; ++i) spcpp("%o -l %i", bufs[i], sizes[(i + round) % 4]);
        for (QZ_handle e : effects) {
            spcpp("%o -o %o", e, bufs[rng.next() % 4]);
            if (fx<QZ_Effect_Zero>(e) == nullptr) spcpp("%o -i %o", e, bufs[rng.next() % 4]);
        }
        std::vector<QZ_handle> all = bufs;
        all.insert(all.end(), effects.begin(), effects.end());
        all.push_back(p);
        all.push_back(0);
        all.push_back(0x00ABCDEFu);

        for (int step = 0; step < 300; ++step) {
            QZ_handle target = rng.pick(all);
            if (!QZ_object_from_handle(target)) continue;
            std::string cmd = "%o ";
            switch (rng.next() % 5) {
                case 0:
                    spcpp((cmd + rng.pick(int_options) + " %i").c_str(), target, rng.pick(ints));
                    break;
                case 1:
                    spcpp((cmd + rng.pick(float_options) + " %f").c_str(), target, rng.pick(floats));
                    break;
                case 2:
                    spcpp((cmd + rng.pick(word_options) + " %s").c_str(), target, rng.pick(words));
                    break;
                case 3:
                    spcpp((cmd + rng.pick(object_options) + " %o").c_str(), target, rng.pick(all));
                    break;
                default:
                    if (rng.next() % 8 == 0 && target != p) spcpp("%o -delete", target);
                    break;
            }
            if (QZ_Soundpipe* pp = pipe_of(p)) {
                for (QZ_handle b : bufs)
                    if (QZ_Buffer* bb = buf(b); bb && bb->main_block())
                        for (std::int32_t i = 0; i < bb->count(); ++i)
                            bb->main_block()[i] = static_cast<std::int32_t>(rng.next()) >> 2;
                pp->process();
            }
        }
        // Every live buffer still reports no more samples than it holds.
        for (QZ_handle b : bufs)
            if (QZ_Buffer* bb = buf(b)) {
                EXPECT_LE(bb->frames(), bb->count());
                EXPECT_GE(bb->frames(), 0);
            }
    }
    testing::internal::GetCapturedStdout();
}
