// Simulated drivers and a simple effect for the host logic's tests: drivers whose
// modes, inputs and failures a test chooses and whose blocks it pumps by hand,
// and an effect that scales its input by a gain of its own.
#pragma once

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_logic.h"
#include "rts/rts.h"

namespace host_sim {

struct Mode_Spec {
    int rate, bits, block, channels;
};

class Sim_Driver : public QZ_Rts {
public:
    Sim_Driver(const char* name, int inputs, std::vector<Mode_Spec> modes)
        : QZ_Rts(name), n_inputs(inputs), mode_specs(std::move(modes)) {}

    QZ_error init() override {
        ++init_calls;
        if (fail_init) return QZ_ERROR_AUDIO_CANNOT_OPEN;
        for (const Mode_Spec& m : mode_specs) modes.insert(&(new Mode(m.rate, m.bits, m.block, m.channels))->item);
        for (int j = 0; j < n_inputs; ++j) {
            Chan* c = new Chan(("In " + std::to_string(j + 1)).c_str(), QZ_RTS_FLOAT32);
            inputs.insert(&c->item);
        }
        return QZ_OK;
    }
    QZ_error exit() override {
        ++exit_calls;
        return QZ_Rts::exit();
    }
    QZ_error mode(Mode* m) override {
        ++mode_calls;
        if (fail_mode) return QZ_ERROR_AUDIO;
        const std::size_t n = static_cast<std::size_t>(m->block);
        in_store.assign(static_cast<std::size_t>(inputs.count), std::vector<float>(n, 0.0f));
        out_store.assign(static_cast<std::size_t>(m->channels), std::vector<float>(n, 0.0f));
        int j = 0;
        for (QZ_Chain_Item* it = inputs.first(); it != inputs.end(); it = it->next, ++j) {
            Chan::of(it)->count = m->block;
            Chan::of(it)->data = nullptr;  // no block yet
        }
        for (int c = 0; c < m->channels; ++c) {
            Chan* ch = new Chan(("Out " + std::to_string(c + 1)).c_str(), QZ_RTS_FLOAT32, m->block);
            outputs.insert(&ch->item);
        }
        return QZ_Rts::mode(m);
    }
    QZ_error free() override {
        ++free_calls;
        return QZ_Rts::free();
    }

    // One block: inputs listed in `with_data` get their samples, then the callback runs.
    void pump(QZ_Rts_callback cb, const std::vector<int>& with_data) {
        int j = 0;
        for (QZ_Chain_Item* it = inputs.first(); it != inputs.end(); it = it->next, ++j) {
            bool has = false;
            for (int w : with_data) has = has || w == j;
            Chan::of(it)->data = has ? in_store[static_cast<std::size_t>(j)].data() : nullptr;
        }
        int c = 0;
        for (QZ_Chain_Item* it = outputs.first(); it != outputs.end(); it = it->next, ++c)
            Chan::of(it)->data = out_store[static_cast<std::size_t>(c)].data();
        cb();
    }

    // The device or server went away (any thread, as a driver would).
    void lose(const char* why) { setLost(why); }

    int n_inputs;
    std::vector<Mode_Spec> mode_specs;
    bool fail_init = false, fail_mode = false;
    int init_calls = 0, exit_calls = 0, mode_calls = 0, free_calls = 0;
    std::vector<std::vector<float>> in_store, out_store;
    QZ_Chain_Item all_item{this};
};

// The drivers of the simulated class, linked into QZ_Rts_instances by its init.
struct Sim_Class {
    static std::vector<std::unique_ptr<Sim_Driver>>& pending() {
        static std::vector<std::unique_ptr<Sim_Driver>> v;
        return v;
    }
    static std::vector<std::unique_ptr<Sim_Driver>>& live() {
        static std::vector<std::unique_ptr<Sim_Driver>> v;
        return v;
    }
    static QZ_Rts_callback& callback() {
        static QZ_Rts_callback cb = nullptr;
        return cb;
    }
    static QZ_error init(QZ_Rts_callback cb) {
        callback() = cb;
        for (auto& d : pending()) {
            QZ_Rts_instances.insert(&d->all_item);
            live().push_back(std::move(d));
        }
        pending().clear();
        return QZ_OK;
    }
    static void exit() {
        for (auto& d : live()) QZ_Rts_instances.remove(&d->all_item);
        live().clear();
    }
    static Sim_Driver* add(const char* name, int inputs, std::vector<Mode_Spec> modes) {
        pending().push_back(std::make_unique<Sim_Driver>(name, inputs, std::move(modes)));
        return pending().back().get();
    }
    static QZ_Host::Driver_Class cls() { return {&Sim_Class::init, &Sim_Class::exit}; }
};

// An effect whose left output is gain x input and right output 2 x gain x input;
// the n-th one created has gain n. It records what the host sent it.
struct Sim_Effect {
    AEffect e{};
    float gain = 1;
    float rate = 0;
    bool editor_open = false;
    int edit_opens = 0, idles = 0;
    void* parent = nullptr;

    static std::atomic<int>& created() {
        static std::atomic<int> n{0};
        return n;
    }
    static std::atomic<int>& alive() {
        static std::atomic<int> n{0};
        return n;
    }
    static std::vector<std::string>& log() {
        static std::vector<std::string> l;
        return l;
    }

    static VstIntPtr VSTCALLBACK dispatch(AEffect* a, VstInt32 op, VstInt32, VstIntPtr, void* ptr, float opt) {
        Sim_Effect* s = static_cast<Sim_Effect*>(a->object);
        switch (op) {
            case effSetSampleRate: s->rate = opt; return 0;
            case effEditOpen:
                s->editor_open = true;
                s->parent = ptr;
                ++s->edit_opens;
                log().push_back("open " + std::to_string(static_cast<int>(s->gain)));
                return 1;
            case effEditClose:
                s->editor_open = false;
                log().push_back("close " + std::to_string(static_cast<int>(s->gain)));
                return 0;
            case effEditIdle: ++s->idles; return 0;
            case effEditGetRect: {
                static ERect r{0, 0, 236, 200};
                *static_cast<ERect**>(ptr) = &r;
                return 1;
            }
            case effGetEffectName: std::strcpy(static_cast<char*>(ptr), "sim effect"); return 1;
            case effClose:
                log().push_back("close-effect " + std::to_string(static_cast<int>(s->gain)));
                --alive();
                delete s;
                return 1;
            default: return 0;
        }
    }
    static void VSTCALLBACK process(AEffect* a, float** in, float** out, VstInt32 n) {
        Sim_Effect* s = static_cast<Sim_Effect*>(a->object);
        for (VstInt32 i = 0; i < n; ++i) {
            out[0][i] = s->gain * in[0][i];
            out[1][i] = 2 * s->gain * in[0][i];
        }
    }
    static AEffect* VSTCALLBACK entry(audioMasterCallback master) {
        if (master(nullptr, audioMasterVersion, 0, 0, nullptr, 0) == 0) return nullptr;
        Sim_Effect* s = new Sim_Effect;
        s->e.magic = kEffectMagic;
        s->e.object = s;
        s->e.dispatcher = &dispatch;
        s->e.processReplacing = &process;
        s->e.numInputs = 1;
        s->e.numOutputs = 2;
        s->gain = static_cast<float>(++created());
        ++alive();
        return &s->e;
    }
    static Sim_Effect* of(const QZ_Host& h, int k) { return static_cast<Sim_Effect*>(h.instance(k).effect->object); }
};

}  // namespace host_sim
