// The low-pass plug-in: the VST side (AudioEffectX) joined with the toolkit
// application that owns the chain and the parameter records.
#pragma once

#include "plugin/application.h"
#include "plugin/audioeffect.h"
#include "zelo_version.h"

class QZ_Main_Vst : public AudioEffectX, public QZ_Application {
public:
    static constexpr VstInt32 kUniqueID = 0x36363335;  // the bytes "5366" in memory order
    static constexpr VstInt32 kVendorVersion = ZELO_VST_VENDOR_VERSION;
    static constexpr VstInt32 kNumPrograms = 1;
    static constexpr VstInt32 kNumParams = 2;

    explicit QZ_Main_Vst(audioMasterCallback audioMaster);
    ~QZ_Main_Vst() override;

    void open() override;
    void setSampleRate(float sampleRate) override;
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override;
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

private:
    // Only the two host parameters are reachable from the host; the preset
    // records 2 and 3 answer to widgets alone.
    static bool host_index(VstInt32 index) { return index >= 0 && index < kNumParams; }
};
