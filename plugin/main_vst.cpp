#include "plugin/main_vst.h"

#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/effect.h"
#include "dsp/filters.h"
#include "dsp/soundpipe.h"
#if ZELO_WITH_GUI
#include "plugin/editor.h"
#endif

namespace {

constexpr float kFullScale = 1073741824.0f;  // 2^30: the chain's ±1.0
constexpr float kInvFullScale = 1.0f / 1073741824.0f;

// Copies text into a field of `field` bytes, cleared first; at most field - 1
// characters are written.
void put_field(char* dst, std::size_t field, const char* src) {
    std::memset(dst, 0, field);
    std::size_t n = std::strlen(src);
    if (n > field - 1) n = field - 1;
    std::memcpy(dst, src, n);
}

// Writes the text and its zero, at most limit characters: some hosts give
// exactly the published length, so nothing beyond the text is touched.
void put_text(char* dst, std::size_t limit, const char* src) {
    std::size_t n = std::strlen(src);
    if (n > limit) n = limit;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// A host sample in the chain's fixed point: above 1 is 1, anything not above
// -1 (NaN too) is -1, so no NaN reaches the integer conversion; and +1 is one
// step below 2^30, at the buffers' limit (it still reads back as 1.0f). The
// low-pass forms x - y + 2^31 in 32 bits, which stays in range only while
// both lie in -2^30..2^30 - 1: +1 as 2^30 after a held -1 wrapped it, a step
// the wrong way (44.1 kHz at 20 kHz: +1.52 instead of +0.48). Written as
// min/max selects (NaN passes the first, fails the second) so that loops
// over it vectorise.
constexpr std::int32_t kTop = (1 << 30) - 1;
inline std::int32_t to_fixed(float x) {
    x = 1.0f < x ? 1.0f : x;
    x = x > -1.0f ? x : -1.0f;
    const std::int32_t v = static_cast<std::int32_t>(x * kFullScale);
    return v < kTop ? v : kTop;
}

void clip_to_fixed(const float* src, std::int32_t* dst, VstInt32 n) {
    for (VstInt32 i = 0; i < n; ++i) dst[i] = to_fixed(src[i]);
}

}  // namespace

thread_local bool QZ_Main_Vst::make_without_editor = false;

QZ_Main_Vst::QZ_Main_Vst(audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParams) {
    with_editor = !make_without_editor;
    build();
    sizeWindow(editor_width, editor_height);
    if (usesChunks()) programsAreChunks(true);
    setNumInputs(1);
    setNumOutputs(2);
    setUniqueID(kUniqueID);
#if ZELO_WITH_GUI
    // The editor opens no display until the host shows it.
    if (with_editor) setEditor(new QZ_Main_Vst_Editor(this));
#endif
}

QZ_Main_Vst::~QZ_Main_Vst() {
    // A host may close the effect with its editor still open: the editor lets
    // go of the widgets before they are deleted.
    if (editor) editor->close();
    destroy();
}

void QZ_Main_Vst::open() {
    if (!chain_alive()) return;
    for (QZ_Chain_Item* it = pipe_->buffers.first(); it != pipe_->buffers.end(); it = it->next) {
        auto* b = static_cast<QZ_Buffer*>(it->data);
        if (b->main_block())
            std::memset(b->main_block(), 0, sizeof(std::int32_t) * static_cast<std::size_t>(b->count()));
    }
    for (QZ_Chain_Item* it = pipe_->effects.first(); it != pipe_->effects.end(); it = it->next)
        static_cast<QZ_Effect*>(it->data)->reset();
}

void QZ_Main_Vst::setSampleRate(float rate) {
    // A rate that is not a positive number would leave the filter without a
    // usable coefficient; it is ignored.
    if (!(rate >= 1.0f)) return;
    clock = QZ_trunc_to_int(static_cast<double>(rate));
    if (!chain_alive()) return;
    for (QZ_Chain_Item* it = pipe_->effects.first(); it != pipe_->effects.end(); it = it->next)
        spcpp("QZ_Effect %o -clock %i", QZ_handle_of(static_cast<QZ_Effect*>(it->data)), clock);
}

namespace {

// The steady chain's pass in one loop (see run): returns the filter's new
// state. Written once, compiled twice: plainly, and where the processor has
// AVX with its encodings, whose vector adds and conversions take unaligned
// memory operands (the accumulating call's outputs then cost a few
// instructions fewer per sample). The same operations, so the same bits.
template <bool Add>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline std::uint32_t steady_pass(const float* in, float* out0, float* out1, VstInt32 sampleFrames, std::uint32_t y,
                                 std::uint32_t k) {
    const auto put = [](float* o, float v) {
        if constexpr (Add)
            *o += v;
        else
            *o = v;
    };
    const std::uint32_t half = k >> 1;
    const auto step = [&](float x) {
        std::uint32_t xb = static_cast<std::uint32_t>(to_fixed(x)) + 0x80000000u;
        QZ_PIN(xb);
        std::uint32_t ylow = y - half;
        QZ_PIN(ylow);
        const std::uint32_t h = static_cast<std::uint32_t>((static_cast<std::uint64_t>(xb - y) * k) >> 32);
        y = ylow + h;
    };
    VstInt32 i = 0;
#if defined(__SSE2__)
    // The words of a stretch collect in a small block and go out four at a
    // time (scaled, then stored or added), which takes most of the work per
    // sample off the recursion's way. The stretch's input is read before its
    // outputs are written, so an output that is the input or the other output
    // is fine; buffers that overlap otherwise take the loop below, which keeps
    // the order of every access.
    const auto apart = [sampleFrames](const float* a, const float* b) {
        const std::uintptr_t p = reinterpret_cast<std::uintptr_t>(a), q = reinterpret_cast<std::uintptr_t>(b);
        const std::uintptr_t bytes = sizeof(float) * static_cast<std::uintptr_t>(sampleFrames);
        return p == q || p + bytes <= q || q + bytes <= p;
    };
    if (apart(in, out0) && apart(in, out1) && apart(out0, out1)) {
        constexpr VstInt32 kStretch = 32;
        std::int32_t words[kStretch];
        const __m128 scale = _mm_set1_ps(kInvFullScale);
        for (; i + kStretch <= sampleFrames; i += kStretch) {
            for (VstInt32 j = 0; j < kStretch; ++j) {
                step(in[i + j]);
                words[j] = static_cast<std::int32_t>(y);
            }
            for (VstInt32 j = 0; j < kStretch; j += 4) {
                const __m128 v =
                    _mm_mul_ps(_mm_cvtepi32_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words + j))), scale);
                for (float* o : {out0 + i + j, out1 + i + j}) _mm_storeu_ps(o, Add ? _mm_add_ps(_mm_loadu_ps(o), v) : v);
            }
        }
    }
