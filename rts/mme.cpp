// The wave-device driver's buffering.
#include "rts/mme.h"

#include <cstdlib>
#include <new>
#include <thread>

QZ_Chain QZ_Rts_Win32::classInstances;

namespace {
std::atomic<QZ_Rts_callback> block_callback{nullptr};
std::atomic<QZ_Rts_Win32*> active{nullptr};
std::atomic<unsigned> returned{0};  // one bit per input buffer back during a stop

constexpr int PROBE_BITS[] = {32, 24, 16};
constexpr int PROBE_RATES[] = {48000, 96000, 192000, 44100};
constexpr const char* OUTPUT_NAMES[] = {"Left front", "Right front", "Left back", "Right back"};
constexpr int ATTEMPTS = 10;
constexpr int RETRY_MS = 500;
constexpr int DRAIN_MS = 10000;
constexpr int SETTLE_MS = 100;

void output_done(QZ_Wave_Handle, unsigned, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}
}  // namespace

bool QZ_Rts_Signal::wait_ms(int ms) { return sem_.try_acquire_for(std::chrono::milliseconds(ms)); }

void QZ_Wave_Device::sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

QZ_Rts_Win32::QZ_Rts_Win32(QZ_Wave_Device* dev)
    : QZ_Rts(nullptr), waveIn(0), waveOut(0), classItem(this), instanceItem(this), device(dev) {
    for (int i = 0; i < BUFFERS; ++i) outBuffers[i] = inBuffers[i] = nullptr;
    resetHeaders();
    format = QZ_Wave_Format{};
}

QZ_Rts_Win32::~QZ_Rts_Win32() {
    // Never leave a device calling back into a destroyed driver.
    if (current.load() || waveIn || waveOut) free();
    if (active.load() == this) active.store(nullptr);
}

void QZ_Rts_Win32::resetHeaders() {
    for (int i = 0; i < BUFFERS; ++i) {
        buffers[i] = Buffer{this, i};
        for (QZ_Wave_Header* h : {&inHeaders[i], &outHeaders[i]}) {
            h->data = nullptr;
            h->bufferLength = 0;
            h->bytesRecorded = 0;
            h->user = reinterpret_cast<std::uintptr_t>(&buffers[i]);
            h->flags.store(QZ_WHDR_DONE);
            h->next = nullptr;
            h->reserved = 0;
        }
        inHeaders[i].loops = 0;
        outHeaders[i].loops = 1;
    }
    drained.reset();
}

QZ_error QZ_Rts_Win32::init() {
    for (int bits : PROBE_BITS) {
        for (int rate : PROBE_RATES) {
            format.formatTag = QZ_WAVE_FORMAT_PCM;
            format.samplesPerSec = static_cast<std::uint32_t>(rate);
            format.avgBytesPerSec = static_cast<std::uint32_t>(rate * 2 * bits / 8);
            format.blockAlign = static_cast<std::uint16_t>(2 * bits / 8);
            format.bitsPerSample = static_cast<std::uint16_t>(bits);
            format.channels = 2;
            QZ_Wave_Handle h = 0;
            if (device->inOpen(&h, 0, &format, nullptr, 0, QZ_WAVE_MAPPED | QZ_WAVE_FORMAT_DIRECT) != QZ_WAVE_OK)
                continue;
            device->inClose(h);
            for (int channels : {4, 2}) {
                format.avgBytesPerSec = static_cast<std::uint32_t>(rate * channels * bits / 8);
                format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
                format.channels = static_cast<std::uint16_t>(channels);
                QZ_Wave_Handle o = 0;
                if (device->outOpen(&o, 0, &format, nullptr, 0, QZ_WAVE_MAPPED | QZ_WAVE_FORMAT_DIRECT) !=
                    QZ_WAVE_OK)
                    continue;
                device->outClose(o);
                auto* m = new (std::nothrow) Mode(rate, bits, rate / 100, channels);
                if (m) modes.insert(&m->item);
            }
        }
    }
    for (const char* n : {"Left", "Right"}) {
        auto* c = new (std::nothrow) Chan(n);
        if (c) inputs.insert(&c->item);
    }
    clearLost();  // a device back again plays again
    active.store(this);
    return QZ_OK;
}

// A failed start leaves the driver stopped: nothing open, nothing allocated, no
// current mode, so that a later `free` has nothing to retry.
QZ_error QZ_Rts_Win32::failMode(QZ_error code) {
    current.store(nullptr);
    if (waveIn) {
        device->inReset(waveIn);  // returns queued buffers; the callback only marks them
        for (QZ_Wave_Header& h : inHeaders) device->inUnprepareHeader(waveIn, &h);
        device->inClose(waveIn);
        waveIn = 0;
    }
    if (waveOut) {
        device->outClose(waveOut);
        waveOut = 0;
    }
    destroyChans(outputs);
    release();
    return code;
}

