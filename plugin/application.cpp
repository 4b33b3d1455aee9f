#include "plugin/application.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/effect.h"
#include "dsp/filters.h"
#include "dsp/soundpipe.h"
#include "plugin/preset.h"
#if ZELO_WITH_GUI
#include "gui/dlg_file.h"
#include "gui/wid.h"
#include "gui/win.h"
#endif

const char QZ_VENDOR_STRING[] = "zelo.audio";
const char QZ_EFFECT_NAME[] = "1-st order low-pass";
const char QZ_PRODUCT_STRING[] = "zelo.audio 1-st order low-pass";
const char QZ_PRESET_FILTER[] = "Preset file (*.zelo)\0*.zelo\0";

namespace {

// On/off text pairs: two 10-byte fields each.
const char kYesNo[20] = "Yes\0\0\0\0\0\0\0No";
const char kOnOff[20] = "On\0\0\0\0\0\0\0\0Off";

// Writes at most cap - 1 characters and the zero; nothing for cap 0.
void put_text(char* text, std::size_t cap, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void put_text(char* text, std::size_t cap, const char* fmt, ...) {
    if (!text || cap == 0) return;
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, cap, fmt, args);
    va_end(args);
}

}  // namespace

// ---------------------------------------------------------------- Param

QZ_Application::Param::Param() : name(""), label(kYesNo) {
    word.i = 0;
    type = KIND_NOT_SET;
    length = -1;
}

void QZ_Application::Param::changed(QZ_Object* target) {
    // Records 2 and 3 are actions: a button bound to them saves or loads.
    if (app && index == 2)
        app->savePreset();
    else if (app && index == 3)
        app->loadPreset();
    else
        apply(target);
}

void QZ_Application::Port::changed(QZ_Object* target) {
    if (type == QZ_T_FLOAT)
        param.store_float(word.f);
    else
        param.store_int(word.i);
    param.changed(target);
    if (param.app && param.index >= 0 && param.index < 2) param.app->userChanged(param.index);
}

void QZ_Application::Port::gesture(bool begin, QZ_Object*) {
    // The preset buttons' records are actions, not host parameters.
    if (param.app && param.index >= 0 && param.index < 2) param.app->hold(param.index, begin);
}

void QZ_Application::hold(int index, bool begin) {
    // The host hears them in pairs, each once.
    const unsigned bit = 1u << index;
    const unsigned was = begin ? held_.fetch_or(bit) : held_.fetch_and(~bit);
    if (((was & bit) != 0) == begin) return;
    userGesture(index, begin);
}

std::int32_t QZ_Application::Param::load_int() const {
    return std::atomic_ref<std::int32_t>(const_cast<std::int32_t&>(word.i)).load(std::memory_order_relaxed);
}
float QZ_Application::Param::load_float() const {
    return std::atomic_ref<float>(const_cast<float&>(word.f)).load(std::memory_order_relaxed);
}
void QZ_Application::Param::store_int(std::int32_t v) {
    std::atomic_ref<std::int32_t>(word.i).store(v, std::memory_order_relaxed);
}
void QZ_Application::Param::store_float(float v) {
    std::atomic_ref<float>(word.f).store(v, std::memory_order_relaxed);
}

void QZ_Application::Param::getName(char* text, std::size_t cap) { put_text(text, cap, "%s", name); }

void QZ_Application::Param::getText(char* text, std::size_t cap) {
    switch (type) {
        case KIND_INT: put_text(text, cap, "%i", static_cast<int>(load_int())); break;
        case KIND_FLOAT: put_text(text, cap, "%f", static_cast<double>(load_float())); break;
        case KIND_ON_OFF: put_text(text, cap, "%s", load_int() != 0 ? "On" : "Off"); break;
        default: break;
    }
}

void QZ_Application::Param::getLabel(char* text, std::size_t cap) { put_text(text, cap, "%s", label); }

void QZ_Application::Param::apply(QZ_Object*) {
    if (!app) return;
    if (index == 0) app->apply_state(*this);
    if (index == 1) app->apply_frequency(*this);
}

