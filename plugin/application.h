// The effect application: the chain of engine objects, the editor's widget
// slots and the parameter records, all made by commands of the toolkit.
#pragma once

#include <atomic>
#include <mutex>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/object.h"
#include "plugin/preset.h"

class QZ_Soundpipe;
class QZ_Buffer;
class QZ_Effect;
class QZ_Effect_Copy;
class QZ_Effect_Lopass;
class QZ_Win;
class QZ_Dlg_File_Base;

class QZ_Application : public QZ_Apptpl {
public:
    // Kinds of a parameter record: the QZ_value type codes, plus on/off.
    enum Kind : std::int32_t { KIND_NOT_SET = 1, KIND_INT = 2, KIND_FLOAT = 3, KIND_ON_OFF = 6 };

    // A parameter record: the value word, its kind, and the texts a host shows.
    // It is also a live object, so that a widget's -var can name it by handle.
    class Param : public QZ_value, public QZ_Object {
    public:
        Param();
        // A new value was stored; the default applies it.
        void changed(QZ_Object* target) override;
        // Each writes at most cap - 1 characters and a terminating zero.
        virtual void getName(char* text, std::size_t cap);
        virtual void getText(char* text, std::size_t cap);
        virtual void getLabel(char* text, std::size_t cap);
        virtual void apply(QZ_Object* target);

        const char* name;
        // For the on/off kind: two 10-byte texts, "on" at 0 and "off" at 10.
        const char* label;
        QZ_handle widget = 0;
        std::int32_t minimum = 0;
        std::int32_t maximum = 0;

        // The value word as the host's threads read and write it: one thread may
        // set a parameter while another reads it or processes.
        std::int32_t load_int() const;
        float load_float() const;
        void store_int(std::int32_t v);
        void store_float(float v);

        // The texts of the on/off pair.
        const char* on_text() const { return label; }
        const char* off_text() const { return label + 10; }

    protected:
        friend class QZ_Application;
        QZ_Application* app = nullptr;
        int index = -1;
    };

    // What a widget's -var names for a record: the widget writes its request
    // here (on the window's thread), and the port hands it to the record with
    // the record's own atomic stores, so a host thread reading the record at
    // the same time never sees a torn word or a changed kind.
    class Port : public QZ_value, public QZ_Object {
    public:
        explicit Port(Param& p) : param(p) {}
        void changed(QZ_Object* target) override;
        void gesture(bool begin, QZ_Object* target) override;
        Param& param;
    };

    // Slots of the processing-object table.
    enum Slot : int {
        PIPE = 0,
        BUF_I,
        BUF_O,
        LPF_BUFFER,
        LOPASS,
        COPY_OUT,
        COPY_IN,
        OBJECT_SLOTS,
    };

    // Slots of the widget table that the application itself addresses.
    enum Widget : int {
        W_LOAD_BUTTON = 20,
        W_SAVE_BUTTON = 21,
        W_ON_BUTTON = 22,
        W_FILTER_CAPTION = 23,
        W_CUTOFF_CAPTION = 24,
        W_KNOB = 25,
        W_VALUE_TEXT = 26,
        WIDGET_SLOTS = 27,
    };

    static constexpr int kParams = 4;
    static constexpr std::int32_t kBlockLength = 512;
    // The knob's range, in knob units: the cutoff's lowest and highest frequency.
    static constexpr std::int32_t kKnobMin = 20;
    static constexpr std::int32_t kKnobMax = 20000;
    // Layout of the editor panel.
    static constexpr int kBorder = 10, kGroupLeft = 10, kGroupTop = 56, kGroupWidth = 180, kGroupHeight = 170;
    // The preset buttons: the two bottom corners of the group, either side of
    // the knob and its value.
    static constexpr int kLoadLeft = kGroupLeft + 14, kSaveLeft = kGroupLeft + kGroupWidth - 14 - 40;
    static constexpr int kPresetTop = kGroupTop + 128;

    // The cutoff in hertz that a knob value gives: the square law.
    static float cutoff_of(float knob_value);
    // Its inverse: the knob value for a cutoff in hertz (held to the range).
    static float knob_of(float cutoff);

    QZ_Application();
    ~QZ_Application() override;

    QZ_error build() override;
    QZ_error attach(QZ_Win* window) override;
    QZ_error detach() override;
    QZ_error destroy() override;