QZ_error QZ_Rts_Win32::mode(Mode* m) {
    if (!m || m->bits < 8 || m->bits % 8 || m->bits > 32 || m->channels < 1 || m->channels > 4 || m->block < 1)
        return QZ_ERROR_AUDIO_CANNOT_OPEN;
    // A mode still running is stopped first, so that nothing open is lost.
    if (waveIn || waveOut) {
        const QZ_error stopped = free();
        if (stopped != QZ_OK) return stopped;
    }
    QZ_Rts::mode(m);
    waveIn = waveOut = 0;
    outBuffers[0] = nullptr;

    const int b = m->bits / 8, c = m->channels;
    const std::size_t B = static_cast<std::size_t>(b) * static_cast<std::size_t>(m->block);

    format.formatTag = QZ_WAVE_FORMAT_PCM;
    format.samplesPerSec = static_cast<std::uint32_t>(m->rate);
    format.channels = 2;
    format.bitsPerSample = static_cast<std::uint16_t>(m->bits);
    format.blockAlign = static_cast<std::uint16_t>(2 * b);
    format.avgBytesPerSec = static_cast<std::uint32_t>(2 * m->rate * b);
    if (device->inOpen(&waveIn, 0, &format, &QZ_Rts_Win32::waveInProc, 0,
                       QZ_CALLBACK_FUNCTION | QZ_WAVE_MAPPED | QZ_WAVE_FORMAT_DIRECT) != QZ_WAVE_OK) {
        waveIn = 0;
        return failMode(QZ_ERROR_AUDIO_CANNOT_OPEN);
    }
    format.channels = static_cast<std::uint16_t>(c);
    format.blockAlign = static_cast<std::uint16_t>(c * b);
    format.avgBytesPerSec = static_cast<std::uint32_t>(m->rate * c * b);
    if (device->outOpen(&waveOut, 0, &format, &output_done, 0,
                        QZ_CALLBACK_FUNCTION | QZ_WAVE_MAPPED | QZ_WAVE_FORMAT_DIRECT) != QZ_WAVE_OK) {
        waveOut = 0;
        return failMode(QZ_ERROR_AUDIO_CANNOT_OPEN);
    }

    auto* block = static_cast<unsigned char*>(std::calloc(BUFFERS * (static_cast<std::size_t>(c) + 2), B));
    if (!block) return failMode(QZ_ERROR_MEMORY_CANNOT_ALLOCATE);
    for (int i = 0; i < BUFFERS; ++i) {
        outBuffers[i] = block + static_cast<std::size_t>(i) * B * static_cast<std::size_t>(c);
        inBuffers[i] = block + BUFFERS * B * static_cast<std::size_t>(c) + static_cast<std::size_t>(i) * 2 * B;
    }
    resetHeaders();

    for (QZ_Chain_Item* it = inputs.first(); it != inputs.end(); it = it->next) {
        Chan* ch = Chan::of(it);
        ch->format = static_cast<QZ_Rts_format>(2 * b + 256 * m->bits);
        ch->count = m->block;
        ch->data = nullptr;
    }
    for (int j = 0; j < c; ++j) {
        auto* ch = new (std::nothrow)
            Chan(OUTPUT_NAMES[j], static_cast<QZ_Rts_format>(c * b + 256 * m->bits), m->block);
        if (!ch) return failMode(QZ_ERROR_MEMORY_CANNOT_ALLOCATE);
        outputs.insert(&ch->item);
    }

    for (int i = 0; i < BUFFERS; ++i) {
        inHeaders[i].data = reinterpret_cast<char*>(inBuffers[i]);
        inHeaders[i].bufferLength = static_cast<std::uint32_t>(2 * B);
        if (device->inPrepareHeader(waveIn, &inHeaders[i]) != QZ_WAVE_OK ||
            device->inAddBuffer(waveIn, &inHeaders[i]) != QZ_WAVE_OK)
            return failMode(QZ_ERROR_AUDIO);
        outHeaders[i].data = reinterpret_cast<char*>(outBuffers[i]);
        outHeaders[i].bufferLength = static_cast<std::uint32_t>(B * static_cast<std::size_t>(c));
    }
    if (device->inStart(waveIn) != QZ_WAVE_OK) return failMode(QZ_ERROR_AUDIO);
    return QZ_OK;
}

void QZ_Rts_Win32::send(int i) {
    QZ_Wave_Header& h = outHeaders[i];
    h.flags.store(QZ_WHDR_BEGINLOOP | QZ_WHDR_ENDLOOP);
    h.loops = 1;
    device->outPrepareHeader(waveOut, &h);
    device->outWrite(waveOut, &h);
}

