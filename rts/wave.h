// The wave-device seam under the wave-device driver: calls shaped like the
// Windows waveIn*/waveOut* functions, on one device (identifier 0), with one
// backend per platform (winmm, ALSA) and a simulated one for tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <semaphore>

using QZ_Wave_Handle = std::uintptr_t;  // 0: not open

// Results: 0 for success, anything else is a failure.
constexpr unsigned QZ_WAVE_OK = 0;
constexpr unsigned QZ_WAVE_ERROR = 1;
constexpr unsigned QZ_WAVE_BADFORMAT = 32;
constexpr unsigned QZ_WAVE_STILLPLAYING = 33;

// Messages to the completion callback.
constexpr unsigned QZ_WOM_DONE = 0x3BD;
constexpr unsigned QZ_WIM_DATA = 0x3C0;
// Ours, never sent by a platform's own wave devices: the device has gone for
// good (unplugged, its server gone); the first message parameter is the reason,
// a text. No more buffers come back after it.
constexpr unsigned QZ_WIM_LOST = 0x7F01;

// Open flags.
constexpr std::uint32_t QZ_WAVE_FORMAT_QUERY = 0x0001;
constexpr std::uint32_t QZ_WAVE_MAPPED = 0x0004;
constexpr std::uint32_t QZ_WAVE_FORMAT_DIRECT = 0x0008;
constexpr std::uint32_t QZ_CALLBACK_FUNCTION = 0x00030000;

// Header flags.
constexpr std::uint32_t QZ_WHDR_DONE = 0x01;
constexpr std::uint32_t QZ_WHDR_PREPARED = 0x02;
constexpr std::uint32_t QZ_WHDR_BEGINLOOP = 0x04;
constexpr std::uint32_t QZ_WHDR_ENDLOOP = 0x08;
constexpr std::uint32_t QZ_WHDR_INQUEUE = 0x10;

constexpr std::uint16_t QZ_WAVE_FORMAT_PCM = 1;

// PCM format record (the layout of WAVEFORMATEX, packed to two bytes).
#pragma pack(push, 2)
struct QZ_Wave_Format {
    std::uint16_t formatTag = QZ_WAVE_FORMAT_PCM;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0;
};
#pragma pack(pop)

// Buffer header (the layout of WAVEHDR). `flags` is set by the device's side
// while the driver reads it, hence atomic (same size and layout as the plain word).
struct QZ_Wave_Header {
    char* data = nullptr;
    std::uint32_t bufferLength = 0;
    std::uint32_t bytesRecorded = 0;
    std::uintptr_t user = 0;
    std::atomic<std::uint32_t> flags{0};
    std::uint32_t loops = 0;
    QZ_Wave_Header* next = nullptr;  // the device's own
    std::uintptr_t reserved = 0;     // the device's own
};

// Completion callback: handle, message, instance data, two message parameters
// (for QZ_WIM_DATA the first is the header).
using QZ_Wave_Proc = void (*)(QZ_Wave_Handle handle, unsigned msg, std::uintptr_t instance, std::uintptr_t p1,
                              std::uintptr_t p2);

// A signal one thread raises and another waits for with a time limit. Raising it
// takes no lock.
class QZ_Rts_Signal {
public:
    void raise() { sem_.release(); }
    // Back to not raised.
    void reset() {
        while (sem_.try_acquire()) {
        }
    }
    bool try_wait() { return sem_.try_acquire(); }
    bool wait_ms(int ms);

private:
    std::binary_semaphore sem_{0};
};

class QZ_Wave_Device {
public:
    virtual ~QZ_Wave_Device() = default;

    virtual unsigned inOpen(QZ_Wave_Handle* h, unsigned device, const QZ_Wave_Format* fmt, QZ_Wave_Proc cb,
                            std::uintptr_t instance, std::uint32_t flags) = 0;
    virtual unsigned inPrepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* hdr) = 0;
    virtual unsigned inUnprepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* hdr) = 0;
    virtual unsigned inAddBuffer(QZ_Wave_Handle h, QZ_Wave_Header* hdr) = 0;
    virtual unsigned inStart(QZ_Wave_Handle h) = 0;
    virtual unsigned inStop(QZ_Wave_Handle h) = 0;
    // Stops and returns every queued buffer (marked done) through the callback.
    virtual unsigned inReset(QZ_Wave_Handle h) = 0;
    virtual unsigned inClose(QZ_Wave_Handle h) = 0;

    virtual unsigned outOpen(QZ_Wave_Handle* h, unsigned device, const QZ_Wave_Format* fmt, QZ_Wave_Proc cb,
                             std::uintptr_t instance, std::uint32_t flags) = 0;
    virtual unsigned outPrepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* hdr) = 0;
    virtual unsigned outUnprepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* hdr) = 0;
    virtual unsigned outWrite(QZ_Wave_Handle h, QZ_Wave_Header* hdr) = 0;
    virtual unsigned outReset(QZ_Wave_Handle h) = 0;
    virtual unsigned outClose(QZ_Wave_Handle h) = 0;

    // Time, so that a simulated device can run waits on a clock of its own.
    virtual void sleep_ms(int ms);
    virtual bool wait_ms(QZ_Rts_Signal& s, int ms) { return s.wait_ms(ms); }
};

// The platform's device and the name of the driver instance on it (backend file).
QZ_Wave_Device* QZ_wave_platform_device();
const char* QZ_wave_platform_name();
// What scheduling the device's own thread gets (or got, once started), in a
// few words for people; empty where the system runs the device's thread.
const char* QZ_wave_platform_scheduling();
