// A test ASIO driver as an in-process COM server (a DLL of its own): the
// simulated driver, clocked by a thread of its own that calls the host's buffer
// switch while the driver runs, as a sound card's driver does. The registry test
// registers this module, and the driver list creates the driver through COM
// like any installed one.
//
// Each switch writes a known pattern into the inputs of its half and, once the
// host returns, checks that the host copied it into the outputs of that half.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>
#include <thread>

#include "tests/rts/asio_com_driver.h"
#include "tests/rts/asio_sim.h"

namespace {

std::atomic<long> g_locks{0};
struct Counters {
    std::atomic<std::int32_t> created{0}, alive{0}, inits{0}, switches{0}, mismatches{0}, disposals{0}, ticking{0};
    std::atomic<std::int32_t> halves[2] = {0, 0};
} g_count;

GUID guid(const char* text) {
    wchar_t wide[64] = {};
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 64);
    GUID g{};
    CLSIDFromString(wide, &g);
    return g;
}

Sim_Config config() {
    Sim_Config c{"Zelo Test Driver"};
    c.in_types = {ASIOSTInt32LSB, ASIOSTInt32LSB};
    c.out_types = {ASIOSTInt32LSB, ASIOSTInt32LSB};
    c.rates = {44100, 48000};
    c.preferred = 64;
    return c;
}

class Clocked_Driver final : public Sim_Driver {
public:
    Clocked_Driver() : Sim_Driver(config()) {
        g_count.created.fetch_add(1);
        g_count.alive.fetch_add(1);
    }

    std::int32_t QZ_ASIO_COMCALL QueryInterface(const QZ_Guid& iid, void** object) override {
        // Hosts ask for the driver's own class identifier as the interface.
        static const GUID self = guid(ZELO_TEST_DRIVER_CLSID);
        const IID& asked = reinterpret_cast<const IID&>(iid);
        if (!IsEqualIID(asked, self) && !IsEqualIID(asked, IID_IUnknown)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IASIO*>(this);
        AddRef();
        return S_OK;
    }
    ASIOBool init(void* sys) override {
        g_count.inits.fetch_add(1);
        return Sim_Driver::init(sys);
    }
    ASIOError start() override {
        if (!prepared) return ASE_NotPresent;
        if (ticking_.load()) return ASE_OK;
        const ASIOError r = Sim_Driver::start();
        if (r != ASE_OK) return r;
        ticking_ = true;
        g_count.ticking = 1;
        clock_ = std::thread([this] { run(); });
        return ASE_OK;
    }
    // Once this returns no switch is under way and none follows.
    ASIOError stop() override {
        halt();
        return Sim_Driver::stop();
    }
    ASIOError disposeBuffers() override {
        halt();
        g_count.disposals.fetch_add(1);
        return Sim_Driver::disposeBuffers();
    }

private:
    ~Clocked_Driver() override {
        halt();
        g_count.alive.fetch_sub(1);
    }

    void halt() {
        ticking_ = false;
        if (clock_.joinable()) clock_.join();
        g_count.ticking = 0;
    }

    void run() {
        std::uint32_t n = 0;
        while (ticking_.load()) {
            const int h = half;
            std::uint32_t in = 0;
            for (std::size_t k = 0; k < created.size(); ++k) {
                if (!created[k].isInput) continue;
                auto* samples = static_cast<std::int32_t*>(created[k].buffers[h]);
                for (std::int32_t s = 0; s < cfg.preferred; ++s) samples[s] = zelo_test_sample(n, in, s);
                ++in;
            }
            cycle();
            // The host copies input j into output j.
            std::uint32_t out = 0;
            for (std::size_t k = 0; k < created.size(); ++k) {
                if (created[k].isInput) continue;
                const auto* samples = static_cast<const std::int32_t*>(created[k].buffers[h]);
                for (std::int32_t s = 0; s < cfg.preferred; ++s)
                    if (samples[s] != zelo_test_sample(n, out, s)) g_count.mismatches.fetch_add(1);
                ++out;
            }
            g_count.halves[h].fetch_add(1);
            g_count.switches.fetch_add(1);
            ++n;
            Sleep(1);
        }
    }

    std::atomic<bool> ticking_{false};
    std::thread clock_;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The one class object lives as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* d = new (std::nothrow) Clocked_Driver;
        if (!d) return E_OUTOFMEMORY;
        const HRESULT r = d->QueryInterface(reinterpret_cast<const QZ_Guid&>(iid), object);
        d->Release();
        return r;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        g_locks.fetch_add(lock ? 1 : -1);
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    *object = nullptr;
    if (!IsEqualCLSID(clsid, guid(ZELO_TEST_DRIVER_CLSID))) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_count.alive.load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE;
}

extern "C" __declspec(dllexport) void zelo_test_driver_stats(Zelo_Test_Driver_Stats* out) {
    out->created = g_count.created.load();
    out->alive = g_count.alive.load();
    out->inits = g_count.inits.load();
    out->switches = g_count.switches.load();
    out->halves[0] = g_count.halves[0].load();
    out->halves[1] = g_count.halves[1].load();
    out->mismatches = g_count.mismatches.load();
    out->disposals = g_count.disposals.load();
    out->ticking = g_count.ticking.load();
}