// ---------------------------------------------------------------- QZ_Application

QZ_Application::QZ_Application() {
    for (int i = 0; i < kParams; ++i) {
        params[i].app = this;
        params[i].index = i;
    }
#if ZELO_WITH_GUI
    dialog = std::make_unique<QZ_Dlg_File>(nullptr, QZ_PRESET_FILTER);
#endif
}

QZ_Application::~QZ_Application() = default;

QZ_error QZ_Application::build() {
    editor_width = kGroupWidth + 20;
    editor_height = kGroupHeight + 66;
    block_length = kBlockLength;

    std::uint32_t ignored = 0;
    QZ_handle* o = objects;
    spcpp("QZ_Soundpipe -bl %i -b", &o[PIPE], block_length, &ignored);
    spcpp("QZ_Buffer -t %s", &o[BUF_I], "buf_i");
    spcpp("QZ_Buffer -t %s", &o[LPF_BUFFER], "lpf_buffer");
    spcpp("QZ_Effect_Copy -i %o -o %o", &o[COPY_IN], o[BUF_I], o[LPF_BUFFER]);
    spcpp("QZ_Effect_Lopass -i %o -o %o", &o[LOPASS], o[BUF_I], o[LPF_BUFFER]);
    spcpp("QZ_Buffer -t %s", &o[BUF_O], "buf_o");
    spcpp("QZ_Effect_Copy -i %o -o %o", &o[COPY_OUT], o[LPF_BUFFER], o[BUF_O]);
    spcpp("QZ_Soundpipe %o -e", o[PIPE], &ignored);

    pipe_ = QZ_object_as<QZ_Soundpipe>(o[PIPE]);
    buf_i_ = QZ_object_as<QZ_Buffer>(o[BUF_I]);
    buf_o_ = QZ_object_as<QZ_Buffer>(o[BUF_O]);
    copy_in_ = QZ_object_as<QZ_Effect_Copy>(o[COPY_IN]);
    lopass_ = QZ_object_as<QZ_Effect_Lopass>(o[LOPASS]);
    copy_out_ = QZ_object_as<QZ_Effect_Copy>(o[COPY_OUT]);

    if (with_editor) build_widgets();

    Param& state = params[0];
    state.type = KIND_ON_OFF;
    state.name = "State";
    state.label = kOnOff;
    state.word.i = 1;
    state.widget = 0;

    Param& freq = params[1];
    freq.type = KIND_FLOAT;
    freq.name = "Frequency";
    freq.label = "Hz";
    freq.word.f = 1500.0f;
    freq.widget = widgets[W_KNOB];

    params[0].changed(nullptr);
    params[1].changed(nullptr);
    return QZ_OK;
}

