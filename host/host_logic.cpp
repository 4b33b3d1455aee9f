#include "host/host_logic.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QZ_HOST_SSE2 1
#endif
// AVX only where 32-byte stack slots are sure to be aligned (not the 32-bit
// Windows build), as in the sample conversion.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32) && defined(__GNUC__)
#include <immintrin.h>
#define QZ_HOST_AVX 1
#endif

namespace {

// The host whose block callback the drivers call (one per process).
std::atomic<QZ_Host*> g_host{nullptr};

constexpr VstIntPtr kHostVersion = 2400;
constexpr auto kMenuWait = std::chrono::milliseconds(1000);

struct Menu_Row {
    const char* text;          // empty: separator
    QZ_Host::Menu_Id creates;  // a popup's own menu, or MENU_COUNT
    QZ_Host::Menu_Id parent;
    int id;
    bool greyed;
};
const Menu_Row kMenuRows[] = {
    {"&Audio", QZ_Host::MENU_AUDIO, QZ_Host::MENU_BAR, 0, false},
    {"", QZ_Host::MENU_COUNT, QZ_Host::MENU_AUDIO, 0, false},
    {"&Mode", QZ_Host::MENU_MODE, QZ_Host::MENU_AUDIO, 0, false},
    {"&Channel", QZ_Host::MENU_CHANNEL, QZ_Host::MENU_BAR, 0, false},
    {"", QZ_Host::MENU_COUNT, QZ_Host::MENU_CHANNEL, 0, false},
    {"&Input", QZ_Host::MENU_INPUT, QZ_Host::MENU_CHANNEL, 0, false},
    {"", QZ_Host::MENU_COUNT, QZ_Host::MENU_CHANNEL, 0, false},
    {"&Add", QZ_Host::MENU_COUNT, QZ_Host::MENU_CHANNEL, QZ_Host::CMD_ADD, false},
    {"&Delete", QZ_Host::MENU_COUNT, QZ_Host::MENU_CHANNEL, QZ_Host::CMD_DELETE, true},
    {"&Help (online)", QZ_Host::MENU_COUNT, QZ_Host::MENU_BAR, QZ_Host::CMD_HELP, false},
};

QZ_Host::Menu_Item radio_item(const char* text, int id) {
    QZ_Host::Menu_Item it;
    it.text = text;
    it.id = id;
    it.radio = true;
    return it;
}

void check(QZ_Host::Menu& m, int id, bool on) {
    const int at = m.find(id);
    if (at >= 0) m.items[static_cast<std::size_t>(at)].checked = on;
}

void remove_at(QZ_Host::Menu& m, int pos) {
    if (pos >= 0 && pos < static_cast<int>(m.items.size())) m.items.erase(m.items.begin() + pos);
}

// Float to float, as the driver model's conversion does it (clamped to
// [-1, 1], NaN to -1), for the packed float channels most drivers have; the
// general conversion handles every other layout. The selects are in the order
// of the vector min and max instructions (a NaN takes the second operand), so
// the vector loops below give the same bits as this one.
inline float clamp1(float x) {
    x = 1.0f < x ? 1.0f : x;
    return x > -1.0f ? x : -1.0f;
}

// The clamped copy, and the largest magnitude of src folded into peak (NaN
// counts as nothing).
void clamp_copy_plain(float* dst, const float* src, int n) {
    for (int i = 0; i < n; ++i) dst[i] = clamp1(src[i]);
}
float clamp_copy_peak_plain(float* dst, const float* src, int n, float peak) {
    for (int i = 0; i < n; ++i) {
        const float x = src[i], a = std::fabs(x);
        peak = a > peak ? a : peak;
        dst[i] = clamp1(x);
    }
    return peak;
}

// Test hook: the widest vectors the block may use (0, 128, 256).
std::atomic<int> g_vector_width{256};

#if defined(QZ_HOST_SSE2)
// Four floats per step; every x86-64 processor and the 32-bit build have these.
void clamp_copy_sse2(float* dst, const float* src, int n) {
    const __m128 one = _mm_set1_ps(1.0f), minus = _mm_set1_ps(-1.0f);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128 a = _mm_loadu_ps(src + i), b = _mm_loadu_ps(src + i + 4);
        _mm_storeu_ps(dst + i, _mm_max_ps(_mm_min_ps(one, a), minus));
        _mm_storeu_ps(dst + i + 4, _mm_max_ps(_mm_min_ps(one, b), minus));
    }
    for (; i + 4 <= n; i += 4) _mm_storeu_ps(dst + i, _mm_max_ps(_mm_min_ps(one, _mm_loadu_ps(src + i)), minus));
    clamp_copy_plain(dst + i, src + i, n - i);
}

