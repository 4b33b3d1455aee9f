// One instance of the effect as a plug-in format's adapter drives it. The
// effect is made through its own VST 2.4 entry with this object answering as
// its host, so every format gets the same parameters, sound, editor and
// presets; an adapter only translates its format's calls into these.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

struct AEffect;
class QZ_Main_Vst;

class QZ_Effect_Bridge {
public:
    enum class Change { Value, Begin, End };
    // Told of parameter changes the effect makes itself: a knob or switch in the
    // editor (on the editor's thread), the editor's LOAD button. For Value,
    // `value` is the new host value (0..1). Runs on whatever thread made the
    // change, so it must not block.
    using Listener = void (*)(void* context, Change what, int index, float value);

    static constexpr int kParams = 2;
    static constexpr int kState = 0;
    static constexpr int kFrequency = 1;

    // Null when the effect cannot be made.
    static std::unique_ptr<QZ_Effect_Bridge> create(Listener listener = nullptr, void* context = nullptr);
    // An instance for sound only, for formats whose editor has an instance of
    // its own (LV2): no editor and no widgets, so a parameter change from the
    // sound thread reaches the filter without the widgets' locks.
    static std::unique_ptr<QZ_Effect_Bridge> create_without_editor();
    // Closes the editor if open, suspends if running, closes the effect.
    ~QZ_Effect_Bridge();
    QZ_Effect_Bridge(const QZ_Effect_Bridge&) = delete;
    QZ_Effect_Bridge& operator=(const QZ_Effect_Bridge&) = delete;

    // Before resume, as a VST host sets them.
    void set_sample_rate(double rate);
    void set_block_size(std::int32_t frames);
    void resume();
    void suspend();
    bool running() const { return running_; }
    // Forgets the signal so far (the filter's memory), on the audio thread.
    void reset();

    // One mono input (null: silence) into two outputs, any number of frames.
    // Allocates nothing and takes no lock.
    void process(const float* input, float* left, float* right, std::uint32_t frames);

    // Parameters by index 0..kParams-1; host values run 0..1.
    bool param_name(int index, char* text, std::size_t cap);
    float param(int index) const;
    void set_param(int index, float value);
    // The host value a fresh effect has.
    float param_default(int index) const;
    // Only two positions (State: off and on).
    static bool param_stepped(int index) { return index == kState; }
    // The display text with its unit ("130 Hz", "On") of the current value or
    // of host value `value`. False (text empty) for an unknown index.
    bool param_text(int index, char* text, std::size_t cap);
    bool param_text_at(int index, float value, char* text, std::size_t cap);
    // The host value for a text as the display gives it: hertz, with or
    // without the unit; On/Off (or 1/0). False when the text is not understood.
    bool param_from_text(int index, const char* text, float* value);

    // The cutoff in hertz, for formats whose hosts show and store hertz.
    // Setting lands on the knob value whose cutoff is exactly `hz` whenever
    // the knob can give it (the nearest otherwise; held to 20..20000), so a
    // cutoff read here comes back unchanged. NaN changes nothing. Allocates
    // nothing.
    void set_cutoff_hz(float hz);
    float cutoff_hz() const;

    // Presets as the editor's files hold them.
    static std::size_t preset_size();
    // preset_size() bytes of the current values.
    void preset(unsigned char* out) const;
    // Applies a preset file's bytes. Null on success; otherwise the reason, and
    // nothing changed. The listener hears nothing of it: the adapter that loads
    // tells its own host.
    const char* set_preset(const unsigned char* data, std::size_t size);

    // The editor: a child of the host's native window (an X11 window id or an
    // HWND). Size in pixels; false when the effect has no editor.
    bool editor_size(int* width, int* height);
    bool editor_open(void* parent);
    void editor_close();
    void editor_idle();
    bool editor_is_open() const { return editor_open_; }

    // The underlying effect (for tests that compare with its own interface).
    AEffect* effect() const { return effect_; }

private:
    QZ_Effect_Bridge() = default;
    struct Host;
    std::intptr_t dispatch(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0,
                           void* ptr = nullptr, float opt = 0.0f);

    AEffect* effect_ = nullptr;
    QZ_Main_Vst* main_ = nullptr;
    Listener listener_ = nullptr;
    void* context_ = nullptr;
    double rate_ = 44100.0;
    std::int32_t block_ = 512;
    bool running_ = false;
    bool editor_open_ = false;
    float defaults_[kParams] = {};
};

// The editor's gestures on one parameter, in the order a host must hear them:
// a begin before the values it brackets, its end after them. The editor's
// thread notes each; one thread at a time takes them (no lock, no
// allocation), every begin and end exactly once, the values in between
// collapsed to the latest.
class QZ_Gesture_Order {
public:
    using Change = QZ_Effect_Bridge::Change;
    struct Seen {
        std::uint32_t begins, ends;
    };

    void note(bool begin) { (begin ? begins_ : ends_).fetch_add(1, std::memory_order_release); }

    // What has happened so far: read before the values are taken, so that a
    // value taken afterwards never comes ahead of its gesture's begin.
    Seen look() const {
        // Ends first: every end read then has its begin read after it.
        const std::uint32_t e = ends_.load(std::memory_order_acquire);
        return {begins_.load(std::memory_order_acquire), e};
    }

    // Calls emit(Change) with what the host has not heard yet: the begin of a
    // gesture under way, Value when `value` (a value taken since look()), then
    // the ends, and begins, that followed.
    template <class Emit>
    void take(const Seen& seen, bool value, Emit&& emit) {
        std::uint32_t b = sent_begins_.load(std::memory_order_relaxed);
        std::uint32_t e = sent_ends_.load(std::memory_order_relaxed);
        if (b == e && b != seen.begins) {
            emit(Change::Begin);
            ++b;
        }
        if (value) emit(Change::Value);
        while (b != seen.begins || e != seen.ends) {
            if (b != e) {
                emit(Change::End);
                ++e;
            } else {
                emit(Change::Begin);
                ++b;
            }
        }
        sent_begins_.store(b, std::memory_order_relaxed);
        sent_ends_.store(e, std::memory_order_relaxed);
    }

private:
    std::atomic<std::uint32_t> begins_{0}, ends_{0};
    std::atomic<std::uint32_t> sent_begins_{0}, sent_ends_{0};  // the taking thread's
};
