#include "rts/asio_driver.h"

#include <cstdio>
#include <cstring>

#include "rts/asio_list.h"

#define QZ_ASIO_REPORT(proc, call) QZ_error_func("QZ/Rts/Asio", __LINE__, proc, __DATE__, __TIME__, call)

namespace {
QZ_Chain g_class_instances;
std::atomic<QZ_Rts_callback> g_block{nullptr};
std::atomic<QZ_Rts_Asio*> g_active{nullptr};
std::atomic<std::uint32_t> g_resets{0};

struct Type_Format {
    ASIOSampleType type;
    QZ_Rts_format format;
};
constexpr Type_Format kAccepted[] = {
    {ASIOSTInt16LSB, 0x1002},       {ASIOSTInt24LSB, 0x1803},       {ASIOSTInt32LSB, 0x2004},
    {ASIOSTFloat32LSB, 0x01002004}, {ASIOSTFloat64LSB, 0x01004008}, {ASIOSTInt32LSB16, 0x101004},
    {ASIOSTInt32LSB18, 0xE1204},    {ASIOSTInt32LSB20, 0xC1404},    {ASIOSTInt32LSB24, 0x81804},
};

constexpr double kRates[] = {48000, 96000, 192000, 44100};

// The driver's channel name may fill its 32 bytes without a terminator.
void terminate(ASIOChannelInfo& info) { info.name[sizeof info.name - 1] = 0; }
}  // namespace

QZ_Rts_Asio::Chan::Chan(const char* name, QZ_Rts_format format, std::int32_t count, std::int32_t index)
    : QZ_Rts::Chan(name, format, count), index(index) {}

QZ_Rts_Asio::QZ_Rts_Asio(const char* name)
    : QZ_Rts(name), bufferInfos{}, callbacks{}, classItem(this), instanceItem(this) {}

QZ_Rts_Asio::~QZ_Rts_Asio() {
    // A driver must not call into an instance that is gone.
    if (current.load()) free();
    if (g_active.load() == this) exit();
}

QZ_Rts_format QZ_Rts_Asio::formatOf(ASIOSampleType type) {
    for (const Type_Format& t : kAccepted)
        if (t.type == type) return t.format;
    return 0;
}

QZ_Rts_Asio* QZ_Rts_Asio::active() { return g_active.load(); }
std::uint32_t QZ_Rts_Asio::resetRequests() { return g_resets.load(); }

QZ_error QZ_Rts_Asio::init() {
    static const char kProc[] = "QZ_Rts_Asio::init";
    clearLost();
    loadAsioDriver(name);  // without a driver, ASIOInit fails below
    ASIODriverInfo info{};
    if (ASIOInit(&info) != ASE_OK) {
        // The driver's own words say what failed (no server running, ...).
        info.errorMessage[sizeof info.errorMessage - 1] = 0;
        char text[160];
        std::snprintf(text, sizeof text, "ASIOInit: %s", info.errorMessage[0] ? info.errorMessage : "no driver");
        QZ_ASIO_REPORT(kProc, text);
        return QZ_ERROR_AUDIO;
    }
    if (ASIOGetChannels(&inputCount, &outputCount) != ASE_OK) {
        QZ_ASIO_REPORT(kProc, "ASIOGetChannels");
        return QZ_ERROR_AUDIO;
    }
    inputCount = inputCount < 0 ? 0 : inputCount > kMaxChannels ? kMaxChannels : inputCount;
    outputCount = outputCount < 0 ? 0 : outputCount > kMaxChannels ? kMaxChannels : outputCount;
    // A block of no samples cannot be run (nor sized by the client).
    if (ASIOGetBufferSize(&minSize, &maxSize, &preferredSize, &granularity) != ASE_OK || preferredSize <= 0) {
        QZ_ASIO_REPORT(kProc, "ASIOGetBufferSize");
        return QZ_ERROR_AUDIO;
    }
    for (double rate : kRates) {
        if (ASIOCanSampleRate(rate) == ASE_OK) {
            Mode* m = new Mode(static_cast<std::int32_t>(rate), 32, preferredSize, inputCount);
            modes.insert(&m->item);
        }
    }
    std::int32_t accepted = 0;
    for (std::int32_t i = 0; i < inputCount; ++i) {
        ASIOChannelInfo ci{};
        ci.channel = i;
        ci.isInput = ASIOTrue;
        if (ASIOGetChannelInfo(&ci) != ASE_OK || !formatOf(ci.type)) continue;
        terminate(ci);
        Chan* c = new Chan(ci.name, formatOf(ci.type), preferredSize, i);
        inputs.insert(&c->item);
        ++accepted;
    }
    inputCount = accepted;
    g_active.store(this);
    return QZ_OK;
}

