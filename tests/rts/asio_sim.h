// Simulated ASIO drivers and a simulated driver list whose contents, answers
// and failures a test controls. The test plays the driver's thread by calling
// `cycle`.
#pragma once

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "rts/asio.h"
#include "rts/asio_list.h"

struct Sim_Config {
    Sim_Config(std::string n = "Sim") : name(std::move(n)) {}
    std::string name;
    std::vector<ASIOSampleType> in_types = {ASIOSTInt32LSB, ASIOSTInt32LSB};
    std::vector<ASIOSampleType> out_types = {ASIOSTInt32LSB, ASIOSTInt32LSB};
    std::vector<double> rates = {44100, 48000};
    std::int32_t preferred = 64;
    bool init_ok = true;
    bool use_time_info = false;  // ask the host and prefer the time-info switch
    // Calls that fail, by name ("getChannels", "setSampleRate", "start", "stop", ...).
    std::vector<std::string> failing;
};

class Sim_Driver : public IASIO {
public:
    explicit Sim_Driver(Sim_Config c) : cfg(std::move(c)) { ++alive; }

    Sim_Config cfg;
    static inline int alive = 0;
    std::atomic<int> refs{1};
    bool initialised = false, running = false, prepared = false;
    int stops = 0, disposals = 0;
    std::vector<ASIOBufferInfo> created;  // what createBuffers was given
    std::vector<std::vector<std::int32_t>> storage;
    ASIOCallbacks cb{};
    bool time_info = false;
    ASIOTime time{};
    int half = 0;

    bool fails(const char* call) const {
        for (const std::string& s : cfg.failing)
            if (s == call) return true;
        return false;
    }

    // One buffer switch as the driver's thread would call it.
    void cycle() {
        if (!running) return;
        if (time_info)
            cb.bufferSwitchTimeInfo(&time, half, ASIOFalse);
        else
            cb.bufferSwitch(half, ASIOFalse);
        half ^= 1;
    }

    std::int32_t QZ_ASIO_COMCALL QueryInterface(const QZ_Guid&, void** o) override {
        *o = this;
        AddRef();
        return 0;
    }
    std::uint32_t QZ_ASIO_COMCALL AddRef() override { return ++refs; }
    std::uint32_t QZ_ASIO_COMCALL Release() override {
        const int left = --refs;
        if (left == 0) {
            --alive;
            delete this;
        }
        return left;
    }
    ASIOBool init(void*) override { return initialised = cfg.init_ok; }
    void getDriverName(char* n) override { std::snprintf(n, 32, "%s", cfg.name.c_str()); }
    std::int32_t getDriverVersion() override { return 7; }
    void getErrorMessage(char* s) override { std::snprintf(s, 124, "sim refused"); }
    ASIOError start() override {
        if (fails("start")) return ASE_HWMalfunction;
        running = true;
        half = 0;
        return ASE_OK;
    }
    ASIOError stop() override {
        ++stops;
        running = false;
        return fails("stop") ? ASE_HWMalfunction : ASE_OK;
    }
    ASIOError getChannels(std::int32_t* i, std::int32_t* o) override {
        *i = static_cast<std::int32_t>(cfg.in_types.size());
        *o = static_cast<std::int32_t>(cfg.out_types.size());
        return fails("getChannels") ? ASE_NotPresent : ASE_OK;
    }
    ASIOError getLatencies(std::int32_t* i, std::int32_t* o) override {
        *i = *o = cfg.preferred;
        return ASE_OK;
    }
    ASIOError getBufferSize(std::int32_t* mn, std::int32_t* mx, std::int32_t* p, std::int32_t* g) override {
        *mn = *mx = *p = cfg.preferred;
        *g = 0;
        return fails("getBufferSize") ? ASE_NotPresent : ASE_OK;
    }
    ASIOError canSampleRate(double r) override {
        for (double x : cfg.rates)
            if (x == r) return ASE_OK;
        return ASE_NoClock;
    }
    ASIOError getSampleRate(double* r) override {
        *r = cfg.rates.empty() ? 0 : cfg.rates[0];
        return ASE_OK;
    }
    ASIOError setSampleRate(double r) override { return fails("setSampleRate") ? ASE_NoClock : canSampleRate(r); }
    ASIOError getClockSources(ASIOClockSource*, std::int32_t*) override { return ASE_NotPresent; }
    ASIOError setClockSource(std::int32_t) override { return ASE_NotPresent; }
    ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_SPNotAdvancing; }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        const auto& types = info->isInput ? cfg.in_types : cfg.out_types;
        if (info->channel < 0 || info->channel >= static_cast<std::int32_t>(types.size()))
            return ASE_InvalidParameter;
        info->type = types[info->channel];
        info->channelGroup = 0;
        info->isActive = ASIOFalse;
        std::snprintf(info->name, sizeof info->name, "%s %d", info->isInput ? "In" : "Out", info->channel + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, std::int32_t n, std::int32_t size, ASIOCallbacks* c) override {
        if (fails("createBuffers") || prepared) return ASE_InvalidMode;
        created.assign(infos, infos + n);
        storage.assign(static_cast<std::size_t>(n) * 2, std::vector<std::int32_t>(size));
        for (std::int32_t k = 0; k < n; ++k)
            for (int h = 0; h < 2; ++h) infos[k].buffers[h] = created[k].buffers[h] = storage[k * 2 + h].data();
        cb = *c;
        time_info = cfg.use_time_info && c->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr,
                                                         nullptr) == 1 &&
                    c->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
        prepared = true;
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        ++disposals;
        if (!prepared) return ASE_InvalidMode;
        prepared = false;
        return ASE_OK;
    }
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError future(std::int32_t, void*) override { return ASE_NotPresent; }
    ASIOError outputReady() override { return ASE_NotPresent; }

protected:
    // Drivers built on this one (the COM test driver) go away with their own
    // parts on the last Release.
    virtual ~Sim_Driver() = default;
};

// A driver list of simulated drivers; the last driver created is kept in `last`.
class Sim_Source : public QZ_Asio_Source {
public:
    std::vector<Sim_Config> drivers;
    std::vector<bool> refuse_create;  // per entry: creation fails
    Sim_Driver* last = nullptr;
    int begins = 0, ends = 0;

    std::vector<Found> scan() override {
        std::vector<Found> out;
        for (std::size_t k = 0; k < drivers.size(); ++k) {
            QZ_Guid id{};
            id.data1 = static_cast<std::uint32_t>(k + 1);
            out.push_back(Found{drivers[k].name, id});
        }
        return out;
    }
    std::int32_t create(const QZ_Guid& id, IASIO** d) override {
        const std::size_t k = id.data1 - 1;
        if (k >= drivers.size() || (k < refuse_create.size() && refuse_create[k])) {
            *d = nullptr;
            return static_cast<std::int32_t>(0x80040154u);
        }
        *d = last = new Sim_Driver(drivers[k]);
        return 0;
    }
    void begin() override { ++begins; }
    void end() override { ++ends; }
};