// maxps(|x|, p) keeps p for a NaN, as the plain loop's select does; the
// magnitudes are never negative or NaN, so the lanes combine in any order.
float clamp_copy_peak_sse2(float* dst, const float* src, int n) {
    const __m128 one = _mm_set1_ps(1.0f), minus = _mm_set1_ps(-1.0f), sign = _mm_set1_ps(-0.0f);
    __m128 p = _mm_setzero_ps(), q = _mm_setzero_ps();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128 a = _mm_loadu_ps(src + i), b = _mm_loadu_ps(src + i + 4);
        p = _mm_max_ps(_mm_andnot_ps(sign, a), p);
        q = _mm_max_ps(_mm_andnot_ps(sign, b), q);
        _mm_storeu_ps(dst + i, _mm_max_ps(_mm_min_ps(one, a), minus));
        _mm_storeu_ps(dst + i + 4, _mm_max_ps(_mm_min_ps(one, b), minus));
    }
    for (; i + 4 <= n; i += 4) {
        const __m128 a = _mm_loadu_ps(src + i);
        p = _mm_max_ps(_mm_andnot_ps(sign, a), p);
        _mm_storeu_ps(dst + i, _mm_max_ps(_mm_min_ps(one, a), minus));
    }
    p = _mm_max_ps(p, q);
    p = _mm_max_ps(p, _mm_movehl_ps(p, p));
    p = _mm_max_ss(p, _mm_shuffle_ps(p, p, 1));
    return clamp_copy_peak_plain(dst + i, src + i, n - i, _mm_cvtss_f32(p));
}
#endif

#if defined(QZ_HOST_AVX)
// Eight floats per step on processors with AVX; the same instructions, wider.
__attribute__((target("avx"))) void clamp_copy_avx(float* dst, const float* src, int n) {
    const __m256 one = _mm256_set1_ps(1.0f), minus = _mm256_set1_ps(-1.0f);
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256 a = _mm256_loadu_ps(src + i), b = _mm256_loadu_ps(src + i + 8);
        _mm256_storeu_ps(dst + i, _mm256_max_ps(_mm256_min_ps(one, a), minus));
        _mm256_storeu_ps(dst + i + 8, _mm256_max_ps(_mm256_min_ps(one, b), minus));
    }
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(dst + i, _mm256_max_ps(_mm256_min_ps(one, _mm256_loadu_ps(src + i)), minus));
    clamp_copy_plain(dst + i, src + i, n - i);
}

__attribute__((target("avx"))) float clamp_copy_peak_avx(float* dst, const float* src, int n) {
    const __m256 one = _mm256_set1_ps(1.0f), minus = _mm256_set1_ps(-1.0f), sign = _mm256_set1_ps(-0.0f);
    __m256 p = _mm256_setzero_ps(), q = _mm256_setzero_ps();
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256 a = _mm256_loadu_ps(src + i), b = _mm256_loadu_ps(src + i + 8);
        p = _mm256_max_ps(_mm256_andnot_ps(sign, a), p);
        q = _mm256_max_ps(_mm256_andnot_ps(sign, b), q);
        _mm256_storeu_ps(dst + i, _mm256_max_ps(_mm256_min_ps(one, a), minus));
        _mm256_storeu_ps(dst + i + 8, _mm256_max_ps(_mm256_min_ps(one, b), minus));
    }
    for (; i + 8 <= n; i += 8) {
        const __m256 a = _mm256_loadu_ps(src + i);
        p = _mm256_max_ps(_mm256_andnot_ps(sign, a), p);
        _mm256_storeu_ps(dst + i, _mm256_max_ps(_mm256_min_ps(one, a), minus));
    }
    p = _mm256_max_ps(p, q);
    __m128 r = _mm_max_ps(_mm256_castps256_ps128(p), _mm256_extractf128_ps(p, 1));
    r = _mm_max_ps(r, _mm_movehl_ps(r, r));
    r = _mm_max_ss(r, _mm_shuffle_ps(r, r, 1));
    return clamp_copy_peak_plain(dst + i, src + i, n - i, _mm_cvtss_f32(r));
}

