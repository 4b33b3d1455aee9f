// Builds sound pipes from random command sequences over every registered
// engine class: random classes, options with random values of every kind
// (nothing, integers, floats including NaN and infinities, words, handles of
// live, deleted and internal objects), switching, deletions and passes over
// buffers full of random and extreme samples. The buffers inside composite
// effects (transform spectra and histories, the gate's floor, gain, halves and
// delayed signal) are ordinary buffers reachable by handle, so they join the
// handles that commands address, re-size, delete and wire. Everything made is
// deleted at the end of each input, so leaks show up too.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/command.h"
#include "core/object.h"
#include "dsp/buffer.h"
#include "dsp/classes.h"
#include "dsp/effect.h"
#include "dsp/fourier.h"
#include "dsp/soundpipe.h"

namespace {

struct Input {
    const std::uint8_t* p;
    std::size_t n;
    std::size_t k = 0;
    bool done() const { return k >= n; }
    std::uint8_t byte() { return k < n ? p[k++] : 0; }
    std::uint32_t word() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return v;
    }
    template <class T, std::size_t N>
    const T& pick(const T (&a)[N]) {
        return a[byte() % N];
    }
};

std::vector<const QZ_Class*> creatable_classes() {
    std::vector<const QZ_Class*> v;
    for (const QZ_Registry_Entry* r = __QZ; r->name; ++r)
        if (r->cls->create) v.push_back(r->cls);
    return v;
}

// Every option name reachable from a class, its own first; listed once per class.
const std::vector<const char*>& options_of(const QZ_Class* c) {
    static std::map<const QZ_Class*, std::vector<const char*>> lists;
    auto [it, added] = lists.try_emplace(c);
    if (added)
        for (const QZ_Class* k = c; k; k = k->parent)
            for (std::size_t i = 0; i < k->option_count; ++i) it->second.push_back(k->options[i].name);
    return it->second;
}

// The handle a result starts with ("0x1A2B ..."), 0 for none.
QZ_handle first_handle(const char* text) {
    if (text[0] != '0' || text[1] != 'x' || !std::isxdigit(static_cast<unsigned char>(text[2]))) return 0;
    return static_cast<QZ_handle>(std::strtoul(text + 2, nullptr, 16));
}

const std::int32_t kInts[] = {0,     1,     -1,    2,     3,     7,      8,         11,       12,
                              16,    64,    127,   128,   255,   256,    257,       441,      512,
                              1024,  4096,  8192,  16384, 22050, 32767,  32768,     44100,    48000,
                              65534, 65535, 65536, 96000, -512,  -16384, INT32_MAX, INT32_MIN};
