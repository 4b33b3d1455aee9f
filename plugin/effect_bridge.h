// One instance of the effect as a plug-in format's adapter drives it. The
// effect is made through its own VST 2.4 entry with this object answering as
// its host, so every format gets the same parameters, sound, editor and
// presets; an adapter only translates its format's calls into these.
#pragma once

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
