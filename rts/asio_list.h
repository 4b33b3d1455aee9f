// The list of installed ASIO drivers and the call layer over the loaded one.
//
// Where the drivers come from is a seam (QZ_Asio_Source): on Windows the
// registry and COM, on Linux a built-in list holding our JACK driver, and in
// tests a list of simulated drivers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rts/asio.h"

// Result codes of the driver list.
enum : std::int32_t {
    DRVERR_INVALID_PARAM = -5001,
    DRVERR_DEVICE_ALREADY_OPEN = -5002,
    DRVERR_DEVICE_NOT_FOUND = -5003,
};

// Where drivers are found and how one is created.
class QZ_Asio_Source {
public:
    struct Found {
        std::string name;  // description, or the registry key's name
        QZ_Guid clsid;
    };
    virtual ~QZ_Asio_Source() = default;
    // The usable drivers, in registry order.
    virtual std::vector<Found> scan() = 0;
    // Creates the driver object of a class; 0 or the failing result.
    virtual std::int32_t create(const QZ_Guid& clsid, IASIO** driver) = 0;
    // Around the list's lifetime when at least one driver is listed (COM's
    // start and end on Windows).
    virtual void begin() {}
    virtual void end() {}
};

// The platform's own source (backend file); never null.
QZ_Asio_Source* QZ_asio_platform_source();
// Replaces the source that the next driver list reads (null: the platform's).
// Returns the previous replacement.
QZ_Asio_Source* QZ_asio_set_source(QZ_Asio_Source* source);

// Drivers as the source found them, numbered from 0.
class AsioDriverList {
public:
    struct Entry {
        std::int32_t number;
        QZ_Guid clsid;
        char name[128];
        IASIO* driver;  // while open
        Entry* next;
    };

    AsioDriverList();
    virtual ~AsioDriverList();
    AsioDriverList(const AsioDriverList&) = delete;
    AsioDriverList& operator=(const AsioDriverList&) = delete;

    std::int32_t count() const { return count_; }
    // Name of entry n into a buffer of `size` bytes, cut to size - 4 characters
    // and "..." when it does not fit.
    std::int32_t name(std::int32_t n, char* buffer, std::int32_t size) const;
    std::int32_t open(std::int32_t n, IASIO** driver);
    std::int32_t close(std::int32_t n);

protected:
    Entry* entry(std::int32_t n) const;

    Entry* first_ = nullptr;
    std::int32_t count_ = 0;
    QZ_Asio_Source* source_;
};

// The list plus the one currently open driver.
class AsioDrivers : public AsioDriverList {
public:
    AsioDrivers() = default;
    ~AsioDrivers() override;

    // Opens the driver whose name, cut to 32, is `name`; on failure opens the
    // previously open driver again. True when the requested one is open.
    bool load(const char* name);
    void removeCurrent();
    // Name of the open driver cut to 32, or an empty text; returns false when none.
    bool currentName(char* name) const;
    std::int32_t current() const { return current_; }

private:
    std::int32_t current_ = -1;
};

// The process's driver list (created by the ASIO driver class or the first load).
extern AsioDrivers* asioDrivers;
bool loadAsioDriver(const char* name);

// The call layer: one loaded driver per process. Without one, every call
// returns ASE_NotPresent and clears what it would have filled.
ASIOError ASIOInit(ASIODriverInfo* info);
ASIOError ASIOExit();
ASIOError ASIOStart();
ASIOError ASIOStop();
ASIOError ASIOGetChannels(std::int32_t* numInputChannels, std::int32_t* numOutputChannels);
ASIOError ASIOGetBufferSize(std::int32_t* minSize, std::int32_t* maxSize, std::int32_t* preferredSize,
                            std::int32_t* granularity);
ASIOError ASIOCanSampleRate(ASIOSampleRate sampleRate);
ASIOError ASIOSetSampleRate(ASIOSampleRate sampleRate);
ASIOError ASIOGetChannelInfo(ASIOChannelInfo* info);
ASIOError ASIOCreateBuffers(ASIOBufferInfo* bufferInfos, std::int32_t numChannels, std::int32_t bufferSize,
                            ASIOCallbacks* callbacks);
ASIOError ASIODisposeBuffers();

// The driver-information record of the last ASIOInit.
const ASIODriverInfo& QZ_asio_driver_info();