#endif
    for (; i < sampleFrames; ++i) {
        step(in[i]);
        const float v = static_cast<float>(static_cast<std::int32_t>(y)) * kInvFullScale;
        put(out0 + i, v);
        put(out1 + i, v);
    }
    return y;
}

template <bool Add>
std::uint32_t steady_plain(const float* in, float* out0, float* out1, VstInt32 n, std::uint32_t y, std::uint32_t k) {
    return steady_pass<Add>(in, out0, out1, n, y, k);
}

// Not in the 32-bit Windows build, whose stack alignment GCC's AVX code
// cannot count on.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32) && defined(__GNUC__)
#define QZ_STEADY_AVX 1
template <bool Add>
__attribute__((target("avx"))) std::uint32_t steady_avx(const float* in, float* out0, float* out1, VstInt32 n,
                                                        std::uint32_t y, std::uint32_t k) {
    return steady_pass<Add>(in, out0, out1, n, y, k);
}
#endif

template <bool Add>
std::uint32_t steady_loop(const float* in, float* out0, float* out1, VstInt32 n, std::uint32_t y, std::uint32_t k) {
#if defined(QZ_STEADY_AVX)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) return steady_avx<Add>(in, out0, out1, n, y, k);
#endif
    return steady_plain<Add>(in, out0, out1, n, y, k);
}

}  // namespace

QZ_Effect_Lopass* QZ_Main_Vst::steady_filter() const {
    // The chain as build() made it, each of its three effects on and staying
    // on, each writing its whole output: copy in, the filter over it, copy out.
    QZ_Effect_Copy* in = copy_in_;
    QZ_Effect_Lopass* lp = lopass_;
    QZ_Effect_Copy* out = copy_out_;
    if (pipe_->effects.count != 3 || !in || !lp || !out || QZ_object_from_handle(objects[COPY_IN]) != in ||
        QZ_object_from_handle(objects[LOPASS]) != lp || QZ_object_from_handle(objects[COPY_OUT]) != out)
        return nullptr;
    for (QZ_Effect* e : {static_cast<QZ_Effect*>(in), static_cast<QZ_Effect*>(lp), static_cast<QZ_Effect*>(out)})
        if (!e->requested_on() || !e->current_on() || !e->prepared() || e->mode() != QZ_MODE_SET ||
            e->pipe() != pipe_)
            return nullptr;
    for (QZ_Effect_Copy* c : {in, out})
        if (c->in_step.load(std::memory_order_relaxed) != 1 || c->out_step.load(std::memory_order_relaxed) != 1)
            return nullptr;
    if (in->in.get() != buf_i_ || lp->in.get() != buf_i_ || lp->out.get() != in->out.get() ||
        out->in.get() != lp->out.get() || out->out.get() != buf_o_)
        return nullptr;
    return lp;
}