const double kFloats[] = {0.0,
                          -0.0,
                          0.001,
                          0.02,
                          0.5,
                          1.0,
                          -1.0,
                          2.0,
                          126.9,
                          127.0,
                          -127.0,
                          1000.0,
                          1e9,
                          -1e9,
                          1e30,
                          1e-30,
                          std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
const char* const kWords[] = {"set",     "add",      "sub", "stn",  "adn",     "sbn", "mul", "div",
                              "forward", "backward", "sin", "none", "current", "x",   ""};
const std::int32_t kSamples[] = {0, 1, -1, INT32_MAX, INT32_MIN, 1 << 30, -(1 << 30), 12345, -65536};

// The buffers inside a transform or a gate, found as a user would: through the
// options that report them (-w of the gate and of each transform), and for the
// rest by the handles those objects hold, which are plain sequential handles a
// user can name as well.
std::vector<QZ_handle> inner_buffers(QZ_handle h) {
    std::vector<QZ_handle> v;
    char text[64];
    auto of_transform = [&](QZ_Fourier_Transform* t) {
        v.push_back(QZ_Fourier_Transform::m_w(t, QZ_EMPTY).as_word());
        v.push_back(QZ_handle_of(t->history()));
    };
    if (auto* g = QZ_object_as<QZ_Fourier_Noisegate>(h)) {
        if (spcpp_text(text, sizeof text, "%o -w", h) == QZ_OK) v.push_back(first_handle(text));
        for (QZ_Fourier_Transform* t : {g->t1, g->t2, g->t3, g->t4, g->t5}) of_transform(t);
        for (const QZ_Buffer_ref* r : {&g->half1, &g->half2, &g->gain, &g->delayed}) v.push_back(r->handle);
    } else if (auto* t = QZ_object_as<QZ_Fourier_Transform>(h)) {
        if (spcpp_text(text, sizeof text, "%o -w", h) == QZ_OK) v.push_back(first_handle(text));
        v.push_back(QZ_handle_of(t->history()));
    }
    return v;
}

// Sample patterns for passes, made once: the extremes in a short cycle, and
// scrambled words. A pass copies a stretch of one into each buffer, so filling
// costs a copy, not a computed (and instrumented) loop per sample.
struct Patterns {
    static constexpr std::size_t kLength = 1 << 16;
    std::vector<std::int32_t> extremes, scrambled;
    Patterns() : extremes(2 * kLength), scrambled(2 * kLength) {
        for (std::size_t i = 0; i < 2 * kLength; ++i) {
            extremes[i] = kSamples[(i * 7) % 9];
            scrambled[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(i) * 2654435761u);
        }
    }
};

void fill_buffer(QZ_Buffer* b, std::uint8_t fill) {
    static const Patterns patterns;
    std::int32_t* p = b->main_block();
    const std::int32_t count = b->count();
    if (!p || count <= 0) return;
    const std::vector<std::int32_t>& src = (fill & 1) ? patterns.extremes : patterns.scrambled;
    const std::size_t start = (fill & 1) ? fill % 9 : static_cast<std::size_t>(fill) * 4099 % Patterns::kLength;
    for (std::size_t done = 0; done < static_cast<std::size_t>(count);) {
        const std::size_t n = std::min(static_cast<std::size_t>(count) - done, Patterns::kLength);
        std::memcpy(p + done, src.data() + start, n * sizeof(std::int32_t));
        done += n;
    }
}

// Per option of a class: whether a new object gets it wired to a buffer at once
// (its buffer options, and the gate's signal); listed once per class.
const std::vector<bool>& wired_options(const QZ_Class* c) {
    static std::map<const QZ_Class*, std::vector<bool>> lists;
    auto [it, added] = lists.try_emplace(c);
    if (added)
        for (std::size_t i = 0; i < c->option_count; ++i) {
            const char* name = c->options[i].name;
            bool wire = std::strcmp(name, "s") == 0 && std::strstr(c->name, "Noisegate");
            for (const char* b : {"i", "o", "i1", "i2", "a", "o1", "o2", "go"})
                wire = wire || std::strcmp(name, b) == 0;
            it->second.push_back(wire);
        }
    return it->second;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Refusals and debug lines print; ENGINE_FUZZ_TRACE=1 keeps them to follow a run.
    if (!std::getenv("ENGINE_FUZZ_TRACE")) std::freopen("/dev/null", "w", stdout);
    // Edges only, not how often each ran: hit counts here are mostly block
    // lengths and object counts, and as features they filled the corpus with
    // inputs the fuzzer then weighed against each other on every run (from the
    // seeds, 1.7 times the inputs in the same time and as much coverage after
    // three minutes). Put first, so a -use_counters given on the command line wins.
    static std::vector<char*> args;
    if (args.empty() && *argc >= 1) {
        static char edges_only[] = "-use_counters=0";
        args.assign(*argv, *argv + *argc);
        args.insert(args.begin() + 1, edges_only);
        args.push_back(nullptr);
        *argc += 1;
        *argv = args.data();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<const QZ_Class*> classes = creatable_classes();
    Input in{data, size};
    char text[1024];

    std::set<QZ_handle> made;        // everything created by command, deleted at the end
    std::vector<QZ_handle> handles;  // every handle seen, for object arguments
    std::vector<QZ_handle> buffers;  // the buffers among them (each once), preferred for wiring
    std::set<QZ_handle> known_buffers;
    std::vector<QZ_handle> composites;
    auto remember = [&](QZ_handle h) {
        if (h) handles.push_back(h);
    };
    auto remember_buffer = [&](QZ_handle h) {
        if (h && known_buffers.insert(h).second) buffers.push_back(h);
    };
    // Sizes (-i of the gate, -s of a transform) create and re-size inner
    // buffers, so they are looked for again after each step that made a
    // composite or set one of its options.
    auto reach_inner = [&] {
        for (QZ_handle c : composites)
            for (QZ_handle b : inner_buffers(c))
                if (b && !known_buffers.count(b) && QZ_object_as<QZ_Buffer>(b)) {
                    remember(b);
                    remember_buffer(b);
                }
    };

    QZ_handle pipe = 0;
    // Short blocks: a pass then costs little, and longer ones stay one option away.
    if (spcpp_text(text, sizeof text, "QZ_Soundpipe -bl %i", static_cast<int>(in.byte() % 33) * 4) == QZ_OK)
        pipe = first_handle(text);
    made.insert(pipe);
    remember(pipe);
    // A few buffers to wire: two that follow the pipe's block length, two of
    // lengths that suit spectra and oversampling.
    // (Longer lengths, which make the gate's transforms large, are one -l away.)
    static const std::int32_t kLengths[] = {0, 4, 8, 16, 64, 100, 256, 512, 1024};
    for (int b = 0; b < 4; ++b) {
        QZ_error e = b < 2 ? spcpp_text(text, sizeof text, "QZ_Buffer")
                           : spcpp_text(text, sizeof text, "QZ_Buffer -l %i", in.pick(kLengths));
        if (e == QZ_OK) {
            made.insert(first_handle(text));
            remember(first_handle(text));
            remember_buffer(first_handle(text));
        }
    }

    static const bool trace = std::getenv("ENGINE_FUZZ_TRACE") != nullptr;
    int steps = 0;
    while (!in.done() && steps++ < 96) {
        const int op = in.byte() % 8;
        bool composite_touched = false;
        if (trace) std::fprintf(stderr, "op %d (pipe 0x%X, %zu objects)\n", op, pipe, made.size());
        switch (op) {
            case 0:
            case 1: {  // create an object of any class, maybe with a word after the name
                const QZ_Class* c = classes[in.byte() % classes.size()];
                std::string cmd = c->name;
                if (in.byte() % 8 == 0) cmd += " current";
                if (trace) std::fprintf(stderr, "  %s\n", cmd.c_str());
                if (spcpp_text(text, sizeof text, cmd.c_str()) == QZ_OK) {
                    QZ_handle h = first_handle(text);
                    if (h && QZ_object_from_handle(h)) {
                        made.insert(h);
                        remember(h);
                        if (QZ_object_as<QZ_Buffer>(h)) remember_buffer(h);
                        if (QZ_object_as<QZ_Fourier_Transform>(h) || QZ_object_as<QZ_Fourier_Noisegate>(h)) {
                            composites.push_back(h);
                            composite_touched = true;
                        }
                        // Wire most of a new effect's buffer options at once, so
                        // passes reach the inner loops.
                        const std::vector<bool>& wired = wired_options(c);
                        for (std::size_t i = 0; i < c->option_count && !buffers.empty(); ++i) {
                            const char* name = c->options[i].name;
                            if (!wired[i] || in.byte() % 8 == 0) continue;
                            const std::string w = std::string("%o -") + name + " %o";
                            spcpp_text(text, sizeof text, w.c_str(), h, buffers[in.byte() % buffers.size()]);
                        }
                    }
                }
                break;
            }
            case 2:
            case 3: {  // an option of a live object with a value of any kind
                if (handles.empty()) break;
                const QZ_handle h = handles[in.byte() % handles.size()];
                QZ_Object* o = QZ_object_from_handle(h);
                if (!o || !o->descriptor) break;
                const std::vector<const char*>& opts = options_of(o->descriptor);
                composite_touched = std::find(composites.begin(), composites.end(), h) != composites.end();
                const char* opt = opts[in.byte() % opts.size()];
                if (std::strcmp(opt, "delete") == 0 && in.byte() % 4 != 0) break;
                const std::string base = std::string("%o -") + opt;
                if (trace) std::fprintf(stderr, "  0x%X (%s) %s\n", h, o->descriptor->name, base.c_str() + 3);
                QZ_error e = QZ_OK;
                switch (in.byte() % 6) {
                    case 0: e = spcpp_text(text, sizeof text, base.c_str(), h); break;
                    case 1: {
                        std::int32_t v =
                            in.byte() % 4 ? in.pick(kInts) : static_cast<std::int32_t>(in.word());
                        e = spcpp_text(text, sizeof text, (base + " %i").c_str(), h, v);
                        break;
                    }
                    case 2: {
                        double v = in.byte() % 4
                                       ? in.pick(kFloats)
                                       : static_cast<double>(static_cast<std::int32_t>(in.word())) / 1000.0;
                        e = spcpp_text(text, sizeof text, (base + " %f").c_str(), h, v);
                        break;
                    }
                    case 3:
                        e = spcpp_text(text, sizeof text, (base + " %s").c_str(), h, in.pick(kWords));
                        break;
                    case 4: {
                        const std::uint8_t kind = in.byte() % 8;
                        QZ_handle arg = kind == 0                     ? in.word()
                                        : kind < 4 || buffers.empty() ? handles[in.byte() % handles.size()]
                                                                      : buffers[in.byte() % buffers.size()];
                        e = spcpp_text(text, sizeof text, (base + " %o").c_str(), h, arg);
                        break;
                    }
                    default:  // an option followed by a bare query of another
                        e = spcpp_text(text, sizeof text,
                                       (base + " -" + opts[in.byte() % opts.size()]).c_str(), h);
                        break;
                }
                // Objects handed out by options (spectrum buffers, groups, created
                // outputs) become arguments too; they belong to their owners.
                if (e == QZ_OK) {
                    for (const char* s = std::strstr(text, "0x"); s; s = std::strstr(s + 2, "0x"))
                        if (QZ_handle r = first_handle(s); QZ_object_from_handle(r)) {
                            remember(r);
                            if (QZ_object_as<QZ_Buffer>(r)) remember_buffer(r);
                        }
                }
                break;
            }
            case 4:
            case 5: {  // a pass over random samples
                QZ_Soundpipe* p = QZ_object_as<QZ_Soundpipe>(pipe);
                if (!p) break;
                const std::uint8_t fill = in.byte();
                for (QZ_handle h : buffers)
                    if (QZ_Buffer* b = QZ_object_as<QZ_Buffer>(h)) fill_buffer(b, fill);
                p->process();
                break;
            }
            case 6: {  // switch an effect, end or restart construction
                if (handles.empty()) break;
                const QZ_handle h = handles[in.byte() % handles.size()];
                if (QZ_object_as<QZ_Effect>(h))
                    spcpp_text(text, sizeof text, "QZ_Effect %o -on %i", h, static_cast<int>(in.byte() & 1));
                else if (QZ_object_as<QZ_Soundpipe>(h))
                    spcpp_text(text, sizeof text, (in.byte() & 1) ? "%o -e" : "%o -b", h);
                break;
            }
            default: {  // delete anything made by command, the pipe included
                if (made.empty()) break;
                auto it = made.begin();
                std::advance(it, in.byte() % made.size());
                if (QZ_object_from_handle(*it)) spcpp_text(text, sizeof text, "%o -delete", *it);
                break;
            }
        }
        if (composite_touched) reach_inner();
    }

    if (QZ_Soundpipe* p = QZ_object_as<QZ_Soundpipe>(pipe)) p->process();
    // Effects first, then buffers, then pipes: what a program tearing down does,
    // though any order must be safe.
    for (int round = 0; round < 3; ++round)
        for (QZ_handle h : made) {
            QZ_Object* o = QZ_object_from_handle(h);
            if (!o) continue;
            const bool effect = QZ_object_as<QZ_Effect>(h) != nullptr;
            const bool buffer = QZ_object_as<QZ_Buffer>(h) != nullptr;
            if ((round == 0 && effect) || (round == 1 && buffer) || round == 2) delete o;
        }
    QZ_Soundpipe::set_current(nullptr);
    return 0;
}