bool has_avx() {
    static const bool yes = __builtin_cpu_supports("avx");
    return yes;
}
#endif

// The widest of the loops above that the processor has (and the hook allows).
void clamp_copy(float* dst, const float* src, int n, int width) {
#if defined(QZ_HOST_AVX)
    if (width >= 256 && has_avx()) return clamp_copy_avx(dst, src, n);
#endif
#if defined(QZ_HOST_SSE2)
    if (width >= 128) return clamp_copy_sse2(dst, src, n);
#endif
    (void)width;
    clamp_copy_plain(dst, src, n);
}

float clamp_copy_peak(float* dst, const float* src, int n, int width) {
#if defined(QZ_HOST_AVX)
    if (width >= 256 && has_avx()) return clamp_copy_peak_avx(dst, src, n);
#endif
#if defined(QZ_HOST_SSE2)
    if (width >= 128) return clamp_copy_peak_sse2(dst, src, n);
#endif
    (void)width;
    return clamp_copy_peak_plain(dst, src, n, 0.0f);
}

// The largest magnitude in x (NaN counts as nothing). Magnitudes order as
// their bit patterns do, so the loop runs on integer vectors.
float peak_of(const float* x, int n) {
    // Signed words (the sign bit is cleared): the comparisons every vector
    // unit has.
    std::int32_t p = 0;
    for (int i = 0; i < n; ++i) {
        std::int32_t b;
        std::memcpy(&b, x + i, sizeof b);
        b &= 0x7FFFFFFF;
        b = b > 0x7F800000 ? 0 : b;
        p = b > p ? b : p;
    }
    float f;
    std::memcpy(&f, &p, sizeof f);
    return f;
}

}  // namespace

const char QZ_Host::kVendor[] = "Steinberg Media Technologies";
const char QZ_Host::kCanAccumulate[] = "zeloAccumulatingProcess";

int QZ_Host::Menu::find(int id) const {
    for (std::size_t k = 0; k < items.size(); ++k)
        if (items[k].id == id) return static_cast<int>(k);
    return -1;
}

QZ_Host::QZ_Host(Entry entry) : entry_(entry) {
    host_chan_.format = QZ_RTS_FLOAT32;
    build_menus();
}

QZ_Host::~QZ_Host() { shutdown(); }

void QZ_Host::build_menus() {
    for (Menu& m : menus_) m.items.clear();
    for (const Menu_Row& r : kMenuRows) {
        Menu_Item it;
        it.text = r.text;
        it.id = r.id;
        it.greyed = r.greyed;
        if (r.creates != MENU_COUNT) it.submenu = r.creates;
        menus_[r.parent].items.push_back(it);
    }
}

void QZ_Host::report(int line, const char* proc, const char* text) {
    if (report_fn)
        report_fn(line, proc, text);
    else
        QZ_error_func("host", line, proc, __DATE__, __TIME__, text);
}

VstIntPtr VSTCALLBACK QZ_Host::host_callback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float) {
    switch (opcode) {
        case audioMasterVersion: return kHostVersion;
        case audioMasterGetVendorString:
            if (!ptr) return 0;
            std::memcpy(ptr, kVendor, sizeof kVendor);
            return 1;
        default: return 0;
    }
}

void QZ_Host::start(const std::vector<Driver_Class>& classes, bool select_first) {
    if (started_) return;
    started_ = true;
    classes_ = classes;
    g_host.store(this, std::memory_order_release);
    for (const Driver_Class& c : classes_)
        if (c.init) {
            const QZ_error e = c.init(&QZ_Host::block_callback);
            if (e != QZ_OK) report(__LINE__, "WinMain", e);
        }
    for (QZ_Chain_Item* it = QZ_Rts_instances.first(); it && it != QZ_Rts_instances.end() && n_drivers_ < kMaxDrivers;
         it = it->next) {
        QZ_Rts* d = static_cast<QZ_Rts*>(it->data);
        if (!d) continue;
        drivers_[n_drivers_] = d;
        menus_[MENU_AUDIO].items.insert(menus_[MENU_AUDIO].items.begin() + n_drivers_,
                                        radio_item(d->name, CMD_DRIVER + n_drivers_));
        ++n_drivers_;
    }
    if (n_drivers_ > 0) {
        // Driver 0, or when it cannot start (a sound server that is not running,
        // a device in use) the next one that can: sound where any is to be had.
        for (int i = 0; select_first && i < n_drivers_; ++i)
            if (command(CMD_DRIVER + i) && last_result_ == QZ_OK) break;
    } else
        report(__LINE__, "WinMain", "No audio drivers found");
    show_no_modes();
}

