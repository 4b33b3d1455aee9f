#include "plugin/effect_bridge.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "plugin/main_vst.h"
#include "plugin/preset.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

namespace {

// Set while the bridge itself changes parameters on this thread (a preset
// load): the effect's own reports of that change are not the listener's.
thread_local bool t_quiet = false;

bool same_word(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

const char* skip_blanks(const char* s) {
    while (*s == ' ' || *s == '\t') ++s;
    return s;
}

}  // namespace

struct QZ_Effect_Bridge::Host {
    // The effect's calls to its host. Calls made while the effect is being
    // constructed come before the bridge is known to it (resvd1 still 0).
    static VstIntPtr VSTCALLBACK callback(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr, void*,
                                          float opt) {
        QZ_Effect_Bridge* self = e ? reinterpret_cast<QZ_Effect_Bridge*>(e->resvd1) : nullptr;
        switch (opcode) {
            case audioMasterVersion: return kVstVersion;
            case audioMasterGetSampleRate: return self ? static_cast<VstIntPtr>(self->rate_) : 0;
            case audioMasterGetBlockSize: return self ? self->block_ : 0;
            case audioMasterAutomate:
                if (self && self->listener_ && !t_quiet)
                    self->listener_(self->context_, Change::Value, index, opt);
                return 0;
            case audioMasterBeginEdit:
            case audioMasterEndEdit:
                if (self && self->listener_ && !t_quiet)
                    self->listener_(self->context_, opcode == audioMasterBeginEdit ? Change::Begin : Change::End,
                                    index, 0.0f);
                return 1;
            default: return 0;
        }
    }
};

std::unique_ptr<QZ_Effect_Bridge> QZ_Effect_Bridge::create(Listener listener, void* context) {
    AEffect* e = VSTPluginMain(&Host::callback);
    if (!e) return nullptr;
    std::unique_ptr<QZ_Effect_Bridge> b(new QZ_Effect_Bridge);
    b->effect_ = e;
    // The effect came from our own entry, so its object is ours.
    b->main_ = static_cast<QZ_Main_Vst*>(static_cast<AudioEffect*>(e->object));
    e->resvd1 = reinterpret_cast<VstIntPtr>(b.get());
    // The host of the adapter never sees VST calls: no trace lines of them.
    b->main_->setTracing(false);
    b->dispatch(effOpen);
    for (int i = 0; i < kParams; ++i) b->defaults_[i] = b->param(i);
    // Set last: opening reports nothing the adapter has to pass on.
    b->listener_ = listener;
    b->context_ = context;
    return b;
}

std::unique_ptr<QZ_Effect_Bridge> QZ_Effect_Bridge::create_without_editor() {
    QZ_Main_Vst::make_without_editor = true;
    std::unique_ptr<QZ_Effect_Bridge> b;
    try {
        b = create();
    } catch (...) {
        QZ_Main_Vst::make_without_editor = false;
        throw;
    }
    QZ_Main_Vst::make_without_editor = false;
    return b;
}

QZ_Effect_Bridge::~QZ_Effect_Bridge() {
    if (!effect_) return;
    editor_close();
    suspend();
    dispatch(effClose);  // deletes the effect
    effect_ = nullptr;
}

std::intptr_t QZ_Effect_Bridge::dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr,
                                         float opt) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void QZ_Effect_Bridge::set_sample_rate(double rate) {
    if (!(rate >= 1.0)) return;
    rate_ = rate;
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
}

void QZ_Effect_Bridge::set_block_size(std::int32_t frames) {
    if (frames <= 0) return;
    block_ = frames;
    dispatch(effSetBlockSize, 0, frames);
}

void QZ_Effect_Bridge::resume() {
    if (running_) return;
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
    running_ = true;
}

void QZ_Effect_Bridge::suspend() {
    if (!running_) return;
    dispatch(effStopProcess);
    dispatch(effMainsChanged, 0, 0);
    running_ = false;
}

void QZ_Effect_Bridge::reset() {
    // Opening clears the effect's buffers and its filter's state, and nothing else.
    dispatch(effOpen);
}

void QZ_Effect_Bridge::process(const float* input, float* left, float* right, std::uint32_t frames) {
    float* in[1] = {const_cast<float*>(input)};
    float* out[2] = {left, right};
    // processReplacing counts frames in a signed 32-bit word.
    constexpr std::uint32_t kMost = 1u << 30;
    while (frames > 0) {
        const std::uint32_t n = frames < kMost ? frames : kMost;
        effect_->processReplacing(effect_, in, out, static_cast<VstInt32>(n));
        frames -= n;
        if (in[0]) in[0] += n;
        if (out[0]) out[0] += n;
        if (out[1]) out[1] += n;
    }
}