    // False for an instance that never shows an editor (a plug-in format whose
    // sound and editor live in separate instances): build makes no widgets,
    // so parameter changes touch the filter alone, without the widgets' locks.
    bool with_editor = true;
    std::int32_t editor_width = 0;
    std::int32_t editor_height = 0;
    std::int32_t block_length = kBlockLength;
    std::int32_t clock = 0;
    QZ_handle objects[OBJECT_SLOTS] = {};
    QZ_handle widgets[WIDGET_SLOTS] = {};
    QZ_Win* window = nullptr;
    // The preset file dialog; its owner follows attach.
    std::unique_ptr<QZ_Dlg_File_Base> dialog;
    Param params[kParams];

    // A host parameter changed from inside (the editor, a loaded preset): the
    // plug-in tells its host so the host's view and automation follow.
    virtual void userChanged(int index) { (void)index; }
    // The user takes hold of a host parameter in the editor (a knob grabbed, a
    // switch clicked) or lets it go: the host records automation in between.
    // Called in pairs, never twice the same way in a row (the window's thread).
    virtual void userGesture(int index, bool begin) {
        (void)index;
        (void)begin;
    }

    // The preset actions of records 2 and 3 (also reachable without a widget).
    void savePreset();
    void loadPreset();
    // Shown besides the message box while an editor is open (null otherwise).
    void (*message_window)(const char* text, const char* caption, unsigned long above) = nullptr;
    unsigned long message_above = 0;  // the window the editor shows in

    // The two host parameters as a preset holds them, and applying a preset's
    // values (to the filter and the widgets, as a host's change would).
    QZ_Preset current_preset() const;
    void apply_preset(const QZ_Preset& values);

protected:
    // Objects of the chain as the sound path uses them; resolved once after
    // build and checked against the live-object table once per pass.
    QZ_Soundpipe* pipe_ = nullptr;
    QZ_Buffer* buf_i_ = nullptr;
    QZ_Buffer* buf_o_ = nullptr;
    QZ_Effect_Copy* copy_in_ = nullptr;
    QZ_Effect_Lopass* lopass_ = nullptr;
    QZ_Effect_Copy* copy_out_ = nullptr;

    bool chain_alive() const;
    // The attached window as a toolkit object (null without the widget set).
    QZ_Object* window_object() const;

    // The two bindings: State switches the filter, Frequency sets its cutoff.
    // Each sets the engine at once, on the caller's thread, and leaves the
    // widgets to show_params().
    void apply_state(const Param& p);
    void apply_frequency(const Param& p);

    // The widgets follow the records of the bits in `which` (1 << index): at
    // once when no window is shown or the caller is the window's own thread,
    // otherwise on that thread, which is asked and not waited for. A host
    // thread setting a parameter never draws.
    void show_params(unsigned which);
    // The widgets take every record not shown yet (the window's thread).
    void show_unshown();

private:
    void build_widgets();
    // Shows a preset button pressed or released; released also forgets the
    // pointer state of the window (a modal dialog ran meanwhile).
    void show_button(int slot, bool pressed);
    // A preset action's failure: the message box, captioned "Error".
    void show_error(const char* message);

    void show_state();
    void show_frequency();
    static void deferred_show(void* self);

    Port ports_[kParams] = {Port(params[0]), Port(params[1]), Port(params[2]), Port(params[3])};
    std::atomic<unsigned> unshown_{0};        // records whose widgets lag behind
    // Host parameters the user holds (a bit each): what a detach must let go.
    // A host's thread may close the editor while its own thread ends a drag.
    std::atomic<unsigned> held_{0};
    void hold(int index, bool begin);
    // One thread at a time brings the widgets up to date: the editor's, or a
    // host's while the editor is closed or changing hands. Recursive because a
    // widget's own callback may ask for another update.
    std::recursive_mutex show_mutex_;
    std::atomic<QZ_Win*> shown_on_{nullptr};  // the window while attached
};

// The product strings, shared with the preset header.
extern const char QZ_VENDOR_STRING[];
extern const char QZ_EFFECT_NAME[];
extern const char QZ_PRODUCT_STRING[];
// The preset dialog's filter: description and pattern, each with its zero, and a final zero.
extern const char QZ_PRESET_FILTER[];
