// Sound drivers: the abstract driver, its modes and channel records, the format
// word that says how a channel's samples are laid out, the global list of driver
// instances and the sample conversion between channel formats.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/error.h"
#include "core/object.h"

// Called once per sound block on the driver's thread; no arguments, no result.
using QZ_Rts_callback = void (*)();

// Format word of a channel: bits 0-7 stride in bytes, 8-15 significant bits,
// 16-23 padding bits above them in an integer container, 24-31 float flag.
using QZ_Rts_format = std::uint32_t;

constexpr QZ_Rts_format QZ_rts_format(unsigned stride, unsigned bits, unsigned padding = 0, bool is_float = false) {
    return (stride & 0xFFu) | (bits & 0xFFu) << 8 | (padding & 0xFFu) << 16 | (is_float ? 0x01000000u : 0u);
}
constexpr unsigned QZ_rts_format_stride(QZ_Rts_format f) { return f & 0xFFu; }
constexpr unsigned QZ_rts_format_bits(QZ_Rts_format f) { return (f >> 8) & 0xFFu; }
constexpr unsigned QZ_rts_format_padding(QZ_Rts_format f) { return (f >> 16) & 0xFFu; }
constexpr bool QZ_rts_format_is_float(QZ_Rts_format f) { return (f >> 24) != 0; }

// Words in use.
constexpr QZ_Rts_format QZ_RTS_INT16 = 0x1002;       // 16-bit integer, one channel per buffer
constexpr QZ_Rts_format QZ_RTS_INT24 = 0x1803;       // 24-bit integer in three bytes
constexpr QZ_Rts_format QZ_RTS_INT32 = 0x2004;       // 32-bit integer
constexpr QZ_Rts_format QZ_RTS_INT32_16 = 0x101004;  // 16/18/20/24 significant bits in 32
constexpr QZ_Rts_format QZ_RTS_INT32_18 = 0xE1204;
constexpr QZ_Rts_format QZ_RTS_INT32_20 = 0xC1404;
constexpr QZ_Rts_format QZ_RTS_INT32_24 = 0x81804;
constexpr QZ_Rts_format QZ_RTS_FLOAT32 = 0x01002004;  // 32-bit IEEE float
constexpr QZ_Rts_format QZ_RTS_FLOAT64 = 0x01004008;  // 64-bit IEEE float (converted as doubles)

class QZ_Rts {
public:
    // One way of running the device. Linked into `modes` through `item`, whose
    // data stays null; `of` finds the record from its item.
    struct Mode {
        QZ_Chain_Item item;
        std::int32_t rate;
        std::int32_t block;
        std::int32_t bits;
        std::int32_t channels;
        char name[64];

        // Arguments in this order: rate, bits, block, channels. Builds `name`.
        Mode(std::int32_t rate, std::int32_t bits, std::int32_t block, std::int32_t channels);
        Mode(const Mode&) = delete;
        Mode& operator=(const Mode&) = delete;

        static Mode* of(QZ_Chain_Item* it);
    };

    // One channel of the device. Linked into `inputs` or `outputs` through `item`
    // (data null). Drivers may extend it (the destructor is virtual so that a list
    // of extended records is destroyed correctly).
    struct Chan {
        QZ_Chain_Item item;
        char name[64];
        void* data;
        std::int32_t count;
        QZ_Rts_format format;

        Chan();
        explicit Chan(const char* name, QZ_Rts_format format = 0, std::int32_t count = 0);
        Chan(const Chan&) = delete;
        Chan& operator=(const Chan&) = delete;
        virtual ~Chan() = default;

        void setName(const char* name);
        static Chan* of(QZ_Chain_Item* it);
    };

    // Fields. `current` is read by the driver's thread while the client's thread
    // starts and stops the driver, hence atomic.
    std::atomic<Mode*> current;
    QZ_Chain modes;
    bool enabled;
    char name[64];
    QZ_Chain inputs;
    QZ_Chain outputs;

    explicit QZ_Rts(const char* name = nullptr);
    QZ_Rts(const QZ_Rts&) = delete;
    QZ_Rts& operator=(const QZ_Rts&) = delete;

    // Virtual operations, in slot order.
    virtual QZ_error init();
    virtual QZ_error exit();
    virtual QZ_error mode(Mode* m);
    virtual QZ_error free();
    virtual QZ_error enable();
    virtual QZ_error disable();
    virtual QZ_error refresh();
    virtual ~QZ_Rts();

    void setName(const char* name);

    // Set by a driver, from any thread, once its device or server has gone for
    // good and no more blocks will come; the reason stays readable until the
    // driver's next init.
    bool lost() const { return lost_.load(std::memory_order_acquire); }
    const char* lostReason() const { return lost() ? lost_reason_ : ""; }

    // Converts one block from src into dst (see rts/convert.cpp). QZ_OK, or null
    // when nothing was converted; then a writable dst holds silence.
    static QZ_error copyBuffer(Chan* dst, Chan* src);
    // Number of calls refused for channels of different count since start.
    static std::uint32_t copyRefusals();

    // List helpers: the n-th record (null when absent), and destroying a list.
    static Mode* modeAt(const QZ_Chain& list, int n);
    static Chan* chanAt(const QZ_Chain& list, int n);
    static void destroyModes(QZ_Chain& list);
    static void destroyChans(QZ_Chain& list);

    // Driver objects are found from their items in QZ_Rts_instances (data = driver).
    static QZ_Rts* instanceAt(int n);

protected:
    void setLost(const char* why);
    void clearLost() { lost_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> lost_{false};
    char lost_reason_[128] = {};
};

// Every driver object of every class, in the order their classes created them.
extern QZ_Chain QZ_Rts_instances;
