// The standalone host's own logic, free of any window system: the driver, mode,
// input and instance tables, the menus as data, every menu action, the block
// callback that mixes the instances to stereo, and the start and shutdown
// order. A front end (X11, Win32, or a test) draws the menus from the model,
// turns clicks into command ids and hands over the effect window.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/error.h"
#include "plugin/vst24.h"
#include "rts/rts.h"

class QZ_Host {
public:
    static constexpr int kMaxDrivers = 32, kMaxModes = 32, kMaxInputs = 32, kMaxInstances = 32;

    // Menu command ids: the group in bits 12-15, an index in bits 0-11.
    enum Command : int {
        CMD_DRIVER = 0x1000,
        CMD_MODE = 0x2000,
        CMD_ADD = 0x3000,
        CMD_DELETE = 0x4000,
        CMD_INSTANCE = 0x5000,
        CMD_INPUT = 0x6000,
        CMD_HELP = 0x7000,
    };
    static constexpr int group(int id) { return id & 0xF000; }
    static constexpr int index(int id) { return id & 0x0FFF; }

    // The menus, as the front end draws them.
    enum Menu_Id : int { MENU_BAR = 0, MENU_AUDIO, MENU_MODE, MENU_CHANNEL, MENU_INPUT, MENU_COUNT };
    struct Menu_Item {
        std::string text;  // empty: a separator
        int id = 0;        // command id; 0 for separators and popups
        int submenu = -1;  // a Menu_Id for a popup
        bool radio = false;
        bool checked = false;
        bool greyed = false;
        bool separator() const { return text.empty() && submenu < 0; }
    };
    struct Menu {
        std::vector<Menu_Item> items;
        // Position of the item with this command id, or -1.
        int find(int id) const;
    };

    struct Instance {
        AEffect* effect = nullptr;
        int input = -1;  // index into the input table; -1 "Unconnected"
        char text[64] = {};
        // The effect adds its output to the buffers it is given through the
        // accumulating process call (it says so when asked).
        bool accumulates = false;
    };
    struct Input {
        QZ_Rts::Chan* chan = nullptr;
        int uses = 0;
    };

    // A driver class: its set-up with the block callback, and its clean-up.
    struct Driver_Class {
        QZ_error (*init)(QZ_Rts_callback callback);
        void (*exit)();
    };

    using Entry = AEffect* (*)(audioMasterCallback);

    // Where failures go: by default QZ_error_func (file "host").
    using Report_Fn = void (*)(int line, const char* proc, const char* text);

    explicit QZ_Host(Entry entry);
    ~QZ_Host();
    QZ_Host(const QZ_Host&) = delete;
    QZ_Host& operator=(const QZ_Host&) = delete;

    // Builds the menus, sets up the driver classes, fills the driver table from
    // QZ_Rts_instances and selects driver 0 (or reports that there is none);
    // when driver 0 cannot start, the next one that can.
    // Without `select_first` no driver is started (a caller that picks one).
    void start(const std::vector<Driver_Class>& classes, bool select_first = true);
    // The parent window handed to editors (null: editors stay closed).
    void set_effect_window(void* window) { effect_window_ = window; }
    // A menu command, under the host mutex (waited for up to 1000 ms). False when
    // the command was dropped because the mutex stayed held, or is unknown.
    bool command(int id);
    // Stops and releases the driver, closes every instance, cleans up the
    // driver classes and frees the host buffer. Idempotent.
    void shutdown();

    // Editor size of instance 0 (false without one) and the effect's name.
    bool editor_rect(int* width, int* height);
    std::string effect_name();
    // Lets the selected instance's editor run (effEditIdle).
    void idle();

    // The block callback handed to the driver classes: processes one block on the
    // driver's thread, or skips it when the host mutex is held.
    static void block_callback();
    void block();

