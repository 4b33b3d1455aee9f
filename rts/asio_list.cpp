#include "rts/asio_list.h"

#include <cstring>

const QZ_Guid QZ_IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

bool operator==(const QZ_Guid& a, const QZ_Guid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

namespace {
QZ_Asio_Source* g_source = nullptr;

// Copies `text` into a buffer of `size` bytes; a text that does not fit ends
// in "..." after its first size - 4 characters.
void cut_name(const char* text, char* buffer, std::int32_t size) {
    const std::size_t n = std::strlen(text);
    if (n < static_cast<std::size_t>(size)) {
        std::memcpy(buffer, text, n + 1);
        return;
    }
    if (size < 4) {  // no room for the dots: as much as fits
        std::memcpy(buffer, text, size - 1);
        buffer[size - 1] = 0;
        return;
    }
    std::memcpy(buffer, text, size - 4);
    std::memcpy(buffer + size - 4, "...", 4);
}
}  // namespace

QZ_Asio_Source* QZ_asio_set_source(QZ_Asio_Source* source) {
    QZ_Asio_Source* old = g_source;
    g_source = source;
    return old;
}

AsioDriverList::AsioDriverList() : source_(g_source ? g_source : QZ_asio_platform_source()) {
    Entry** tail = &first_;
    for (const QZ_Asio_Source::Found& f : source_->scan()) {
        Entry* e = new Entry{};
        e->number = count_++;
        e->clsid = f.clsid;
        std::strncpy(e->name, f.name.c_str(), sizeof e->name - 1);
        *tail = e;
        tail = &e->next;
    }
    if (count_ > 0) source_->begin();
}

AsioDriverList::~AsioDriverList() {
    for (Entry* e = first_; e;) {
        if (e->driver) e->driver->Release();
        Entry* next = e->next;
        delete e;
        e = next;
    }
    if (count_ > 0) source_->end();
}

AsioDriverList::Entry* AsioDriverList::entry(std::int32_t n) const {
    for (Entry* e = first_; e; e = e->next)
        if (e->number == n) return e;
    return nullptr;
}

std::int32_t AsioDriverList::name(std::int32_t n, char* buffer, std::int32_t size) const {
    Entry* e = entry(n);
    if (!e) return DRVERR_DEVICE_NOT_FOUND;
    if (!buffer || size <= 0) return DRVERR_INVALID_PARAM;
    cut_name(e->name, buffer, size);
    return 0;
}

std::int32_t AsioDriverList::open(std::int32_t n, IASIO** driver) {
    if (!driver) return DRVERR_INVALID_PARAM;
    Entry* e = entry(n);
    if (!e) return DRVERR_DEVICE_NOT_FOUND;
    if (e->driver) return DRVERR_DEVICE_ALREADY_OPEN;
    IASIO* d = nullptr;
    const std::int32_t r = source_->create(e->clsid, &d);
    if (r != 0 || !d) return r != 0 ? r : DRVERR_DEVICE_NOT_FOUND;
    e->driver = d;
    *driver = d;
    return 0;
}

std::int32_t AsioDriverList::close(std::int32_t n) {
    if (Entry* e = entry(n); e && e->driver) {
        e->driver->Release();
        e->driver = nullptr;
    }
    return 0;
}

// ---------------------------------------------------------------------------

AsioDrivers* asioDrivers = nullptr;

namespace {
// The call layer's state.
IASIO* g_driver = nullptr;
ASIODriverInfo g_info;
}  // namespace

AsioDrivers::~AsioDrivers() { removeCurrent(); }

bool AsioDrivers::load(const char* name) {
    if (!name) return false;
    std::int32_t found = -1;
    char cut[32];
    for (std::int32_t n = 0; n < count_; ++n) {
        if (this->name(n, cut, sizeof cut) == 0 && std::strcmp(cut, name) == 0) {
            found = n;
            break;
        }
    }
    if (found < 0) return false;

    char previous[32];
    currentName(previous);
    removeCurrent();

    IASIO* d = nullptr;
    if (open(found, &d) == 0) {
        current_ = found;
        g_driver = d;
        return true;
    }
    if (previous[0] && std::strcmp(previous, name) != 0) load(previous);
    return false;
}

void AsioDrivers::removeCurrent() {
    if (current_ >= 0) {
        if (Entry* e = entry(current_); e && e->driver == g_driver) g_driver = nullptr;
        close(current_);
    }
    current_ = -1;
}

bool AsioDrivers::currentName(char* name) const {
    name[0] = 0;
    return current_ >= 0 && this->name(current_, name, 32) == 0;
}

bool loadAsioDriver(const char* name) {
    if (!asioDrivers) asioDrivers = new AsioDrivers;
    return asioDrivers->load(name);
}

// ---------------------------------------------------------------------------
// Call layer. Calls go straight to the driver's vtable: our declaration of
// IASIO already uses the drivers' calling convention.

const ASIODriverInfo& QZ_asio_driver_info() { return g_info; }

ASIOError ASIOInit(ASIODriverInfo* info) {
    ASIODriverInfo out = info ? *info : ASIODriverInfo{};
    out.driverVersion = 0;
    std::strcpy(out.name, "No ASIO Driver");
    ASIOError result = ASE_NotPresent;
    if (g_driver && !g_driver->init(out.sysRef)) {
        char message[124] = {};
        g_driver->getErrorMessage(message);
        message[sizeof message - 1] = 0;
        std::memcpy(out.errorMessage, message, sizeof message);
        g_driver = nullptr;  // the list entry stays open until the next load or removal
    } else if (g_driver) {
        std::strcpy(out.errorMessage, "No ASIO Driver Error");
        char name[32] = {};
        g_driver->getDriverName(name);
        name[sizeof name - 1] = 0;
        std::memcpy(out.name, name, sizeof name);
        out.driverVersion = g_driver->getDriverVersion();
        result = ASE_OK;
    }
    g_info = out;
    if (info) *info = out;
    return result;
}

ASIOError ASIOExit() {
    if (g_driver && asioDrivers) asioDrivers->removeCurrent();
    g_driver = nullptr;
    return ASE_OK;
}

ASIOError ASIOStart() { return g_driver ? g_driver->start() : ASE_NotPresent; }

ASIOError ASIOStop() { return g_driver ? g_driver->stop() : ASE_NotPresent; }

ASIOError ASIOGetChannels(std::int32_t* numInputChannels, std::int32_t* numOutputChannels) {
    if (!numInputChannels || !numOutputChannels) return ASE_InvalidParameter;
    if (!g_driver) {
        *numInputChannels = *numOutputChannels = 0;
        return ASE_NotPresent;
    }
    return g_driver->getChannels(numInputChannels, numOutputChannels);
}

ASIOError ASIOGetBufferSize(std::int32_t* minSize, std::int32_t* maxSize, std::int32_t* preferredSize,
                            std::int32_t* granularity) {
    if (!minSize || !maxSize || !preferredSize || !granularity) return ASE_InvalidParameter;
    if (!g_driver) {
        *minSize = *maxSize = *preferredSize = *granularity = 0;
        return ASE_NotPresent;
    }
    return g_driver->getBufferSize(minSize, maxSize, preferredSize, granularity);
}

ASIOError ASIOCanSampleRate(ASIOSampleRate sampleRate) {
    return g_driver ? g_driver->canSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError ASIOSetSampleRate(ASIOSampleRate sampleRate) {
    return g_driver ? g_driver->setSampleRate(sampleRate) : ASE_NotPresent;
}

ASIOError ASIOGetChannelInfo(ASIOChannelInfo* info) {
    if (!info) return ASE_InvalidParameter;
    if (!g_driver) {
        info->channelGroup = -1;
        info->type = 0;
        std::strcpy(info->name, "None");
        return ASE_NotPresent;
    }
    return g_driver->getChannelInfo(info);
}

ASIOError ASIOCreateBuffers(ASIOBufferInfo* bufferInfos, std::int32_t numChannels, std::int32_t bufferSize,
                            ASIOCallbacks* callbacks) {
    if (!g_driver) {
        for (std::int32_t k = 0; bufferInfos && k < numChannels; ++k)
            bufferInfos[k].buffers[0] = bufferInfos[k].buffers[1] = nullptr;
        return ASE_NotPresent;
    }
    return g_driver->createBuffers(bufferInfos, numChannels, bufferSize, callbacks);
}

ASIOError ASIODisposeBuffers() { return g_driver ? g_driver->disposeBuffers() : ASE_NotPresent; }