void QZ_Application::build_widgets() {
    const int W = editor_width, H = editor_height, B = kBorder;
    const int GL = kGroupLeft, GT = kGroupTop, GW = kGroupWidth, GH = kGroupHeight;
    QZ_handle* w = widgets;
    // A widget class that is not registered refuses its command ("not found");
    // its slot then stays null and everything else goes on.
    spcpp("QZ_Wid_Pic -w %i -h %i -l 0 -t 0 -res bgnd", &w[0], W, H);
    spcpp("QZ_Wid_Pic -w 10 -h 10 -l 0 -t 0 -res alt", &w[1]);
    spcpp("QZ_Wid_Pic -w %i -h 10 -l 10 -t 0 -res amt", &w[2], W - 20);
    spcpp("QZ_Wid_Pic -w 10 -h 10 -l %i -t 0 -res art", &w[3], W - 10);
    spcpp("QZ_Wid_Pic -w 10 -h %i -l 0 -t 10 -res alm", &w[4], H - 20);
    spcpp("QZ_Wid_Pic -w 10 -h %i -l %i -t 10 -res arm", &w[5], H - 20, W - 10);
    spcpp("QZ_Wid_Pic -w 10 -h 10 -l 0 -t %i -res alb", &w[6], H - 10);
    spcpp("QZ_Wid_Pic -w %i -h 10 -l 10 -t %i -res amb", &w[7], W - 20, H - 10);
    spcpp("QZ_Wid_Pic -w 10 -h 10 -l %i -t %i -res arb", &w[8], W - 10, H - 10);
    spcpp("QZ_Wid_Pic -l %i -t 8 -res logo", &w[9], (W - 160) / 2);
    spcpp("QZ_Wid_Text -l 10 -t 35 -h 20 -w %i -text %s -font %s -size 12", &w[10], W - 20, QZ_EFFECT_NAME,
          "Tahoma");
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res glt", &w[11], B, B, GL, GT);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res gmt", &w[12], GW - 2 * B, B, GL + B, GT);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res grt", &w[13], B, B, GL + GW - B, GT);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res glm", &w[14], B, GH - 2 * B, GL, GT + B);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res gmm", &w[15], GW - 2 * B + 8, GH - 2 * B + 8, GL + B - 4,
          GT + B - 4);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res grm", &w[16], B, GH - 2 * B, GL + GW - B, GT + B);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res glb", &w[17], B, B, GL, GT + GH - B);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res gmb", &w[18], GW - 2 * B, B, GL + B, GT + GH - B);
    spcpp("QZ_Wid_Pic -w %i -h %i -l %i -t %i -res grb", &w[19], B, B, GL + GW - B, GT + GH - B);
    // The controls write into their records through the records' ports
    // (-var); the records apply changes themselves, so no -dat object is needed.
    spcpp("QZ_Wid_Butt -w 40 -h 24 -l %i -t %i -res load -var %o -dat %o", &w[W_LOAD_BUTTON], kLoadLeft,
          kPresetTop, ports_[3].handle(), 0u);
    spcpp("QZ_Wid_Butt -w 40 -h 24 -l %i -t %i -res save -var %o -dat %o", &w[W_SAVE_BUTTON], kSaveLeft,
          kPresetTop, ports_[2].handle(), 0u);
    spcpp("QZ_Wid_Butt -w 40 -h 24 -l %i -t %i -res but -var %o -dat %o", &w[W_ON_BUTTON], GL + 11, GT + 11,
          ports_[0].handle(), 0u);
    spcpp("QZ_Wid_Text -l %i -t %i -w 80 -h 16 -color 0x00A57BBD -horz -1 -text Filter", &w[W_FILTER_CAPTION],
          GL + 52, GT + 14);
    spcpp("QZ_Wid_Text -font %s -size %i -color %i -text %s -l %i -t %i -w 96 -h 18", &w[W_CUTOFF_CAPTION],
          "Tahoma", 12, 0xE0C0C0, "Cutoff frequency", GL + 40, GT + 48);
    spcpp("QZ_Wid_Knob -w 64 -h 64 -l %i -t %i -res big -mn %i -mx %i -var %o -dat %o", &w[W_KNOB], GL + 56,
          GT + 70, kKnobMin, kKnobMax, ports_[1].handle(), 0u);
    spcpp("QZ_Wid_Text -font %s -size %i -color %i -text %s -l %i -t %i -w 64 -h 18", &w[W_VALUE_TEXT],
          "Tahoma", 12, 0xB0B0B0, "value", GL + 56, GT + 138);
}

QZ_error QZ_Application::attach(QZ_Win* win) {
    window = win;
#if ZELO_WITH_GUI
    if (dialog) dialog->setOwner(win);
    if (win) win->on_deferred(&QZ_Application::deferred_show, this);
#endif
    const QZ_handle wh = QZ_handle_of(window_object());
    for (int i = 0; i < WIDGET_SLOTS; ++i)
        if (widgets[i]) spcpp("QZ_Wid %o -win %o", widgets[i], wh);
    shown_on_.store(win, std::memory_order_release);
    // A change whose deferral found no thread to run it (the window was
    // changing hands) shows now.
    show_unshown();
    return QZ_OK;
}

