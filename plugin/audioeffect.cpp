#include "plugin/audioeffect.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kVersionText =
    " VST_FORCE_DEPRECATED VST_2_1_EXTENSIONS VST_2_3_EXTENSIONS VST_2_4_EXTENSIONS";

// VST 1 names; the deprecated VU, draw, mouse, key, top and sleep opcodes are
// left out on purpose (they get no handling).
const char* const kNamesV1[] = {
    "effOpen",
    "effClose",
    "effSetProgram",
    "effGetProgram",
    "effSetProgramName",
    "effGetProgramName",
    "effGetParamLabel",
    "effGetParamDisplay",
    "effGetParamName",
    nullptr,
    "effSetSampleRate",
    "effSetBlockSize",
    "effMainsChanged",
    "effEditGetRect",
    "effEditOpen",
    "effEditClose",
    nullptr,
    nullptr,
    nullptr,
    "effEditIdle",
    nullptr,
    nullptr,
    "effIdentify",
    "effGetChunk",
    "effSetChunk",
};

// VST 2 names from 25; the deprecated opcodes are left out.
const char* const kNamesV2[] = {
    "effProcessEvents",
    "effCanBeAutomated",
    "effString2Parameter",
    nullptr,  // 28
    "effGetProgramNameIndexed",
    nullptr,  // 30
    nullptr,  // 31
    nullptr,  // 32
    "effGetInputProperties",
    "effGetOutputProperties",
    "effGetPlugCategory",
    nullptr,  // 36
    nullptr,  // 37
    "effOfflineNotify",
    "effOfflinePrepare",
    "effOfflineRun",
    "effProcessVarIo",
    "effSetSpeakerArrangement",
    nullptr,  // 43
    "effSetBypass",
    "effGetEffectName",
    nullptr,  // 46
    "effGetVendorString",
    "effGetProductString",
    "effGetVendorVersion",
    "effVendorSpecific",
    "effCanDo",
    "effGetTailSize",
    nullptr,  // 53
    nullptr,  // 54
    nullptr,  // 55
    "effGetParameterProperties",
    nullptr,  // 57
    "effGetVstVersion",
    "effEditKeyDown",
    "effEditKeyUp",
    "effSetEditKnobMode",
    "effGetMidiProgramName",
    "effGetCurrentMidiProgram",
    "effGetMidiProgramCategory",
    "effHasMidiProgramsChanged",
    "effGetMidiKeyName",
    "effBeginSetProgram",
    "effEndSetProgram",
    "effGetSpeakerArrangement",
    "effShellGetNextPlugin",
    "effStartProcess",
    "effStopProcess",
    "effSetTotalSampleToProcess",
    "effSetPanLaw",
    "effBeginLoadBank",
    "effBeginLoadProgram",
    "effSetProcessPrecision",
    "effGetNumMidiInputChannels",
    "effGetNumMidiOutputChannels",
};
static_assert(sizeof(kNamesV1) / sizeof(kNamesV1[0]) == 25, "VST 1 name table");
static_assert(sizeof(kNamesV2) / sizeof(kNamesV2[0]) == 55, "VST 2 name table");

const char* lookup(const char* const* table, VstInt32 first, VstInt32 count, VstInt32 opcode) {
    if (opcode < first || opcode >= first + count) return "UNKNOWN";
    const char* name = table[opcode - first];
    return name ? name : "UNKNOWN";
}

// Writes at most maxLen characters and the terminating zero.
void copy_text(char* dst, const char* src, VstInt32 maxLen) {
    if (!dst || maxLen < 0) return;
    std::size_t n = std::strlen(src);
    if (n > static_cast<std::size_t>(maxLen)) n = static_cast<std::size_t>(maxLen);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// A host answers ZELO_VST_TRACE=0 to silence the lines (editor idle arrives tens
// of times a second); anything else, or nothing, keeps them.
bool trace_wanted() {
    const char* v = std::getenv("ZELO_VST_TRACE");
    return !(v && std::strcmp(v, "0") == 0);
}

AudioEffect* object_of(AEffect* e) { return e ? static_cast<AudioEffect*>(e->object) : nullptr; }

}  // namespace

const char* vst_opcode_name_v1(VstInt32 opcode) { return lookup(kNamesV1, 0, 25, opcode); }