bool QZ_Host::command(int id) {
    if (id == CMD_HELP) {
        if (on_help) on_help(help_context);
        return true;
    }
    // Waiting against the system clock: ThreadSanitizer (gcc 12) does not see the
    // steady-clock wait that try_lock_for makes, and would report every action.
    if (!mutex_.try_lock_until(std::chrono::system_clock::now() + kMenuWait)) return false;
    last_result_ = run(id);
    mutex_.unlock();
    return true;
}

QZ_error QZ_Host::run(int id) {
    const int k = index(id);
    switch (group(id)) {
        case CMD_DRIVER: return k < n_drivers_ ? select_driver(k) : QZ_OK;
        case CMD_MODE: return k < n_modes_ && cur_driver_ >= 0 ? select_mode(k) : QZ_OK;
        case CMD_ADD: return add_instance();
        case CMD_DELETE: return delete_instance();
        case CMD_INSTANCE:
            if (k < n_instances_) select_instance(k);
            return QZ_OK;
        case CMD_INPUT:
            if (k < n_inputs_) connect_input(k);
            return QZ_OK;
        default: return QZ_OK;
    }
}

// The old driver's modes and inputs are gone with its menus; nothing may use
// their records any more.
void QZ_Host::release_tables() {
    n_modes_ = 0;
    cur_mode_ = -1;
    for (Input& in : inputs_) in = Input{};
    n_inputs_ = 0;
}

QZ_error QZ_Host::select_driver(int i) {
    const int previous = cur_driver_, previous_mode = cur_mode_;
    if (cur_driver_ >= 0) {
        QZ_Rts* old = drivers_[cur_driver_];
        if (old->enabled) {
            const QZ_error e = old->disable();
            if (e != QZ_OK) {
                report(__LINE__, "menu_driver", e);
                return e;
            }
        }
        if (cur_mode_ >= 0) {
            const QZ_error e = old->free();
            if (e != QZ_OK) {
                report(__LINE__, "menu_driver", e);
                return e;
            }
            cur_mode_ = -1;
        }
        const QZ_error e = stop_driver();
        if (e != QZ_OK) {
            report(__LINE__, "menu_driver", e);
            return e;
        }
    }
    int inputs_before[kMaxInstances];
    for (int k = 0; k < n_instances_; ++k) inputs_before[k] = instances_[k]->input;
    const QZ_error e = start_driver(i, 0);
    // The driver that played before plays on where it can, its instances on
    // their inputs: a choice that cannot start costs the user only the message.
    // (One that played nothing before is not tried again.)
    if (e != QZ_OK && previous >= 0 && previous != i && previous_mode >= 0) {
        if (cur_driver_ >= 0) {
            if (cur_mode_ >= 0 && drivers_[cur_driver_]->free() == QZ_OK) cur_mode_ = -1;
            if (cur_mode_ < 0) stop_driver();
        }
        if (cur_driver_ < 0) {
            for (int k = 0; k < n_instances_; ++k) instances_[k]->input = inputs_before[k];
            start_driver(previous, previous_mode);
        }
    }
    return e;
}

QZ_error QZ_Host::stop_driver() {
    QZ_Rts* old = drivers_[cur_driver_];
    check(menus_[MENU_AUDIO], CMD_DRIVER + cur_driver_, false);
    menus_[MENU_MODE].items.clear();
    for (int k = 0; k < old->inputs.count; ++k) remove_at(menus_[MENU_INPUT], 0);
    release_tables();
    cur_driver_ = -1;
    // No block runs without a mode (the callback holds the mutex we hold).
    delete[] buffer_;
    buffer_ = nullptr;
    host_chan_.count = 0;
    host_chan_.data = nullptr;
    return old->exit();
}