bool QZ_Effect_Bridge::param_name(int index, char* text, std::size_t cap) {
    if (!text || cap == 0) return false;
    text[0] = '\0';
    if (index < 0 || index >= kParams) return false;
    // The record's full name: the VST name is cut to its 8 characters.
    main_->params[index].getName(text, cap);
    return true;
}

float QZ_Effect_Bridge::param(int index) const { return effect_->getParameter(effect_, index); }

void QZ_Effect_Bridge::set_param(int index, float value) { effect_->setParameter(effect_, index, value); }

float QZ_Effect_Bridge::param_default(int index) const {
    return index >= 0 && index < kParams ? defaults_[index] : 0.0f;
}

bool QZ_Effect_Bridge::param_text(int index, char* text, std::size_t cap) {
    return param_text_at(index, param(index), text, cap);
}

bool QZ_Effect_Bridge::param_text_at(int index, float value, char* text, std::size_t cap) {
    return main_->displayFor(index, value, text, cap);
}

bool QZ_Effect_Bridge::param_from_text(int index, const char* text, float* value) {
    if (!text || !value) return false;
    text = skip_blanks(text);
    if (index == kState) {
        char word[16] = {};
        std::size_t n = 0;
        while (text[n] && text[n] != ' ' && text[n] != '\t' && n + 1 < sizeof word) {
            word[n] = text[n];
            ++n;
        }
        if (*skip_blanks(text + n)) return false;
        const QZ_Application::Param& p = main_->params[kState];
        if (same_word(word, p.on_text()) || std::strcmp(word, "1") == 0)
            *value = 1.0f;
        else if (same_word(word, p.off_text()) || std::strcmp(word, "0") == 0)
            *value = 0.0f;
        else
            return false;
        return true;
    }
    if (index == kFrequency) {
        char* end = nullptr;
        const double hz = std::strtod(text, &end);
        if (end == text || !std::isfinite(hz)) return false;
        const char* rest = skip_blanks(end);
        if (*rest && !same_word(rest, main_->params[kFrequency].label)) return false;
        const float mn = static_cast<float>(QZ_Application::kKnobMin);
        const float mx = static_cast<float>(QZ_Application::kKnobMax);
        const float knob = QZ_Application::knob_of(static_cast<float>(hz));
        *value = (knob - mn) / (mx - mn);
        return true;
    }
    return false;
}

void QZ_Effect_Bridge::set_cutoff_hz(float hz) {
    if (std::isnan(hz)) return;
    // The knob value itself: a host value 0..1 cannot name every knob value.
    QZ_Application::Param& p = main_->params[kFrequency];
    p.store_float(QZ_Application::knob_of(hz));
    p.changed(nullptr);
}

float QZ_Effect_Bridge::cutoff_hz() const {
    return QZ_Application::cutoff_of(main_->params[kFrequency].load_float());
}

std::size_t QZ_Effect_Bridge::preset_size() { return QZ_preset_file_length(); }

void QZ_Effect_Bridge::preset(unsigned char* out) const { QZ_preset_encode(main_->current_preset(), out); }

const char* QZ_Effect_Bridge::set_preset(const unsigned char* data, std::size_t size) {
    QZ_Preset values;
    if (const char* message = QZ_preset_decode(data, size, &values)) return message;
    t_quiet = true;
    main_->apply_preset(values);
    t_quiet = false;
    return nullptr;
}

bool QZ_Effect_Bridge::editor_size(int* width, int* height) {
    ERect* r = nullptr;
    if (!dispatch(effEditGetRect, 0, 0, &r) || !r) return false;
    if (width) *width = r->right - r->left;
    if (height) *height = r->bottom - r->top;
    return true;
}

bool QZ_Effect_Bridge::editor_open(void* parent) {
    if (!parent) return false;
    editor_open_ = dispatch(effEditOpen, 0, 0, parent) != 0;
    return editor_open_;
}

void QZ_Effect_Bridge::editor_close() {
    if (!editor_open_) return;
    dispatch(effEditClose);
    editor_open_ = false;
}

void QZ_Effect_Bridge::editor_idle() {
    if (editor_open_) dispatch(effEditIdle);
}