const char* vst_opcode_name_v2(VstInt32 opcode) { return lookup(kNamesV2, 25, 55, opcode); }

// ---------------------------------------------------------------- AEffEditor

bool AEffEditor::getRect(ERect** rect) {
    if (rect) *rect = nullptr;
    return false;
}

bool AEffEditor::open(void* ptr) {
    systemWindow = ptr;
    return false;
}

bool AEffEditor::onKeyDown(VstKeyCode&) { return false; }
bool AEffEditor::onKeyUp(VstKeyCode&) { return false; }
bool AEffEditor::onWheel(float) { return false; }
bool AEffEditor::setKnobMode(VstInt32) { return false; }

// ---------------------------------------------------------------- AudioEffect

AudioEffect::AudioEffect(audioMasterCallback audioMaster, VstInt32 numPrograms, VstInt32 numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams), tracing(trace_wanted()) {
    std::memset(&cEffect, 0, sizeof(cEffect));
    cEffect.magic = kEffectMagic;
    cEffect.dispatcher = dispatchEffectClass;
    cEffect.process = processClass;
    cEffect.setParameter = setParameterClass;
    cEffect.getParameter = getParameterClass;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = kDefaultUniqueID;
    cEffect.version = 1;
    cEffect.processReplacing = processClassReplacing;
    cEffect.processDoubleReplacing = processClassDoubleReplacing;
    // Not virtual dispatch here: the derived part does not exist yet.
    AudioEffect::canProcessReplacing(true);
}

AudioEffect::~AudioEffect() { delete editor; }

void AudioEffect::trace(const char* who, const char* name, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                        void* ptr, float opt) const {
    if (!tracing) return;
    // The line shows value and ptr as 32-bit numbers, as the format always has.
    std::printf("%s::dispatcher opcode=%d '%s' index=%d value=%d ptr=%d opt=%f (%s)\n", who,
                static_cast<int>(opcode), name, static_cast<int>(index), static_cast<int>(value),
                static_cast<int>(reinterpret_cast<std::intptr_t>(ptr)), static_cast<double>(opt),
                kVersionText);
}

VstIntPtr AudioEffect::dispatcher(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    trace("AudioEffect", vst_opcode_name_v1(opcode), opcode, index, value, ptr, opt);
    // Hosts may pass a null buffer; nothing is written through it then.
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
        case effOpen: open(); return 0;
        case effClose: close(); return 0;
        case effSetProgram:
            if (value >= 0 && value < numPrograms) setProgram(static_cast<VstInt32>(value));
            return 0;
        case effGetProgram:
            if (tracing) std::printf("DISPATCH effGetProgram\n");
            return getProgram();
        case effSetProgramName:
            if (text) setProgramName(text);
            return 0;
        case effGetProgramName:
            if (text) getProgramName(text);
            return 0;
        case effGetParamLabel:
            if (text) getParameterLabel(index, text);
            return 0;
        case effGetParamDisplay:
            if (text) getParameterDisplay(index, text);
            return 0;
        case effGetParamName:
            if (text) getParameterName(index, text);
            return 0;
        case effSetSampleRate: setSampleRate(opt); return 0;
        case effSetBlockSize: setBlockSize(static_cast<VstInt32>(value)); return 0;
        case effMainsChanged:
            if (value == 0)
                suspend();
            else
                resume();
            return 0;
        case effEditGetRect:
            if (editor && ptr) return editor->getRect(static_cast<ERect**>(ptr)) ? 1 : 0;
            return 0;
        case effEditOpen:
            if (editor) return editor->open(ptr) ? 1 : 0;
            return 0;
        case effEditClose:
            if (editor) editor->close();
            return 0;
        case effEditIdle:
            if (editor) editor->idle();
            return 0;
        case effIdentify: return kEffectIdentify;
        case effGetChunk:
            if (!ptr) return 0;
            return getChunk(static_cast<void**>(ptr), index != 0);
        case effSetChunk: return setChunk(ptr, static_cast<VstInt32>(value), index != 0);
        default: return 0;
    }
}

void AudioEffect::setParameterAutomated(VstInt32 index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value);
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    setFlag(effFlagsHasEditor, newEditor != nullptr);
}