void QZ_Host::show_no_modes() {
    if (menus_[MENU_MODE].items.empty()) {
        Menu_Item none;
        none.text = "(no modes)";
        none.greyed = true;
        menus_[MENU_MODE].items.push_back(none);
    }
}

QZ_error QZ_Host::start_driver(int i, int mode) {
    QZ_Rts* d = drivers_[i];
    menus_[MENU_MODE].items.clear();
    QZ_error e = d->init();
    if (e != QZ_OK) {
        report(__LINE__, "menu_driver", e);
        // Whatever the failed start had reached is undone, so no half-filled
        // lists stay behind until the next try.
        d->exit();
        show_no_modes();
        for (int k = 0; k < n_instances_; ++k) set_instance_text(k);
        return e;
    }
    check(menus_[MENU_AUDIO], CMD_DRIVER + i, true);
    cur_driver_ = i;

    for (QZ_Chain_Item* it = d->modes.first(); it && it != d->modes.end() && n_modes_ < kMaxModes; it = it->next) {
        modes_[n_modes_] = QZ_Rts::Mode::of(it);
        menus_[MENU_MODE].items.push_back(radio_item(modes_[n_modes_]->name, CMD_MODE + n_modes_));
        ++n_modes_;
    }
    show_no_modes();
    const int sel_input = selected_ >= 0 ? instances_[selected_]->input : -1;
    for (QZ_Chain_Item* it = d->inputs.first(); it && it != d->inputs.end() && n_inputs_ < kMaxInputs;
         it = it->next) {
        inputs_[n_inputs_].chan = QZ_Rts::Chan::of(it);
        inputs_[n_inputs_].uses = 0;
        Menu_Item item = radio_item(inputs_[n_inputs_].chan->name, CMD_INPUT + n_inputs_);
        item.checked = n_inputs_ == sel_input;
        menus_[MENU_INPUT].items.push_back(item);
        ++n_inputs_;
    }
    // Instances keep their inputs where the new driver has them; the others
    // become unconnected. Every instance on a kept input counts as a use.
    for (int k = 0; k < n_instances_; ++k) {
        Instance& in = *instances_[k];
        if (in.input < 0 || in.input >= n_inputs_)
            in.input = -1;
        else
            ++inputs_[in.input].uses;
        set_instance_text(k);
    }
    if (n_modes_ == 0) {
        char text[160];
        std::snprintf(text, sizeof text, "The driver \"%s\" offers no modes: nothing can play through it", d->name);
        report(__LINE__, "menu_driver", text);
        return QZ_ERROR_AUDIO_CANNOT_OPEN;
    }
    return select_mode(mode >= 0 && mode < n_modes_ ? mode : 0);
}

QZ_error QZ_Host::select_mode(int i) {
    QZ_Rts* d = drivers_[cur_driver_];
    if (cur_mode_ >= 0) {
        const QZ_error e = d->free();
        if (e != QZ_OK) {
            report(__LINE__, "menu_mode", e);
            return e;
        }
        check(menus_[MENU_MODE], CMD_MODE + cur_mode_, false);
        cur_mode_ = -1;
    }
    QZ_Rts::Mode* m = modes_[i];
    delete[] buffer_;
    buffer_ = nullptr;
    host_chan_.count = 0;
    host_chan_.data = nullptr;
    if (m->block <= 0) {
        report(__LINE__, "menu_mode", QZ_ERROR_MEMORY_CANNOT_ALLOCATE);
        return QZ_ERROR_MEMORY_CANNOT_ALLOCATE;
    }
    buffer_ = new (std::nothrow) float[(4 + static_cast<std::size_t>(n_inputs_)) * static_cast<std::size_t>(m->block)]();
    if (!buffer_) {
        report(__LINE__, "menu_mode", QZ_ERROR_MEMORY_CANNOT_ALLOCATE);
        return QZ_ERROR_MEMORY_CANNOT_ALLOCATE;
    }
    host_chan_.count = m->block;
    const QZ_error e = d->mode(m);
    if (e != QZ_OK) {
        report(__LINE__, "menu_mode", e);
        return e;
    }
    for (int k = 0; k < n_instances_; ++k)
        instances_[k]->effect->dispatcher(instances_[k]->effect, effSetSampleRate, 0, 0, nullptr,
                                          static_cast<float>(m->rate));
    check(menus_[MENU_MODE], CMD_MODE + i, true);
    cur_mode_ = i;
    return QZ_OK;
}