QZ_error QZ_Rts_Asio::mode(Mode* m) {
    static const char kProc[] = "QZ_Rts_Asio::mode";
    QZ_Rts::mode(m);
    if (!m || ASIOSetSampleRate(m->rate) != ASE_OK) {
        QZ_ASIO_REPORT(kProc, "ASIOSetSampleRate");
        current.store(nullptr);
        return QZ_ERROR_AUDIO;
    }
    int n = 0;
    for (QZ_Chain_Item* it = inputs.first(); it != inputs.end() && n < kMaxBuffers; it = it->next) {
        Chan* c = static_cast<Chan*>(QZ_Rts::Chan::of(it));
        bufferInfos[n] = ASIOBufferInfo{ASIOTrue, c->index, {nullptr, nullptr}};
        order_[n++] = c;
    }
    std::int32_t accepted = 0;
    for (std::int32_t i = 0; i < outputCount && n < kMaxBuffers; ++i) {
        ASIOChannelInfo ci{};
        ci.channel = i;
        ci.isInput = ASIOFalse;
        if (ASIOGetChannelInfo(&ci) != ASE_OK || !formatOf(ci.type)) continue;
        terminate(ci);
        Chan* c = new Chan(ci.name, formatOf(ci.type), preferredSize, i);
        outputs.insert(&c->item);
        bufferInfos[n] = ASIOBufferInfo{ASIOFalse, i, {nullptr, nullptr}};
        order_[n++] = c;
        ++accepted;
    }
    outputCount = accepted;
    orderCount_ = n;
    callbacks.bufferSwitch = &QZ_Rts_Asio::bufferSwitch;
    callbacks.sampleRateDidChange = &QZ_Rts_Asio::sampleRateChanged;
    callbacks.asioMessage = &QZ_Rts_Asio::asioMessage;
    callbacks.bufferSwitchTimeInfo = &QZ_Rts_Asio::bufferSwitchTimeInfo;
    if (ASIOCreateBuffers(bufferInfos, n, preferredSize, &callbacks) != ASE_OK) {
        QZ_ASIO_REPORT(kProc, "ASIOCreateBuffers");
        current.store(nullptr);
        return QZ_ERROR_AUDIO;
    }
    prepared_ = true;
    live_.store(true, std::memory_order_release);
    if (ASIOStart() != ASE_OK) {
        QZ_ASIO_REPORT(kProc, "ASIOStart");
        live_.store(false);
        current.store(nullptr);
        releaseStream();
        return QZ_ERROR_AUDIO;
    }
    started_ = true;
    return QZ_OK;
}

// Gives the driver's buffers back, so that a later mode may create them anew.
void QZ_Rts_Asio::releaseStream() {
    if (prepared_) ASIODisposeBuffers();
    prepared_ = false;
    orderCount_ = 0;
}

QZ_error QZ_Rts_Asio::free() {
    // Handlers that start from now on do nothing; once the driver has stopped
    // none runs, and only then do the output channels go.
    live_.store(false, std::memory_order_release);
    current.store(nullptr);
    const bool stopped = !started_ || ASIOStop() == ASE_OK;
    started_ = false;
    releaseStream();
    QZ_Rts::free();
    if (!stopped) {
        QZ_ASIO_REPORT("QZ_Rts_Asio::free", "ASIOStop");
        return QZ_ERROR_AUDIO;
    }
    return QZ_OK;
}

QZ_error QZ_Rts_Asio::exit() {
    if (current.load() || started_ || prepared_) free();
    const QZ_error r = QZ_Rts::exit();
    QZ_Rts_Asio* self = this;
    if (g_active.load() == this || g_active.load() == nullptr) ASIOExit();
    g_active.compare_exchange_strong(self, nullptr);
    return r;
}

void QZ_Rts_Asio::switchTo(int half) {
    for (int k = 0; k < orderCount_; ++k) order_[k]->data = bufferInfos[k].buffers[half];
}

void QZ_Rts_Asio::bufferSwitch(std::int32_t index, ASIOBool) {
    QZ_Rts_Asio* a = g_active.load(std::memory_order_acquire);
    if (!a || !a->live_.load(std::memory_order_acquire) || !a->current.load(std::memory_order_acquire)) return;
    a->switchTo(index ? 1 : 0);
    if (QZ_Rts_callback block = g_block.load(std::memory_order_acquire)) block();
}

ASIOTime* QZ_Rts_Asio::bufferSwitchTimeInfo(ASIOTime*, std::int32_t index, ASIOBool direct) {
    bufferSwitch(index, direct);
    return nullptr;
}

void QZ_Rts_Asio::sampleRateChanged(ASIOSampleRate) {}

std::int32_t QZ_Rts_Asio::asioMessage(std::int32_t selector, std::int32_t value, void* message, double*) {
    switch (selector) {
        case kAsioSelectorSupported:
            switch (value) {
                case kAsioEngineVersion:
                case kAsioResetRequest:
                case kAsioResyncRequest:
                case kAsioLatenciesChanged:
                case kAsioSupportsTimeInfo:
                case kAsioSupportsTimeCode:
                case kAsioSupportsInputMonitor: return 1;
                default: return 0;
            }
        case kAsioEngineVersion: return 2;
        case kAsioResetRequest:
            // Until the host sets the driver up anew nothing plays: the driver
            // counts as lost. The JACK-backed driver hands its reason along
            // with the request (others pass nothing); asking the driver for it
            // here would race with the host closing it on its own thread.
            g_resets.fetch_add(1);
            if (QZ_Rts_Asio* a = g_active.load()) {
                const char* why = static_cast<const char*>(message);
                a->setLost(why && why[0] ? why : "The ASIO driver asked to be set up again");
            }
            return 1;
        case kAsioBufferSizeChange: return 0;
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo: return 1;
        default: return 0;
    }
}

QZ_error QZ_Rts_Asio::classInit(QZ_Rts_callback block) {
    g_block.store(block);
    if (!asioDrivers) asioDrivers = new AsioDrivers;
    char name[32];
    for (std::int32_t n = 0; n < asioDrivers->count(); ++n) {
        if (asioDrivers->name(n, name, sizeof name) != 0) continue;
        QZ_Rts_Asio* d = new QZ_Rts_Asio(name);
        g_class_instances.insert(&d->classItem);
        QZ_Rts_instances.insert(&d->instanceItem);
    }
    return QZ_OK;
}

void QZ_Rts_Asio::classExit() {
    while (g_class_instances.first() != g_class_instances.end()) {
        QZ_Rts_Asio* d = static_cast<QZ_Rts_Asio*>(g_class_instances.first()->data);
        g_class_instances.remove(&d->classItem);
        QZ_Rts_instances.remove(&d->instanceItem);
        delete d;
    }
    delete asioDrivers;
    asioDrivers = nullptr;
}