    // The host callback every instance gets.
    static VstIntPtr VSTCALLBACK host_callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                               void* ptr, float opt);

    // State, for front ends and tests (read on the user-interface thread).
    const Menu& menu(Menu_Id m) const { return menus_[m]; }
    int driver_count() const { return n_drivers_; }
    int current_driver() const { return cur_driver_; }
    QZ_Rts* driver(int i) const { return i >= 0 && i < n_drivers_ ? drivers_[i] : nullptr; }
    int mode_count() const { return n_modes_; }
    int current_mode() const { return cur_mode_; }
    int input_count() const { return n_inputs_; }
    const Input& input(int j) const { return inputs_[j]; }
    int instance_count() const { return n_instances_; }
    int selected() const { return selected_; }
    const Instance& instance(int k) const { return *instances_[k]; }
    int block_frames() const { return host_chan_.count; }
    const float* host_buffer() const { return buffer_; }
    // Blocks processed and skipped (mutex held) since start.
    std::uint64_t blocks_run() const { return blocks_run_.load(std::memory_order_relaxed); }
    std::uint64_t blocks_skipped() const { return blocks_skipped_.load(std::memory_order_relaxed); }

    // Why the current driver stopped for good (its server or device went
    // away), or null while it runs or none is current.
    const char* driver_lost() const {
        return cur_driver_ >= 0 && drivers_[cur_driver_]->lost() ? drivers_[cur_driver_]->lostReason() : nullptr;
    }
    // For the window's own thread, on its idle tick (the driver says it is lost
    // on a thread of its own, through an atomic flag): when the current driver
    // has gone, takes it down as a driver change would (under the host mutex;
    // no driver checked, no modes, the instances unconnected but keeping their
    // inputs for the next driver), then reports why, outside the mutex. True
    // when it did; the menus then need drawing again.
    bool take_down_lost_driver();

    // The highest absolute sample of the left and right mix since the last call
    // (a level meter's reading); resets them.
    void take_peaks(float* left, float* right);

    // For tests: the widest vectors the block's loops may use (0: plain loops;
    // 128; 256, the default, where the processor has them).
    static void limit_vector_width(int bits);

    // The mutex, so a test can hold it as a menu action would.
    std::timed_mutex& mutex() { return mutex_; }

    // Help: what the front end does for "&Help (online)".
    void (*on_help)(void* context) = nullptr;
    void* help_context = nullptr;
    // Failure reports (tests capture them).
    Report_Fn report_fn = nullptr;

    // The text every host shows as its vendor.
    static const char kVendor[];
    // What the host asks an effect (effCanDo) to learn that its accumulating
    // process call adds to the outputs.
    static const char kCanAccumulate[];

private:
    // The actions; each returns its last result.
    QZ_error select_driver(int i);
    // Starts driver i in the given mode (its first when there is no such
    // mode; the menus and tables follow it), or reports why not.
    QZ_error start_driver(int i, int mode);
    // Takes the current driver's menus and tables down and lets it go.
    QZ_error stop_driver();
    // An empty Mode menu shows one greyed item saying so.
    void show_no_modes();
    QZ_error select_mode(int i);
    QZ_error add_instance();
    QZ_error delete_instance();
    void select_instance(int k);
    void connect_input(int j);
    QZ_error run(int id);

    void report(int line, const char* proc, const char* text);
    void set_instance_text(int k);
    bool connected(const Instance& in) const { return in.input >= 0 && in.input < n_inputs_; }
    void build_menus();
    void release_tables();

    Entry entry_;
    std::timed_mutex mutex_;
    Menu menus_[MENU_COUNT];
    std::vector<Driver_Class> classes_;

    QZ_Rts* drivers_[kMaxDrivers] = {};
    int n_drivers_ = 0, cur_driver_ = -1;
    QZ_Rts::Mode* modes_[kMaxModes] = {};
    int n_modes_ = 0, cur_mode_ = -1;
    Input inputs_[kMaxInputs];
    int n_inputs_ = 0;
    Instance* instances_[kMaxInstances] = {};
    int n_instances_ = 0, selected_ = -1;

    // Blocks of the mode's length: left, right, left mix, right mix, then one
    // per input of the driver (its samples as floats held to full scale).
    float* buffer_ = nullptr;
    QZ_Rts::Chan host_chan_;
    void* effect_window_ = nullptr;
    bool started_ = false, shut_down_ = false;
    QZ_error last_result_ = nullptr;
    std::atomic<std::uint64_t> blocks_run_{0}, blocks_skipped_{0};
    std::atomic<float> peak_l_{0.0f}, peak_r_{0.0f};
};