void QZ_Host::set_instance_text(int k) {
    Instance& in = *instances_[k];
    // A long channel name is cut to the record's 64 characters.
    if (std::snprintf(in.text, sizeof in.text, "%d. %s", k + 1,
                      connected(in) ? inputs_[in.input].chan->name : "Unconnected") < 0)
        in.text[0] = '\0';
    const int at = menus_[MENU_CHANNEL].find(CMD_INSTANCE + k);
    if (at >= 0) menus_[MENU_CHANNEL].items[static_cast<std::size_t>(at)].text = in.text;
}

QZ_error QZ_Host::add_instance() {
    // The table holds 32; "&Add" is greyed once it is full.
    if (n_instances_ >= kMaxInstances) return QZ_OK;
    AEffect* effect = entry_ ? entry_(&QZ_Host::host_callback) : nullptr;
    if (!effect) {
        report(__LINE__, "menu_add", "The effect could not be created");
        return QZ_ERROR_MEMORY_CANNOT_ALLOCATE;
    }
    Instance* in = new (std::nothrow) Instance;
    if (!in) {
        effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        report(__LINE__, "menu_add", QZ_ERROR_MEMORY_CANNOT_ALLOCATE);
        return QZ_ERROR_MEMORY_CANNOT_ALLOCATE;
    }
    in->effect = effect;
    char can[sizeof kCanAccumulate];
    std::memcpy(can, kCanAccumulate, sizeof can);
    in->accumulates = effect->process && effect->dispatcher(effect, effCanDo, 0, 0, can, 0.0f) == 1;
    const int k = n_instances_;
    instances_[k] = in;
    if (cur_mode_ >= 0)
        effect->dispatcher(effect, effSetSampleRate, 0, 0, nullptr, static_cast<float>(modes_[cur_mode_]->rate));
    if (cur_driver_ >= 0)
        for (int j = 0; j < n_inputs_; ++j)
            if (inputs_[j].uses == 0) {
                in->input = j;
                ++inputs_[j].uses;
                break;
            }
    menus_[MENU_CHANNEL].items.insert(menus_[MENU_CHANNEL].items.begin() + k, radio_item("", CMD_INSTANCE + k));
    set_instance_text(k);
    ++n_instances_;
    select_instance(k);
    Menu& ch = menus_[MENU_CHANNEL];
    if (n_instances_ >= 2) ch.items[static_cast<std::size_t>(ch.find(CMD_DELETE))].greyed = false;
    if (n_instances_ >= kMaxInstances) ch.items[static_cast<std::size_t>(ch.find(CMD_ADD))].greyed = true;
    return QZ_OK;
}

QZ_error QZ_Host::delete_instance() {
    // The last instance stays ("&Delete" is greyed then).
    const int s = selected_;
    if (n_instances_ < 2 || s < 0) return QZ_OK;
    select_instance(s == 0 ? 1 : 0);
    Menu& ch = menus_[MENU_CHANNEL];
    remove_at(ch, s);
    Instance* gone = instances_[s];
    if (connected(*gone)) --inputs_[gone->input].uses;
    gone->effect->dispatcher(gone->effect, effClose, 0, 0, nullptr, 0.0f);
    delete gone;
    --n_instances_;
    for (int k = s; k < n_instances_; ++k) {
        instances_[k] = instances_[k + 1];
        Menu_Item& it = ch.items[static_cast<std::size_t>(k)];
        it.id = CMD_INSTANCE + k;
        set_instance_text(k);
    }
    instances_[n_instances_] = nullptr;
    selected_ = 0;
    if (n_instances_ < 2) ch.items[static_cast<std::size_t>(ch.find(CMD_DELETE))].greyed = true;
    ch.items[static_cast<std::size_t>(ch.find(CMD_ADD))].greyed = false;
    return QZ_OK;
}

void QZ_Host::select_instance(int k) {
    if (selected_ >= 0 && selected_ < n_instances_) {
        Instance& old = *instances_[selected_];
        check(menus_[MENU_CHANNEL], CMD_INSTANCE + selected_, false);
        if (effect_window_) old.effect->dispatcher(old.effect, effEditClose, 0, 0, effect_window_, 0.0f);
        if (connected(old)) check(menus_[MENU_INPUT], CMD_INPUT + old.input, false);
    }
    Instance& in = *instances_[k];
    check(menus_[MENU_CHANNEL], CMD_INSTANCE + k, true);
    if (connected(in)) check(menus_[MENU_INPUT], CMD_INPUT + in.input, true);
    if (effect_window_) in.effect->dispatcher(in.effect, effEditOpen, 0, 0, effect_window_, 0.0f);
    selected_ = k;
}