VstIntPtr AudioEffect::callHost(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return audioMaster ? audioMaster(&cEffect, opcode, index, value, ptr, opt) : 0;
}

VstInt32 AudioEffect::getMasterVersion() {
    VstInt32 v = static_cast<VstInt32>(callHost(audioMasterVersion));
    return v == 0 ? 1 : v;
}

VstInt32 AudioEffect::getCurrentUniqueId() { return static_cast<VstInt32>(callHost(audioMasterCurrentId)); }

void AudioEffect::masterIdle() { callHost(audioMasterIdle); }

void AudioEffect::dB2string(float value, char* text, VstInt32 maxLen) {
    if (value <= 0.0f)
        copy_text(text, "-oo", maxLen);
    else
        float2string(20.0f * std::log10(value), text, maxLen);
}

void AudioEffect::Hz2string(float samples, char* text, VstInt32 maxLen) {
    float v = samples != 0.0f ? sampleRate / samples : 0.0f;
    float2string(v, text, maxLen);
}

void AudioEffect::ms2string(float samples, char* text, VstInt32 maxLen) {
    float2string(samples * 1000.0f / sampleRate, text, maxLen);
}

void AudioEffect::float2string(float value, char* text, VstInt32 maxLen) {
    if (!text) return;
    // Out of range (and NaN) gives "Huge!" in the caller's buffer.
    if (!(value <= 99999999.0f && value >= -9999999.0f)) {
        copy_text(text, "Huge!", maxLen);
        return;
    }
    // Integer digits, a point, then as many fraction digits as fit in 8 characters.
    char digits[32];
    int whole = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    if (value < 0.0f && static_cast<int>(value) == 0) ++whole;  // room for the sign of -0.x
    int frac = 7 - whole;
    if (frac < 0) frac = 0;
    char out[32];
    std::snprintf(out, sizeof out, "%.*f", frac, static_cast<double>(value));
    copy_text(text, out, maxLen);
}

void AudioEffect::int2string(VstInt32 value, char* text, VstInt32 maxLen) {
    if (value >= 100000000) {
        copy_text(text, "Huge!", maxLen);
        return;
    }
    char out[16];
    std::snprintf(out, sizeof out, "%d", static_cast<int>(value));
    copy_text(text, out, maxLen);
}

bool AudioEffect::isInputConnectedDeprecated(VstInt32 input) {
    return callHost(audioMasterPinConnected, input, 0) == 0;
}

bool AudioEffect::isOutputConnectedDeprecated(VstInt32 output) {
    return callHost(audioMasterPinConnected, output, 1) == 0;
}

VstIntPtr VSTCALLBACK AudioEffect::dispatchEffectClass(AEffect* e, VstInt32 opcode, VstInt32 index,
                                                       VstIntPtr value, void* ptr, float opt) {
    AudioEffect* self = object_of(e);
    if (!self) return 0;
    if (opcode == effClose) {
        self->dispatcher(opcode, index, value, ptr, opt);
        delete self;
        return 1;
    }
    return self->dispatcher(opcode, index, value, ptr, opt);
}

float VSTCALLBACK AudioEffect::getParameterClass(AEffect* e, VstInt32 index) {
    AudioEffect* self = object_of(e);
    return self ? self->getParameter(index) : 0.0f;
}

void VSTCALLBACK AudioEffect::setParameterClass(AEffect* e, VstInt32 index, float value) {
    if (AudioEffect* self = object_of(e)) self->setParameter(index, value);
}

void VSTCALLBACK AudioEffect::processClass(AEffect* e, float** inputs, float** outputs,
                                           VstInt32 sampleFrames) {
    if (AudioEffect* self = object_of(e)) self->processDeprecated(inputs, outputs, sampleFrames);
}

void VSTCALLBACK AudioEffect::processClassReplacing(AEffect* e, float** inputs, float** outputs,
                                                    VstInt32 sampleFrames) {
    if (AudioEffect* self = object_of(e)) self->processReplacing(inputs, outputs, sampleFrames);
}

void VSTCALLBACK AudioEffect::processClassDoubleReplacing(AEffect* e, double** inputs, double** outputs,
                                                          VstInt32 sampleFrames) {
    if (AudioEffect* self = object_of(e)) self->processDoubleReplacing(inputs, outputs, sampleFrames);
}
