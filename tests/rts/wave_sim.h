// A simulated wave device: the test decides which formats open, which calls fail
// and when buffers come back. Time is the device's own: in stepped mode it moves
// only when the test (or a wait of the driver) advances it, so waits of seconds
// take none; in threaded mode a thread of the device moves it in real time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "rts/wave.h"

class Sim_Wave : public QZ_Wave_Device {
public:
    enum Call {
        InOpen, InPrepare, InUnprepare, InAddBuffer, InStart, InStop, InReset, InClose,
        OutOpen, OutPrepare, OutUnprepare, OutWrite, OutReset, OutClose, CALLS
    };

    std::function<bool(const QZ_Wave_Format&)> acceptIn = [](const QZ_Wave_Format&) { return true; };
    std::function<bool(const QZ_Wave_Format&)> acceptOut = [](const QZ_Wave_Format&) { return true; };
    int failures[CALLS] = {};  // the next n calls of each kind fail
    int failAt[CALLS] = {};    // the call of each kind with this number (from 1) fails
    std::atomic<int> calls[CALLS] = {};
    bool autoOutput = true;  // written buffers are played (and come back) one per block

    // Calls in order (not the per-block ones), for order checks.
    Call log[1024];
    int logged = 0;

    // Every written output buffer's bytes, and the headers in write order.
    std::vector<unsigned char> written;
    std::vector<const QZ_Wave_Header*> writes;

    long long now = 0;       // ms of simulated time
    long long slept = 0;     // of which spent in sleep_ms
    int inputBlocks = 0;     // input buffers completed while queued
    int overruns = 0;        // blocks due with no input buffer queued
    int openIn = 0, openOut = 0;

    Sim_Wave() {
        written.reserve(1 << 22);
        writes.reserve(1 << 16);
    }
    ~Sim_Wave() override { stopThread(); }

    // Moves simulated time on by ms, completing buffers as they fall due.
    void advance(int ms) {
        std::lock_guard<std::recursive_mutex> l(m_);
        for (int t = 0; t < ms; ++t) {
            ++now;
            if (recording_ && blockMs_ > 0 && (now - started_) % blockMs_ == 0) completeInput();
            if (autoOutput && playing_ < playQueue_.size() && now - playStart_ >= blockMs_) {
                playQueue_[playing_]->flags.store((playQueue_[playing_]->flags.load() & ~QZ_WHDR_INQUEUE) |
                                                  QZ_WHDR_DONE);
                ++playing_;
                playStart_ = now;
            }
        }
    }

    // Real-time mode: a thread advances 10 ms every `period`; waits are real.
    void startThread(std::chrono::microseconds period) {
        threaded_ = true;
        run_ = true;
        thread_ = std::thread([this, period] {
            while (run_.load()) {
                advance(10);  // one block of the driver
                std::this_thread::sleep_for(period);
            }
        });
    }
    void stopThread() {
        run_ = false;
        if (thread_.joinable()) thread_.join();
    }

    void sleep_ms(int ms) override {
        slept += ms;
        if (threaded_) std::this_thread::sleep_for(std::chrono::microseconds(ms * 10));
        else advance(ms);
    }
    bool wait_ms(QZ_Rts_Signal& s, int ms) override {
        if (threaded_) return s.wait_ms(ms);
        for (int t = 0; t < ms; ++t) {
            if (s.try_wait()) return true;
            advance(1);
        }
        return s.try_wait();
    }

    // The device goes away for good, as an unplugged one says so.
    void lose(const char* why) {
        std::lock_guard<std::recursive_mutex> l(m_);
        recording_ = false;
        if (cb_) cb_(IN, QZ_WIM_LOST, instance_, reinterpret_cast<std::uintptr_t>(why), 0);
    }

    int count(Call c) const { return calls[c].load(); }
    int queuedInputs() {
        std::lock_guard<std::recursive_mutex> l(m_);
        return static_cast<int>(inQueue_.size());
    }