void QZ_Host::connect_input(int j) {
    if (selected_ < 0) return;
    Instance& in = *instances_[selected_];
    if (connected(in)) {
        check(menus_[MENU_INPUT], CMD_INPUT + in.input, false);
        --inputs_[in.input].uses;
    }
    check(menus_[MENU_INPUT], CMD_INPUT + j, true);
    ++inputs_[j].uses;
    in.input = j;
    set_instance_text(selected_);
}

bool QZ_Host::editor_rect(int* width, int* height) {
    if (n_instances_ < 1) return false;
    AEffect* e = instances_[0]->effect;
    ERect* r = nullptr;
    if (!e->dispatcher(e, effEditGetRect, 0, 0, &r, 0.0f) && !r) return false;
    if (!r || r->right <= r->left || r->bottom <= r->top) return false;
    *width = r->right - r->left;
    *height = r->bottom - r->top;
    return true;
}

std::string QZ_Host::effect_name() {
    if (n_instances_ < 1) return {};
    char name[256] = {};
    AEffect* e = instances_[0]->effect;
    e->dispatcher(e, effGetEffectName, 0, 0, name, 0.0f);
    name[sizeof name - 1] = '\0';
    return name;
}

bool QZ_Host::take_down_lost_driver() {
    if (!driver_lost()) return false;
    // Tried again on the next tick when a menu action holds the mutex that long.
    if (!mutex_.try_lock_until(std::chrono::system_clock::now() + kMenuWait)) return false;
    const char* why = driver_lost();
    if (!why) {
        mutex_.unlock();
        return false;
    }
    std::string reason = why[0] ? why : "The audio driver stopped";
    char text[200];
    std::snprintf(text, sizeof text, "%s (driver \"%s\"); choose a driver in the Audio menu", reason.c_str(),
                  drivers_[cur_driver_]->name);
    reason = text;
    // The driver delivers no more blocks; its own stop and release still tidy
    // up (a client to close, buffers to give back). Their results say nothing
    // new to the user.
    if (cur_mode_ >= 0) {
        drivers_[cur_driver_]->free();
        cur_mode_ = -1;
    }
    stop_driver();
    show_no_modes();
    for (int k = 0; k < n_instances_; ++k) set_instance_text(k);
    mutex_.unlock();
    // Outside the mutex: a message box may run a loop of its own meanwhile.
    report(__LINE__, "driver_lost", reason.c_str());
    return true;
}

void QZ_Host::idle() {
    if (selected_ >= 0 && selected_ < n_instances_ && effect_window_) {
        AEffect* e = instances_[selected_]->effect;
        e->dispatcher(e, effEditIdle, 0, 0, nullptr, 0.0f);
    }
}

void QZ_Host::block_callback() {
    if (QZ_Host* h = g_host.load(std::memory_order_acquire)) h->block();
}

