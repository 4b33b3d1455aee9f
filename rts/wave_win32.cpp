// Wave device on the Windows multimedia functions (winmm), device 0. The seam's
// header and format records have the layouts of WAVEHDR and WAVEFORMATEX, so they
// are handed to the system as they are.
#include <windows.h>
#include <mmsystem.h>

#include <cstddef>

#include "rts/wave.h"

static_assert(sizeof(QZ_Wave_Header) == sizeof(WAVEHDR));
static_assert(offsetof(QZ_Wave_Header, data) == offsetof(WAVEHDR, lpData));
static_assert(offsetof(QZ_Wave_Header, bufferLength) == offsetof(WAVEHDR, dwBufferLength));
static_assert(offsetof(QZ_Wave_Header, bytesRecorded) == offsetof(WAVEHDR, dwBytesRecorded));
static_assert(offsetof(QZ_Wave_Header, user) == offsetof(WAVEHDR, dwUser));
static_assert(offsetof(QZ_Wave_Header, flags) == offsetof(WAVEHDR, dwFlags));
static_assert(offsetof(QZ_Wave_Header, loops) == offsetof(WAVEHDR, dwLoops));
static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(DWORD));
static_assert(sizeof(QZ_Wave_Format) == sizeof(WAVEFORMATEX));
static_assert(offsetof(QZ_Wave_Format, bitsPerSample) == offsetof(WAVEFORMATEX, wBitsPerSample));
static_assert(QZ_WHDR_DONE == WHDR_DONE && QZ_WHDR_INQUEUE == WHDR_INQUEUE && QZ_WIM_DATA == WIM_DATA);
static_assert(QZ_CALLBACK_FUNCTION == CALLBACK_FUNCTION && QZ_WAVE_FORMAT_DIRECT == WAVE_FORMAT_DIRECT);

namespace {

// The caller's callback and instance data, one per direction; the system calls
// the trampoline with the record as its instance data.
struct Route {
    QZ_Wave_Proc cb = nullptr;
    std::uintptr_t instance = 0;
};

// Called by the system, whose 32-bit stack is only 4-byte aligned: realigned on
// entry, since the block callback below may keep 16-byte vectors on it.
__attribute__((force_align_arg_pointer)) void CALLBACK in_proc(HWAVEIN h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2) {
    const Route* r = reinterpret_cast<const Route*>(inst);
    if (r && r->cb) r->cb(reinterpret_cast<QZ_Wave_Handle>(h), msg, r->instance, p1, p2);
}

__attribute__((force_align_arg_pointer)) void CALLBACK out_proc(HWAVEOUT h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2) {
    const Route* r = reinterpret_cast<const Route*>(inst);
    if (r && r->cb) r->cb(reinterpret_cast<QZ_Wave_Handle>(h), msg, r->instance, p1, p2);
}

HWAVEIN in(QZ_Wave_Handle h) { return reinterpret_cast<HWAVEIN>(h); }
HWAVEOUT out(QZ_Wave_Handle h) { return reinterpret_cast<HWAVEOUT>(h); }
WAVEHDR* hdr(QZ_Wave_Header* h) { return reinterpret_cast<WAVEHDR*>(h); }
const WAVEFORMATEX* fmt(const QZ_Wave_Format* f) { return reinterpret_cast<const WAVEFORMATEX*>(f); }

class Winmm_Device final : public QZ_Wave_Device {
public:
    unsigned inOpen(QZ_Wave_Handle* h, unsigned device, const QZ_Wave_Format* f, QZ_Wave_Proc cb,
                    std::uintptr_t inst, std::uint32_t flags) override {
        HWAVEIN w = nullptr;
        MMRESULT r;
        if (cb && (flags & CALLBACK_FUNCTION)) {
            in_ = Route{cb, inst};
            r = waveInOpen(&w, device, fmt(f), reinterpret_cast<DWORD_PTR>(&in_proc),
                           reinterpret_cast<DWORD_PTR>(&in_), flags);
        } else {
            r = waveInOpen(&w, device, fmt(f), 0, 0, flags & ~CALLBACK_TYPEMASK);
        }
        *h = r == MMSYSERR_NOERROR ? reinterpret_cast<QZ_Wave_Handle>(w) : 0;
        return r;
    }
    unsigned inPrepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return waveInPrepareHeader(in(h), hdr(x), sizeof(WAVEHDR));
    }
    unsigned inUnprepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return waveInUnprepareHeader(in(h), hdr(x), sizeof(WAVEHDR));
    }
    unsigned inAddBuffer(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return waveInAddBuffer(in(h), hdr(x), sizeof(WAVEHDR));
    }
    unsigned inStart(QZ_Wave_Handle h) override { return waveInStart(in(h)); }
    unsigned inStop(QZ_Wave_Handle h) override { return waveInStop(in(h)); }
    unsigned inReset(QZ_Wave_Handle h) override { return waveInReset(in(h)); }
    unsigned inClose(QZ_Wave_Handle h) override { return waveInClose(in(h)); }

    unsigned outOpen(QZ_Wave_Handle* h, unsigned device, const QZ_Wave_Format* f, QZ_Wave_Proc cb,
                     std::uintptr_t inst, std::uint32_t flags) override {
        HWAVEOUT w = nullptr;
        MMRESULT r;
        if (cb && (flags & CALLBACK_FUNCTION)) {
            out_ = Route{cb, inst};
            r = waveOutOpen(&w, device, fmt(f), reinterpret_cast<DWORD_PTR>(&out_proc),
                            reinterpret_cast<DWORD_PTR>(&out_), flags);
        } else {
            r = waveOutOpen(&w, device, fmt(f), 0, 0, flags & ~CALLBACK_TYPEMASK);
        }
        *h = r == MMSYSERR_NOERROR ? reinterpret_cast<QZ_Wave_Handle>(w) : 0;
        return r;
    }
    unsigned outPrepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return waveOutPrepareHeader(out(h), hdr(x), sizeof(WAVEHDR));
    }
    unsigned outUnprepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return waveOutUnprepareHeader(out(h), hdr(x), sizeof(WAVEHDR));
    }
    unsigned outWrite(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        // A header that loops once over itself plays exactly as one without loop
        // marks, so it goes out without them: wine plays such loops at under half
        // the rate of plain headers (101 against 265 a second on its null device)
        // and never hands back the last one while nothing follows it.
        constexpr std::uint32_t one_pass = WHDR_BEGINLOOP | WHDR_ENDLOOP;
        if ((x->flags.load() & one_pass) == one_pass && x->loops <= 1) x->flags.fetch_and(~one_pass);
        return waveOutWrite(out(h), hdr(x), sizeof(WAVEHDR));
    }
    unsigned outReset(QZ_Wave_Handle h) override { return waveOutReset(out(h)); }
    unsigned outClose(QZ_Wave_Handle h) override { return waveOutClose(out(h)); }

    void sleep_ms(int ms) override { Sleep(static_cast<DWORD>(ms)); }

private:
    Route in_, out_;
};

}  // namespace

QZ_Wave_Device* QZ_wave_platform_device() {
    static Winmm_Device device;
    return &device;
}

const char* QZ_wave_platform_name() { return "Windows"; }

const char* QZ_wave_platform_scheduling() { return ""; }