    unsigned inOpen(QZ_Wave_Handle* h, unsigned, const QZ_Wave_Format* f, QZ_Wave_Proc cb, std::uintptr_t inst,
                    std::uint32_t) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        *h = 0;
        if (fail(InOpen) || !acceptIn(*f)) return QZ_WAVE_BADFORMAT;
        inFormat_ = *f;
        cb_ = cb;
        instance_ = inst;
        ++openIn;
        *h = IN;
        return QZ_WAVE_OK;
    }
    unsigned outOpen(QZ_Wave_Handle* h, unsigned, const QZ_Wave_Format* f, QZ_Wave_Proc, std::uintptr_t,
                     std::uint32_t) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        *h = 0;
        if (fail(OutOpen) || !acceptOut(*f)) return QZ_WAVE_BADFORMAT;
        outFormat_ = *f;
        ++openOut;
        *h = OUT;
        return QZ_WAVE_OK;
    }
    unsigned inPrepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override { return prepare(InPrepare, h, IN, x); }
    unsigned outPrepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return prepare(OutPrepare, h, OUT, x);
    }
    unsigned inUnprepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return unprepare(InUnprepare, h, IN, x);
    }
    unsigned outUnprepareHeader(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        return unprepare(OutUnprepare, h, OUT, x);
    }
    unsigned inAddBuffer(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (fail(InAddBuffer) || h != IN || !(x->flags.load() & QZ_WHDR_PREPARED)) return QZ_WAVE_ERROR;
        x->flags.store((x->flags.load() & ~QZ_WHDR_DONE) | QZ_WHDR_INQUEUE);
        inQueue_.push_back(x);
        return QZ_WAVE_OK;
    }
    unsigned outWrite(QZ_Wave_Handle h, QZ_Wave_Header* x) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (fail(OutWrite) || h != OUT || !(x->flags.load() & QZ_WHDR_PREPARED)) return QZ_WAVE_ERROR;
        x->flags.store((x->flags.load() & ~QZ_WHDR_DONE) | QZ_WHDR_INQUEUE);
        if (writes.size() < writes.capacity()) writes.push_back(x);
        if (written.size() + x->bufferLength <= written.capacity())
            written.insert(written.end(), x->data, x->data + x->bufferLength);
        if (playing_ == playQueue_.size()) {
            playQueue_.clear();
            playing_ = 0;
            playStart_ = now;
        }
        if (playQueue_.size() < playQueue_.capacity()) playQueue_.push_back(x);
        return QZ_WAVE_OK;
    }
    unsigned inStart(QZ_Wave_Handle h) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (note(InStart) || h != IN) return QZ_WAVE_ERROR;
        recording_ = true;
        started_ = now;
        blockMs_ = inFormat_.avgBytesPerSec && !inQueue_.empty()
                       ? static_cast<int>(1000ull * inQueue_.front()->bufferLength / inFormat_.avgBytesPerSec)
                       : 10;
        if (blockMs_ < 1) blockMs_ = 1;
        return QZ_WAVE_OK;
    }
    unsigned inStop(QZ_Wave_Handle h) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (note(InStop) || h != IN) return QZ_WAVE_ERROR;
        recording_ = false;
        return QZ_WAVE_OK;
    }
    unsigned inReset(QZ_Wave_Handle h) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (note(InReset) || h != IN) return QZ_WAVE_ERROR;
        recording_ = false;
        while (!inQueue_.empty()) complete(0);
        return QZ_WAVE_OK;
    }
    unsigned outReset(QZ_Wave_Handle h) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (note(OutReset) || h != OUT) return QZ_WAVE_ERROR;
        for (std::size_t i = playing_; i < playQueue_.size(); ++i)
            playQueue_[i]->flags.store((playQueue_[i]->flags.load() & ~QZ_WHDR_INQUEUE) | QZ_WHDR_DONE);
        playQueue_.clear();
        playing_ = 0;
        return QZ_WAVE_OK;
    }
    unsigned inClose(QZ_Wave_Handle h) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (note(InClose) || h != IN) return QZ_WAVE_ERROR;
        if (!inQueue_.empty()) return QZ_WAVE_STILLPLAYING;
        --openIn;
        return QZ_WAVE_OK;
    }
    unsigned outClose(QZ_Wave_Handle h) override {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (note(OutClose) || h != OUT) return QZ_WAVE_ERROR;
        if (playing_ < playQueue_.size()) return QZ_WAVE_STILLPLAYING;
        --openOut;
        return QZ_WAVE_OK;
    }

    // Completes the oldest queued input buffer now, as the device does every block.
    void completeInput() {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (inQueue_.empty()) {
            ++overruns;
            return;
        }
        ++inputBlocks;
        complete(inQueue_.front()->bufferLength);
    }

    // The sample value the device records for frame n (16-bit scale, left; right
    // is its negation), written at the top of each sample's container.
    static std::int16_t pattern(long long n) { return static_cast<std::int16_t>(1000 + n % 20000); }
    long long framesRecorded = 0;