void QZ_Host::block() {
    if (!mutex_.try_lock()) {
        blocks_skipped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    const int n = host_chan_.count;
    if (buffer_ && n > 0) {
        const int width = g_vector_width.load(std::memory_order_relaxed);
        float* out_l = buffer_;
        float* out_r = buffer_ + n;
        float* mix_l = buffer_ + 2 * n;
        float* mix_r = buffer_ + 3 * n;
        // Each input is taken into floats once, whatever the number of its instances.
        bool taken[kMaxInputs] = {};
        // The first instance writes the mix, the others add to it: those that
        // can through their accumulating call, inside their own loop.
        bool first = true;
        for (int k = 0; k < n_instances_; ++k) {
            Instance& inst = *instances_[k];
            if (!connected(inst) || !inputs_[inst.input].chan->data) continue;
            float* in = buffer_ + static_cast<std::size_t>(4 + inst.input) * static_cast<std::size_t>(n);
            if (!taken[inst.input]) {
                taken[inst.input] = true;
                QZ_Rts::Chan* src = inputs_[inst.input].chan;
                if (src->format == QZ_RTS_FLOAT32 && src->count == n) {
                    clamp_copy(in, static_cast<const float*>(src->data), n, width);
                } else {
                    host_chan_.data = in;
                    QZ_Rts::copyBuffer(&host_chan_, src);
                }
            }
            float* ins[1] = {in};
            if (!first && inst.accumulates) {
                float* outs[2] = {mix_l, mix_r};
                inst.effect->process(inst.effect, ins, outs, n);
                continue;
            }
            float* outs[2] = {first ? mix_l : out_l, first ? mix_r : out_r};
            inst.effect->processReplacing(inst.effect, ins, outs, n);
            if (!first)
                for (int i = 0; i < n; ++i) {
                    mix_l[i] += out_l[i];
                    mix_r[i] += out_r[i];
                }
            first = false;
        }
        if (first)
            for (int i = 0; i < n; ++i) mix_l[i] = mix_r[i] = 0.0f;
        float* mixes[2] = {mix_l, mix_r};
        float peaks[2] = {0.0f, 0.0f};
        bool metered[2] = {false, false};
        if (cur_driver_ >= 0) {
            QZ_Rts* d = drivers_[cur_driver_];
            int c = 0;
            for (QZ_Chain_Item* it = d->outputs.first(); it && it != d->outputs.end() && c < 2; it = it->next, ++c) {
                QZ_Rts::Chan* dst = QZ_Rts::Chan::of(it);
                if (dst->format == QZ_RTS_FLOAT32 && dst->count == n && dst->data) {
                    peaks[c] = clamp_copy_peak(static_cast<float*>(dst->data), mixes[c], n, width);
                    metered[c] = true;
                } else {
                    host_chan_.data = mixes[c];
                    QZ_Rts::copyBuffer(dst, &host_chan_);
                }
            }
        }
        for (int c = 0; c < 2; ++c)
            if (!metered[c]) peaks[c] = peak_of(mixes[c], n);
        peak_l_.store(std::max(peak_l_.load(std::memory_order_relaxed), peaks[0]), std::memory_order_relaxed);
        peak_r_.store(std::max(peak_r_.load(std::memory_order_relaxed), peaks[1]), std::memory_order_relaxed);
        blocks_run_.fetch_add(1, std::memory_order_relaxed);
    }
    mutex_.unlock();
}

void QZ_Host::limit_vector_width(int bits) { g_vector_width.store(bits); }

void QZ_Host::take_peaks(float* left, float* right) {
    *left = peak_l_.exchange(0.0f, std::memory_order_relaxed);
    *right = peak_r_.exchange(0.0f, std::memory_order_relaxed);
}

void QZ_Host::shutdown() {
    if (shut_down_ || !started_) {
        // An unstarted host may still hold instances added by hand.
        if (!started_ && !shut_down_) {
            for (int k = 0; k < n_instances_; ++k) {
                instances_[k]->effect->dispatcher(instances_[k]->effect, effClose, 0, 0, nullptr, 0.0f);
                delete instances_[k];
                instances_[k] = nullptr;
            }
            n_instances_ = 0;
            delete[] buffer_;
            buffer_ = nullptr;
            shut_down_ = true;
        }
        return;
    }
    shut_down_ = true;
    if (cur_driver_ >= 0) {
        QZ_Rts* d = drivers_[cur_driver_];
        if (cur_mode_ >= 0) d->free();
        d->exit();
        cur_mode_ = -1;
    }
    if (selected_ >= 0 && selected_ < n_instances_ && effect_window_) {
        AEffect* e = instances_[selected_]->effect;
        e->dispatcher(e, effEditClose, 0, 0, effect_window_, 0.0f);
    }
    for (int k = 0; k < n_instances_; ++k) {
        Instance* in = instances_[k];
        if (connected(*in)) --inputs_[in->input].uses;
        in->effect->dispatcher(in->effect, effClose, 0, 0, nullptr, 0.0f);
        delete in;
        instances_[k] = nullptr;
    }
    n_instances_ = 0;
    selected_ = -1;
    release_tables();
    cur_driver_ = -1;
    n_drivers_ = 0;
    for (const Driver_Class& c : classes_)
        if (c.exit) c.exit();
    g_host.store(nullptr, std::memory_order_release);
    delete[] buffer_;
    buffer_ = nullptr;
    host_chan_.count = 0;
}
