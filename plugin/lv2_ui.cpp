// The LV2 plug-in's UI: the effect's own editor, embedded in the host's
// window. The UI keeps an instance of the effect of its own, which the editor
// works on; what the editor changes (knob, switch, a loaded preset) is written
// to the plug-in's ports in hertz and on/off, and port values from the host
// are set on that instance, so the editor follows automation.
//
// The editor's events run on a thread of its own, but a host takes port
// writes only on its UI thread: the editor's changes are marked here and
// written at the host's next idle call.
#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "gui/win_x11.h"
#include "plugin/editor.h"
#include "plugin/effect_bridge.h"
#include "plugin/lv2_ports.h"
#include "plugin/main_vst.h"

namespace {

struct Ui {
    std::unique_ptr<QZ_Effect_Bridge> fx;
    LV2UI_Write_Function write = nullptr;
    LV2UI_Controller controller = nullptr;
    LV2UI_Touch* touch = nullptr;
    // Set by the editor's thread, taken by the host's UI thread.
    std::atomic<bool> state_changed{false};
    std::atomic<bool> frequency_changed{false};
    // Gestures: the host hears a begin before the values and an end after them.
    QZ_Gesture_Order gestures[QZ_Effect_Bridge::kParams];
};

// Runs on the thread that made the change (the editor's); it only marks.
void on_change(void* context, QZ_Effect_Bridge::Change what, int index, float) {
    auto* ui = static_cast<Ui*>(context);
    if (index != QZ_Effect_Bridge::kState && index != QZ_Effect_Bridge::kFrequency) return;
    switch (what) {
        case QZ_Effect_Bridge::Change::Begin: ui->gestures[index].note(true); break;
        case QZ_Effect_Bridge::Change::End: ui->gestures[index].note(false); break;
        case QZ_Effect_Bridge::Change::Value:
            (index == QZ_Effect_Bridge::kState ? ui->state_changed : ui->frequency_changed).store(true);
            break;
    }
}

const void* feature(const LV2_Feature* const* features, const char* uri) {
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, uri) == 0) return features[i]->data;
    return nullptr;
}

// The editor's own X11 window, the one the host embeds.
std::uintptr_t editor_xwindow(QZ_Effect_Bridge& fx) {
    AEffect* e = fx.effect();
    auto* vst = e ? static_cast<AudioEffect*>(e->object) : nullptr;
    auto* editor = vst ? dynamic_cast<QZ_Main_Vst_Editor*>(vst->getEditor()) : nullptr;
    auto* win = editor ? dynamic_cast<QZ_Win_X11*>(editor->frame_window()) : nullptr;
    return win ? static_cast<std::uintptr_t>(win->xwindow()) : 0;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* plugin_uri, const char*,
                         LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features) {
    if (!plugin_uri || std::strcmp(plugin_uri, ZELO_LV2_URI) != 0 || !write) return nullptr;
    void* parent = const_cast<void*>(feature(features, LV2_UI__parent));
    if (!parent) return nullptr;
    try {
        auto ui = std::make_unique<Ui>();
        ui->write = write;
        ui->controller = controller;
        ui->touch = static_cast<LV2UI_Touch*>(const_cast<void*>(feature(features, LV2_UI__touch)));
        ui->fx = QZ_Effect_Bridge::create(&on_change, ui.get());
        if (!ui->fx || !ui->fx->editor_open(parent)) return nullptr;
        int w = 0, h = 0;
        if (auto* resize = static_cast<const LV2UI_Resize*>(feature(features, LV2_UI__resize));
            resize && ui->fx->editor_size(&w, &h))
            resize->ui_resize(resize->handle, w, h);
        if (widget) *widget = reinterpret_cast<LV2UI_Widget>(editor_xwindow(*ui->fx));
        return ui.release();
    } catch (...) {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle h) {
    auto* ui = static_cast<Ui*>(h);
    ui->fx->editor_close();
    delete ui;
}

void port_event(LV2UI_Handle h, std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer) {
    auto* ui = static_cast<Ui*>(h);
    if (format != 0 || size != sizeof(float) || !buffer) return;
    float v;
    std::memcpy(&v, buffer, sizeof v);
    if (std::isnan(v)) return;
    // Only a value the editor does not show already: a host echoing the
    // editor's own write leaves the knob where the pointer put it.
    if (port == QZ_LV2_STATE) {
        const float on = QZ_lv2_state_is_on(v) ? 1.0f : 0.0f;
        if (ui->fx->param(QZ_Effect_Bridge::kState) != on) ui->fx->set_param(QZ_Effect_Bridge::kState, on);
    } else if (port == QZ_LV2_FREQUENCY) {
        if (ui->fx->cutoff_hz() != v) ui->fx->set_cutoff_hz(v);
    }
}

void write_port(Ui& ui, std::uint32_t port, float value) {
    ui.write(ui.controller, port, sizeof value, 0, &value);
}

// The host's UI thread: the editor's changes go to the ports.
int idle(LV2UI_Handle h) {
    auto* ui = static_cast<Ui*>(h);
    ui->fx->editor_idle();
    // Each port: its touch, the value written, its release (a host without
    // the touch feature gets the values alone).
    const QZ_Gesture_Order::Seen state = ui->gestures[QZ_Effect_Bridge::kState].look(),
                                 freq = ui->gestures[QZ_Effect_Bridge::kFrequency].look();
    const bool state_changed = ui->state_changed.exchange(false), freq_changed = ui->frequency_changed.exchange(false);
    const auto port = [ui](std::uint32_t p, float value) {
        return [ui, p, value](QZ_Effect_Bridge::Change what) {
            if (what == QZ_Effect_Bridge::Change::Value)
                write_port(*ui, p, value);
            else if (ui->touch)
                ui->touch->touch(ui->touch->handle, p, what == QZ_Effect_Bridge::Change::Begin);
        };
    };
    ui->gestures[QZ_Effect_Bridge::kState].take(
        state, state_changed, port(QZ_LV2_STATE, ui->fx->param(QZ_Effect_Bridge::kState) > 0.5f ? 1.0f : 0.0f));
    ui->gestures[QZ_Effect_Bridge::kFrequency].take(freq, freq_changed, port(QZ_LV2_FREQUENCY, ui->fx->cutoff_hz()));
    return 0;
}

const LV2UI_Idle_Interface kIdle = {idle};

const void* extension_data(const char* uri) {
    if (uri && std::strcmp(uri, LV2_UI__idleInterface) == 0) return &kIdle;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {ZELO_LV2_URI "#ui", instantiate, cleanup, port_event, extension_data};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(std::uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
