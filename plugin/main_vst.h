// The low-pass plug-in: the VST side (AudioEffectX) joined with the toolkit
// application that owns the chain and the parameter records.
#pragma once

#include "plugin/application.h"
#include "plugin/audioeffect.h"
#include "zelo_version.h"

class QZ_Effect_Lopass;

class QZ_Main_Vst : public AudioEffectX, public QZ_Application {
public:
    static constexpr VstInt32 kUniqueID = 0x36363335;  // the bytes "5366" in memory order
    static constexpr VstInt32 kVendorVersion = ZELO_VST_VENDOR_VERSION;
    static constexpr VstInt32 kNumPrograms = 1;
    static constexpr VstInt32 kNumParams = 2;
    // Set by a format adapter of this module around its call of the entry:
    // the instance made on this thread is for sound only (no editor, no widgets).
    static thread_local bool make_without_editor;

    explicit QZ_Main_Vst(audioMasterCallback audioMaster);
    ~QZ_Main_Vst() override;

    void open() override;
    void setSampleRate(float sampleRate) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // The accumulating call: the same output, added to what the buffers hold.
    void processDeprecated(float** inputs, float** outputs, VstInt32 sampleFrames) override;
    // "zeloAccumulatingProcess": yes; anything else: don't know.
    VstInt32 canDo(char* text) override;
    void setParameter(VstInt32 index, float value) override;
    float getParameter(VstInt32 index) override;
    VstInt32 getProgram() override { return 0; }
    void setProgram(VstInt32) override {}
    void setProgramName(char*) override {}
    void getProgramName(char* name) override;
    void getParameterLabel(VstInt32 index, char* label) override;
    void getParameterDisplay(VstInt32 index, char* text) override;
    void getParameterName(VstInt32 index, char* text) override;
    VstInt32 getChunk(void** data, bool isPreset = false) override;
    VstInt32 setChunk(void* data, VstInt32 byteSize, bool isPreset = false) override;
    bool canParameterBeAutomated(VstInt32 index) override;
    bool getProgramNameIndexed(VstInt32 category, VstInt32 index, char* text) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    VstInt32 getVendorVersion() override { return kVendorVersion; }
    VstPlugCategory getPlugCategory() override { return kPlugCategEffect; }

    void userChanged(int index) override;
    void userGesture(int index, bool begin) override;

    // The display text with its unit ("130 Hz", "On") of a host parameter at
    // host value x (0..1), for hosts whose parameter view asks about values other
    // than the current one. False for an unknown index or NaN (text then empty).
    bool displayFor(VstInt32 index, float x, char* text, std::size_t cap);

private:
    // The filter when the chain is in its usual steady state (see
    // processReplacing), else null.
    QZ_Effect_Lopass* steady_filter() const;
    template <bool Add>
    void run(float** inputs, float** outputs, VstInt32 sampleFrames);

    // A record's value word, as its kind uses it.
    struct Word {
        std::int32_t i = 0;
        float f = 0.0f;
    };
    // The word that host value x (held to 0..1) stands for.
    static Word word_at(const Param& p, float x);
    void format_display(VstInt32 index, Word w, bool with_unit, char* buf, std::size_t cap) const;

    // Only the two host parameters are reachable from the host; the preset
    // records 2 and 3 answer to widgets alone.
    static bool host_index(VstInt32 index) { return index >= 0 && index < kNumParams; }
};