void QZ_Main_Vst::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    run<false>(inputs, outputs, sampleFrames);
}

void QZ_Main_Vst::processDeprecated(float** inputs, float** outputs, VstInt32 sampleFrames) {
    run<true>(inputs, outputs, sampleFrames);
}

VstInt32 QZ_Main_Vst::canDo(char* text) {
    // Asked by the standalone host, which then mixes instances through the
    // accumulating call.
    return text && std::strcmp(text, "zeloAccumulatingProcess") == 0 ? 1 : 0;
}

template <bool Add>
void QZ_Main_Vst::run(float** inputs, float** outputs, VstInt32 sampleFrames) {
    if (sampleFrames <= 0 || !outputs) return;
    const float* in = inputs ? inputs[0] : nullptr;
    float* out0 = outputs[0];
    float* out1 = outputs[1];
    const bool alive = chain_alive();
    const auto put = [](float* o, float v) {
        if constexpr (Add)
            *o += v;
        else
            *o = v;
    };
    if (alive && in && out0 && out1) {
        if (QZ_Effect_Lopass* lp = steady_filter()) {
            // The pass's result in one loop: the conversions in and out are
            // independent of the recursion's dependency chain (sub, multiply,
            // add) and run beside it. Bit for bit what the pass gives: the
            // same clipping, the same recursion, the same scaling back.
            lp->y = static_cast<std::int32_t>(steady_loop<Add>(in, out0, out1, sampleFrames,
                                                               static_cast<std::uint32_t>(lp->y), lp->coefficient()));
            return;
        }
    }

    for (VstInt32 k = 0; k < sampleFrames; k += block_length) {
        const VstInt32 n = sampleFrames - k < block_length ? sampleFrames - k : block_length;
        if (!alive) {
            // Without its chain the effect is silent rather than wrong.
            if constexpr (!Add)
                for (VstInt32 i = 0; i < n; ++i) {
                    if (out0) out0[k + i] = 0.0f;
                    if (out1) out1[k + i] = 0.0f;
                }
            continue;
        }
        std::int32_t* bi = buf_i_->main_block();
        if (in)
            clip_to_fixed(in + k, bi, n);
        else
            std::memset(bi, 0, sizeof(std::int32_t) * static_cast<std::size_t>(n));
        QZ_Soundpipe::m_bl(pipe_, QZ_value::integer(n));
        pipe_->process();
        const std::int32_t* bo = buf_o_->main_block();
        for (float* o : {out0, out1})
            if (o)
                for (VstInt32 i = 0; i < n; ++i) put(o + k + i, static_cast<float>(bo[i]) * kInvFullScale);
    }
}

void QZ_Main_Vst::setParameter(VstInt32 index, float x) {
    if (!host_index(index)) return;
    // A host value outside 0..1 is held to the range; NaN changes nothing.
    if (std::isnan(x)) return;
    Param& p = params[index];
    const Word w = word_at(p, x);
    if (p.type == KIND_FLOAT)
        p.store_float(w.f);
    else if (p.type == KIND_ON_OFF || p.type == KIND_INT)
        p.store_int(w.i);
    p.changed(nullptr);
}

QZ_Main_Vst::Word QZ_Main_Vst::word_at(const Param& p, float x) {
    x = x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x);
    Word w;
    switch (p.type) {
        case KIND_FLOAT: {
            const float mn = static_cast<float>(kKnobMin), mx = static_cast<float>(kKnobMax);
            w.f = mn + x * (mx - mn);
            break;
        }
        case KIND_ON_OFF: w.i = x > 0.5f ? 1 : 0; break;
        case KIND_INT:
            w.i = QZ_trunc_to_int(p.minimum + static_cast<double>(x) * (p.maximum - p.minimum + 0.999999999));
            break;
        default: break;
    }
    return w;
}

void QZ_Main_Vst::userChanged(int index) {
    // The value is already applied; the host only needs to hear of it.
    if (host_index(index)) callHost(audioMasterAutomate, index, 0, nullptr, getParameter(index));
}

void QZ_Main_Vst::userGesture(int index, bool begin) {
    if (!host_index(index)) return;
    if (begin)
        beginEdit(index);
    else
        endEdit(index);
}