QZ_error QZ_Application::detach() {
    // A knob still held when the editor closes is let go for the host.
    for (int i = 0; i < 2; ++i) hold(i, false);
    QZ_Win* was = shown_on_.exchange(nullptr, std::memory_order_acq_rel);
#if ZELO_WITH_GUI
    if (was) was->on_deferred(nullptr, nullptr);
#else
    (void)was;
#endif
    for (int i = 0; i < WIDGET_SLOTS; ++i)
        if (widgets[i]) spcpp("QZ_Wid %o -win 0", widgets[i]);
    // Values stored meanwhile reach the widgets, which keep them for the next attach.
    show_unshown();
    return QZ_OK;
}

QZ_error QZ_Application::destroy() {
    static const int order[] = {COPY_IN, COPY_OUT, LOPASS, LPF_BUFFER, BUF_O, BUF_I, PIPE};
    pipe_ = nullptr;
    buf_i_ = nullptr;
    buf_o_ = nullptr;
    copy_in_ = nullptr;
    lopass_ = nullptr;
    copy_out_ = nullptr;
    for (int slot : order) {
        if (objects[slot]) spcpp("%o -delete", objects[slot]);
        objects[slot] = 0;
    }
    for (int i = WIDGET_SLOTS - 1; i >= 0; --i) {
        if (widgets[i])
            spcpp("%o -delete", widgets[i]);
        else if (with_editor)
            std::printf("NULL WIDGET\n");  // a widget the editor should have had
        widgets[i] = 0;
    }
    return QZ_OK;
}

bool QZ_Application::chain_alive() const {
    // A few loads: the objects the sound path touches must still be the ones
    // build made.
    return pipe_ && buf_i_ && buf_o_ && QZ_object_from_handle(objects[PIPE]) == pipe_ &&
           QZ_object_from_handle(objects[BUF_I]) == buf_i_ &&
           QZ_object_from_handle(objects[BUF_O]) == buf_o_ && buf_i_->count() >= block_length &&
           buf_o_->count() >= block_length;
}

void QZ_Application::apply_state(const Param& p) {
    const int v = p.load_int() != 0 ? 1 : 0;
    if (objects[LOPASS]) spcpp("QZ_Effect %o -on %i", objects[LOPASS], v);
    show_params(1u << 0);
}

void QZ_Application::show_state() {
    const int v = params[0].load_int() != 0 ? 1 : 0;
    if (widgets[W_ON_BUTTON]) spcpp("QZ_Wid_Butt %o -val %i", widgets[W_ON_BUTTON], v);
    for (int slot : {int(W_CUTOFF_CAPTION), int(W_KNOB), int(W_VALUE_TEXT)})
        if (widgets[slot]) spcpp("QZ_Wid %o -enabled %i", widgets[slot], v);
}

void QZ_Application::show_params(unsigned which) {
    unshown_.fetch_or(which, std::memory_order_acq_rel);
#if ZELO_WITH_GUI
    if (QZ_Win* w = shown_on_.load(std::memory_order_acquire); w && w->defer()) return;
#endif
    show_unshown();
}