private:
    static constexpr QZ_Wave_Handle IN = 0x1100, OUT = 0x2200;

    bool fail(Call c) {
        const int n = calls[c].fetch_add(1) + 1;
        if (failAt[c] == n) return true;
        if (logged < 1024 && c != InAddBuffer && c != OutPrepare && c != OutWrite) log[logged++] = c;
        if (failures[c] > 0) {
            --failures[c];
            return true;
        }
        return false;
    }
    bool note(Call c) { return fail(c); }

    unsigned prepare(Call c, QZ_Wave_Handle h, QZ_Wave_Handle want, QZ_Wave_Header* x) {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (fail(c) || h != want || !x->data) return QZ_WAVE_ERROR;
        x->flags.fetch_or(QZ_WHDR_PREPARED);
        return QZ_WAVE_OK;
    }
    unsigned unprepare(Call c, QZ_Wave_Handle h, QZ_Wave_Handle want, QZ_Wave_Header* x) {
        std::lock_guard<std::recursive_mutex> l(m_);
        if (fail(c) || h != want) return QZ_WAVE_ERROR;
        if (x->flags.load() & QZ_WHDR_INQUEUE) return QZ_WAVE_STILLPLAYING;
        x->flags.fetch_and(~QZ_WHDR_PREPARED);
        return QZ_WAVE_OK;
    }

    void complete(std::uint32_t bytes) {
        QZ_Wave_Header* x = inQueue_.front();
        inQueue_.erase(inQueue_.begin());  // no allocation: erasing shifts in place
        const unsigned b = inFormat_.bitsPerSample / 8, frame = inFormat_.blockAlign;
        if (bytes && b && frame) {
            for (std::uint32_t k = 0; k + frame <= bytes; k += frame, ++framesRecorded) {
                const std::int32_t l = pattern(framesRecorded), r = -l;
                for (unsigned ch = 0; ch < 2; ++ch) {
                    const std::int32_t v = (ch ? r : l) * (1 << (8 * b - 16));
                    std::memcpy(x->data + k + ch * b, &v, b);  // little-endian low bytes
                }
            }
        }
        x->bytesRecorded = bytes;
        x->flags.store((x->flags.load() & ~QZ_WHDR_INQUEUE) | QZ_WHDR_DONE);
        if (cb_) cb_(IN, QZ_WIM_DATA, instance_, reinterpret_cast<std::uintptr_t>(x), 0);
    }

    std::recursive_mutex m_;
    QZ_Wave_Format inFormat_{}, outFormat_{};
    QZ_Wave_Proc cb_ = nullptr;
    std::uintptr_t instance_ = 0;
    std::vector<QZ_Wave_Header*> inQueue_ = reserved<QZ_Wave_Header*>(64);
    std::vector<QZ_Wave_Header*> playQueue_ = reserved<QZ_Wave_Header*>(1 << 16);
    std::size_t playing_ = 0;
    long long playStart_ = 0, started_ = 0;
    int blockMs_ = 0;
    bool recording_ = false;
    bool threaded_ = false;
    std::atomic<bool> run_{false};
    std::thread thread_;

    template <class T>
    static std::vector<T> reserved(std::size_t n) {
        std::vector<T> v;
        v.reserve(n);
        return v;
    }
};