void QZ_Rts_Win32::waveInProc(QZ_Wave_Handle, unsigned msg, std::uintptr_t, std::uintptr_t p1, std::uintptr_t) {
    if (msg == QZ_WIM_LOST) {
        // The host hears of it through the lost flag, on a thread of its own.
        if (QZ_Rts_Win32* d = active.load(std::memory_order_acquire)) {
            const char* why = reinterpret_cast<const char*>(p1);
            d->setLost(why && why[0] ? why : "The sound device went away");
        }
        return;
    }
    if (msg != QZ_WIM_DATA || !active.load(std::memory_order_acquire) || !p1) return;
    auto* hdr = reinterpret_cast<QZ_Wave_Header*>(p1);
    const Buffer* rec = reinterpret_cast<const Buffer*>(hdr->user);
    if (!rec) return;
    QZ_Rts_Win32* d = rec->driver;
    const int i = rec->index;
    Mode* m = d->current.load(std::memory_order_acquire);
    if (!m) {
        // A stop is under way: keep the buffer, and say so once all eight are back.
        const unsigned mask = returned.fetch_or(1u << i, std::memory_order_acq_rel) | 1u << i;
        if (mask == 0xFF) d->drained.raise();
        return;
    }
    // Back in the queue before its samples are used, so recording never starves.
    d->device->inAddBuffer(d->waveIn, hdr);

    const int b = m->bits / 8;
    int j = 0;
    for (QZ_Chain_Item* it = d->inputs.first(); it != d->inputs.end(); it = it->next, ++j)
        Chan::of(it)->data = d->inBuffers[i] + j * b;

    int free_count = 0, f0 = -1, f1 = -1;
    for (int k = 0; k < BUFFERS; ++k) {
        if (d->outHeaders[k].flags.load(std::memory_order_acquire) & QZ_WHDR_DONE) {
            if (free_count == 0) f0 = k;
            else if (free_count == 1) f1 = k;
            ++free_count;
        }
    }
    // Output is only sent while two or more headers are free, so one always is;
    // should a device still hold all eight, the block is skipped rather than
    // written into a buffer that is playing.
    if (f0 < 0) return;
    j = 0;
    for (QZ_Chain_Item* it = d->outputs.first(); it != d->outputs.end(); it = it->next, ++j)
        Chan::of(it)->data = d->outBuffers[f0] + j * b;

    if (QZ_Rts_callback cb = block_callback.load(std::memory_order_acquire)) cb();

    if (free_count < 2) return;  // filled again by the next block
    d->send(f0);
    // The queue has run low: send the next free buffer as well, as it is.
    if (free_count >= 6) d->send(f1);
}

bool QZ_Rts_Win32::retry(unsigned (QZ_Wave_Device::*call)(QZ_Wave_Handle), QZ_Wave_Handle h) {
    for (int attempt = 1;; ++attempt) {
        if ((device->*call)(h) == QZ_WAVE_OK) return true;
        if (attempt == ATTEMPTS) return false;
        device->sleep_ms(RETRY_MS);
    }
}

void QZ_Rts_Win32::unprepareAll() {
    for (int i = 0; i < BUFFERS; ++i) {
        device->inUnprepareHeader(waveIn, &inHeaders[i]);
        device->outUnprepareHeader(waveOut, &outHeaders[i]);
    }
}

void QZ_Rts_Win32::release() {
    std::free(outBuffers[0]);
    for (int i = 0; i < BUFFERS; ++i) outBuffers[i] = inBuffers[i] = nullptr;
}

QZ_error QZ_Rts_Win32::free() {
    if (!waveIn && !waveOut) {
        // Nothing is open (never started, or a failed start): only the base stop.
        release();
        return QZ_Rts::free();
    }
    returned.store(0);
    current.store(nullptr);
    device->wait_ms(drained, DRAIN_MS);
    destroyChans(outputs);  // no block callback runs from here on
    device->sleep_ms(SETTLE_MS);

    if (waveIn && !retry(&QZ_Wave_Device::inStop, waveIn)) return QZ_ERROR_AUDIO_CANNOT_INPUT_STOP;
    if (waveOut && !retry(&QZ_Wave_Device::outReset, waveOut)) return QZ_ERROR_AUDIO_CANNOT_OUTPUT_RESET;
    // Buffers the drain wait did not see come back are returned before closing.
    if (waveIn && returned.load() != 0xFF) device->inReset(waveIn);
    unprepareAll();
    if (waveIn && !retry(&QZ_Wave_Device::inClose, waveIn)) return QZ_ERROR_AUDIO_CANNOT_INPUT_CLOSE;
    waveIn = 0;
    if (waveOut && !retry(&QZ_Wave_Device::outClose, waveOut)) return QZ_ERROR_AUDIO_CANNOT_OUTPUT_CLOSE;
    waveOut = 0;
    release();
    return QZ_OK;
}

QZ_error QZ_Rts_Win32::classInit(QZ_Rts_callback callback) {
    return classInit(callback, QZ_wave_platform_device(), QZ_wave_platform_name());
}

QZ_error QZ_Rts_Win32::classInit(QZ_Rts_callback callback, QZ_Wave_Device* dev, const char* name) {
    block_callback.store(callback);
    if (!dev) return QZ_OK;
    auto* d = new (std::nothrow) QZ_Rts_Win32(dev);
    if (!d) return QZ_ERROR_MEMORY_CANNOT_ALLOCATE;
    d->setName(name);
    classInstances.insert(&d->classItem);
    QZ_Rts_instances.insert(&d->instanceItem);
    return QZ_OK;
}

void QZ_Rts_Win32::classExit() {
    while (classInstances.first() != classInstances.end()) {
        auto* d = static_cast<QZ_Rts_Win32*>(classInstances.first()->data);
        classInstances.remove(&d->classItem);
        QZ_Rts_instances.remove(&d->instanceItem);
        delete d;
    }
}