void QZ_Application::show_unshown() {
    if (!with_editor) {
        // No widgets to update; a sound-only instance takes no lock here.
        unshown_.store(0, std::memory_order_relaxed);
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(show_mutex_);
    const unsigned bits = unshown_.exchange(0, std::memory_order_acq_rel);
    if (bits & 1u) show_state();
    if (bits & 2u) show_frequency();
}

void QZ_Application::deferred_show(void* self) { static_cast<QZ_Application*>(self)->show_unshown(); }

float QZ_Application::cutoff_of(float v) {
    const float mn = static_cast<float>(kKnobMin), mx = static_cast<float>(kKnobMax);
    float t = (v - mn) / (mx - mn);
    t = t * t;
    return mn + (mx - mn) * t;
}

float QZ_Application::knob_of(float f) {
    const float mn = static_cast<float>(kKnobMin), mx = static_cast<float>(kKnobMax);
    if (!(f >= mn)) f = mn;
    if (f > mx) f = mx;
    // The square root in double lands next to the knob value; the float steps
    // of cutoff_of are coarser than the root's error, so at most a step or two
    // away is the value whose cutoff is exactly f (when the knob can give f at
    // all; otherwise the nearest). A cutoff the editor showed thus comes back
    // as the very same cutoff, which hosts that store hertz rely on.
    const double exact = mn + (mx - mn) * std::sqrt((static_cast<double>(f) - mn) / (mx - mn));
    float v = static_cast<float>(exact);
    v = v < mn ? mn : (v > mx ? mx : v);
    float c = cutoff_of(v);
    const float toward = c < f ? mx : mn;
    for (int step = 0; c != f && v != toward && step < 8; ++step) {
        const float next = std::nextafter(v, toward);
        const float nc = cutoff_of(next);
        if ((toward == mx && nc > f) || (toward == mn && nc < f)) {
            if (std::fabs(nc - f) < std::fabs(c - f)) v = next;
            break;
        }
        v = next;
        c = nc;
    }
    return v;
}

void QZ_Application::apply_frequency(const Param& p) {
    if (objects[LOPASS]) spcpp("%o -f %f", objects[LOPASS], static_cast<double>(cutoff_of(p.load_float())));
    show_params(1u << 1);
}

void QZ_Application::show_frequency() {
    const float v = params[1].load_float();
    const float f = cutoff_of(v);
    if (widgets[W_KNOB]) spcpp("QZ_Wid_Knob %o -val %f", widgets[W_KNOB], static_cast<double>(v));
    // Formatted here and copied by the widget, so two threads setting the
    // cutoff never share a buffer.
    char value_text[32];
    std::snprintf(value_text, sizeof value_text, "%.0f Hz", static_cast<double>(f));
    if (widgets[W_VALUE_TEXT]) spcpp("QZ_Wid_Text %o -text %s", widgets[W_VALUE_TEXT], value_text);
#if ZELO_WITH_GUI
    // Drawn at once, not at the next paint.
    if (QZ_Wid* text = QZ_object_as<QZ_Wid>(widgets[W_VALUE_TEXT])) {
        text->prepare();
        text->update();
    }
#endif
}

QZ_Object* QZ_Application::window_object() const {
#if ZELO_WITH_GUI
    return static_cast<QZ_Object*>(window);
#else
    return nullptr;
#endif
}

// ---------------------------------------------------------------- presets

void QZ_Application::show_button(int slot, bool pressed) {
    if (widgets[slot]) spcpp("QZ_Wid_Butt %o -val %i", widgets[slot], pressed ? 1 : 0);
#if ZELO_WITH_GUI
    if (!pressed && window) window->release_pointer();
#endif
}

namespace {
// While a dialog or a box is up the panel keeps painting.
struct Modal_Span {
#if ZELO_WITH_GUI
    explicit Modal_Span(QZ_Win* w) : span(w) {}
    QZ_Win_Modal span;
#else
    explicit Modal_Span(QZ_Win*) {}
#endif
};
}  // namespace

void QZ_Application::show_error(const char* message) {
    Modal_Span modal(window);
    QZ_message_box(message, "Error");
    if (message_window) message_window(message, "Error", message_above);
}

void QZ_Application::savePreset() {
    show_button(W_SAVE_BUTTON, true);
    const char* path = nullptr;
    if (dialog) {
        Modal_Span modal(window);
        path = dialog->save();
    }
    if (path) {
        if (const char* message = QZ_preset_save(path, current_preset())) show_error(message);
    }
    show_button(W_SAVE_BUTTON, false);
}

void QZ_Application::loadPreset() {
    show_button(W_LOAD_BUTTON, true);
    const char* path = nullptr;
    if (dialog) {
        Modal_Span modal(window);
        path = dialog->open();
    }
    if (path) {
        QZ_Preset values;
        if (const char* message = QZ_preset_load(path, &values)) {
            show_error(message);
        } else {
            apply_preset(values);
        }
    }
    show_button(W_LOAD_BUTTON, false);
}

QZ_Preset QZ_Application::current_preset() const { return {params[0].load_int(), params[1].load_float()}; }

void QZ_Application::apply_preset(const QZ_Preset& values) {
    params[0].store_int(values.state);
    params[0].changed(nullptr);
    params[1].store_float(values.frequency);
    params[1].changed(nullptr);
    userChanged(0);
    userChanged(1);
}
