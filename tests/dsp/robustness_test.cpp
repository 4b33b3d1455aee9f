// Hostile option values, random wiring and deletions between passes never
// crash the engine; under the asan preset this also checks memory and UB.
#include <cmath>
#include <limits>

#include "dsp/filters.h"
#include "tests/dsp/dsp_test_util.h"

TEST(Robustness, RandomOptionsAndPassesOverEveryEngineClass) {
    const double inf = std::numeric_limits<double>::infinity();
    const double floats[] = {0.0, -0.0, 0.5, -1.0, 1e-30, 1e30, -1e30, 440.7, 14.06, NAN, inf, -inf};
    const int ints[] = {0, 1, -1, 3, 44100, -44100, 32768, 32769, 76, INT32_MAX, INT32_MIN};
    const char* words[] = {"set", "add", "sub", "stn", "adn", "sbn", "floating", "", "x"};
    const char* options[] = {"-f", "-clock", "-on", "-is",   "-os", "-bl",
                             "-l", "-q",     "-c",  "-mode", "-a",  "-t"};
    const char* classes[] = {"QZ_Effect_Copy",   "QZ_Effect_Lopass", "QZ_Effect_Hipass",
                             "QZ_Effect_Bapass", "QZ_Effect_Lgd",    "QZ_Effect_Zero"};
    std::uint32_t seed = 0x9E3779B9u;
    auto rnd = [&](std::uint32_t n) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed % n;
    };
    testing::internal::CaptureStdout();  // options a class lacks are reported there
    for (int round = 0; round < 20; ++round) {
        Owned own;
        QZ_handle p = own.pipe(round % 2 ? 512 : 0);
        std::vector<QZ_handle> all;
        const int sizes[] = {0, 16, 100, 512};
        for (int i = 0; i < 4; ++i) {
            all.push_back(own.buffer("b"));
            spcpp("%o -l %i", all.back(), sizes[(i + round) % 4]);
        }
        for (const char* c : classes) {
            QZ_handle e = 0;
            spcpp((std::string(c) + " -o %o -i %o").c_str(), &e, all[rnd(4)], all[rnd(4)]);
            all.push_back(own.keep(e));
        }
        all.insert(all.end(), {p, 0u, 0x00ABCDEFu});
        for (int step = 0; step < 300; ++step) {
            const QZ_handle target = all[rnd(all.size())];
            const std::string opt = std::string("%o ") + options[rnd(std::size(options))];
            switch (rnd(5)) {
                case 0: spcpp((opt + " %i").c_str(), target, ints[rnd(std::size(ints))]); break;
                case 1: spcpp((opt + " %f").c_str(), target, floats[rnd(std::size(floats))]); break;
                case 2: spcpp((opt + " %s").c_str(), target, words[rnd(std::size(words))]); break;
                case 3: spcpp(rnd(2) ? "%o -i %o" : "%o -be %o", target, all[rnd(all.size())]); break;
                default:
                    if (rnd(8) == 0 && target != p) spcpp("%o -delete", target);
            }
            for (int i = 0; i < 4; ++i)
                if (QZ_Buffer* b = buf(all[i]))
                    for (std::int32_t k = 0; k < b->count(); ++k)
                        b->main_block()[k] = static_cast<std::int32_t>(seed) >> 2;
            pipe_of(p)->process();
        }
        for (int i = 0; i < 4; ++i)
            if (QZ_Buffer* b = buf(all[i])) {
                EXPECT_LE(b->frames(), b->count());
                EXPECT_GE(b->frames(), 0);
            }
    }
    testing::internal::GetCapturedStdout();
}