float QZ_Main_Vst::getParameter(VstInt32 index) {
    if (!host_index(index)) return 0.0f;
    const Param& p = params[index];
    switch (p.type) {
        case KIND_FLOAT: {
            const float mn = static_cast<float>(kKnobMin), mx = static_cast<float>(kKnobMax);
            return (p.load_float() - mn) / (mx - mn);
        }
        case KIND_ON_OFF: return p.load_int() != 0 ? 1.0f : 0.0f;
        case KIND_INT: {
            const double span = static_cast<double>(p.maximum) - p.minimum + 1.0;
            return static_cast<float>((p.load_int() - static_cast<double>(p.minimum) + 0.5) / span);
        }
        default: return 0.0f;
    }
}

void QZ_Main_Vst::getProgramName(char* name) { put_field(name, kVstMaxProgNameLen, "Default program"); }

void QZ_Main_Vst::getParameterLabel(VstInt32 index, char* label) {
    char buf[64] = {};
    if (host_index(index)) {
        const Param& p = params[index];
        if (p.type == KIND_FLOAT || p.type == KIND_INT)
            std::snprintf(buf, sizeof buf, "%s", p.label ? p.label : "");
        else if (p.type == KIND_ON_OFF)
            std::snprintf(buf, sizeof buf, "%s/%s", p.on_text(), p.off_text());
    }
    put_field(label, kVstMaxParamStrLen, buf);
}

void QZ_Main_Vst::getParameterDisplay(VstInt32 index, char* text) {
    char buf[64] = {};
    if (host_index(index)) {
        const Param& p = params[index];
        Word w;
        if (p.type == KIND_FLOAT)
            w.f = p.load_float();
        else
            w.i = p.load_int();
        format_display(index, w, false, buf, sizeof buf);
    }
    put_field(text, kVstMaxParamStrLen, buf);
}

bool QZ_Main_Vst::displayFor(VstInt32 index, float x, char* text, std::size_t cap) {
    if (!text || cap == 0) return false;
    text[0] = '\0';
    if (!host_index(index) || std::isnan(x)) return false;
    format_display(index, word_at(params[index], x), true, text, cap);
    return true;
}

void QZ_Main_Vst::format_display(VstInt32 index, Word w, bool with_unit, char* buf, std::size_t cap) const {
    const Param& p = params[index];
    const bool labelled = p.label && p.label[0];
    const char* blank = labelled ? " " : "";
    const char* lab = labelled ? p.label : "";
    if (index == 1)
        // The cutoff the filter runs at, in whole hertz as the editor shows it;
        // the host's label next to it says "Hz".
        std::snprintf(buf, cap, "%.0f%s%s", static_cast<double>(cutoff_of(w.f)), with_unit ? blank : "",
                      with_unit ? lab : "");
    else if (p.type == KIND_FLOAT)
        std::snprintf(buf, cap, "%f%s%s", static_cast<double>(w.f), blank, lab);
    else if (p.type == KIND_INT)
        std::snprintf(buf, cap, "%d%s%s", static_cast<int>(w.i), blank, lab);
    else if (p.type == KIND_ON_OFF)
        std::snprintf(buf, cap, "%s", w.i != 0 ? p.on_text() : p.off_text());
}

void QZ_Main_Vst::getParameterName(VstInt32 index, char* text) {
    char buf[64] = {};
    if (host_index(index)) params[index].getName(buf, sizeof buf);
    put_field(text, kVstMaxParamStrLen, buf);
}

VstInt32 QZ_Main_Vst::getChunk(void** data, bool) {
    QZ_value v = saveState();
    if (data) *data = const_cast<void*>(v.word.p);
    return v.length;
}

VstInt32 QZ_Main_Vst::setChunk(void* data, VstInt32 byteSize, bool) {
    QZ_value v;
    v.word.p = data;
    v.type = QZ_T_EMPTY;
    v.length = byteSize;
    loadState(v);
    return byteSize;
}

bool QZ_Main_Vst::canParameterBeAutomated(VstInt32 index) { return host_index(index); }

bool QZ_Main_Vst::getProgramNameIndexed(VstInt32, VstInt32, char* text) {
    put_field(text, kVstMaxProgNameLen, "Default program");
    return true;
}

bool QZ_Main_Vst::getEffectName(char* name) {
    put_text(name, kVstMaxEffectNameLen - 1, QZ_EFFECT_NAME);
    return true;
}

bool QZ_Main_Vst::getVendorString(char* text) {
    put_text(text, kVstMaxVendorStrLen - 1, QZ_VENDOR_STRING);
    return true;
}

bool QZ_Main_Vst::getProductString(char* text) {
    put_text(text, kVstMaxProductStrLen - 1, QZ_PRODUCT_STRING);
    return true;
}
