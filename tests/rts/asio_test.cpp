// ASIO driver list, call layer and the ASIO sound driver, on simulated drivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "rts/asio_driver.h"
#include "rts/asio_list.h"
#include "rts/drivers.h"
#include "rts/wave.h"
#include "tests/rts/asio_sim.h"

namespace {

std::vector<std::string>& boxes() {
    static std::vector<std::string> b;
    return b;
}
int record_box(const char* text, const char*) {
    boxes().push_back(text);
    return QZ_IDOK;
}

int g_blocks = 0;
void count_block() { ++g_blocks; }

// Installs a simulated driver list for one test and tears the class down after it.
class Asio : public ::testing::Test {
protected:
    Sim_Source source;
    QZ_Asio_Source* old_source = nullptr;
    QZ_message_box_fn old_box = nullptr;

    void SetUp() override {
        old_source = QZ_asio_set_source(&source);
        old_box = QZ_set_message_box(&record_box);
        boxes().clear();
        g_blocks = 0;
    }
    void TearDown() override {
        QZ_Rts_Asio::classExit();
        QZ_asio_set_source(old_source);
        QZ_set_message_box(old_box);
        EXPECT_EQ(Sim_Driver::alive, 0) << "a driver object was never released";
    }

    QZ_Rts_Asio* start_class() {
        EXPECT_EQ(QZ_Rts_Asio::classInit(&count_block), QZ_OK);
        return static_cast<QZ_Rts_Asio*>(QZ_Rts::instanceAt(0));
    }
    static QZ_Rts_Asio::Chan* chan(QZ_Chain& list, int n) {
        return static_cast<QZ_Rts_Asio::Chan*>(QZ_Rts::chanAt(list, n));
    }
    bool reported(const char* call, const char* proc) const {
        for (const std::string& b : boxes())
            if (b.find(call) != std::string::npos && b.find(proc) != std::string::npos &&
                b.find("QZ/Rts/Asio") != std::string::npos)
                return true;
        return false;
    }
};

const std::string kLong = "A driver with a rather long name, longer than 32";

TEST_F(Asio, ListCutsNamesAndChecksItsArguments) {
    source.drivers = {Sim_Config{"Exactly thirty-one characters.."}, Sim_Config{kLong}};
    AsioDriverList list;
    EXPECT_EQ(source.begins, 1);
    ASSERT_EQ(list.count(), 2);
    char name[32];
    ASSERT_EQ(list.name(0, name, sizeof name), 0);
    EXPECT_STREQ(name, "Exactly thirty-one characters..");
    ASSERT_EQ(list.name(1, name, sizeof name), 0);
    EXPECT_EQ(std::string(name), kLong.substr(0, 28) + "...");
    EXPECT_EQ(list.name(2, name, sizeof name), DRVERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(list.name(0, nullptr, 32), DRVERR_INVALID_PARAM);

    IASIO* d = nullptr;
    EXPECT_EQ(list.open(0, nullptr), DRVERR_INVALID_PARAM);
    EXPECT_EQ(list.open(5, &d), DRVERR_DEVICE_NOT_FOUND);
    ASSERT_EQ(list.open(1, &d), 0);
    EXPECT_EQ(d, source.last);
    EXPECT_EQ(list.open(1, &d), DRVERR_DEVICE_ALREADY_OPEN);
    EXPECT_EQ(Sim_Driver::alive, 1);
    EXPECT_EQ(list.close(1), 0);
    EXPECT_EQ(Sim_Driver::alive, 0);
    ASSERT_EQ(list.open(1, &d), 0);  // released with the list
}

TEST_F(Asio, EmptyListStartsNoComponentServices) {
    { AsioDriverList list; }
    EXPECT_EQ(source.begins, 0);
    EXPECT_EQ(source.ends, 0);
}

TEST_F(Asio, LoadingByCutNameFallsBackToThePreviousDriver) {
    source.drivers = {Sim_Config{"First"}, Sim_Config{kLong}, Sim_Config{"Broken"}};
    source.refuse_create = {false, false, true};
    ASSERT_TRUE(loadAsioDriver((kLong.substr(0, 28) + "...").c_str()));
    char name[32];
    ASSERT_TRUE(asioDrivers->currentName(name));
    EXPECT_EQ(std::string(name), kLong.substr(0, 28) + "...");
    EXPECT_FALSE(loadAsioDriver(kLong.c_str()));  // only the cut name is known
    EXPECT_EQ(asioDrivers->current(), 1);

    EXPECT_FALSE(loadAsioDriver("Broken"));
    EXPECT_EQ(asioDrivers->current(), 1) << "the previous driver is loaded again";
    EXPECT_EQ(Sim_Driver::alive, 1);
    ASIODriverInfo info{};
    EXPECT_EQ(ASIOInit(&info), ASE_OK);  // and the call layer reaches it
    ASIOExit();
    EXPECT_EQ(asioDrivers->current(), -1);
    EXPECT_EQ(Sim_Driver::alive, 0);
}

TEST_F(Asio, CallLayerWithoutDriverClearsItsOutputs) {
    ASIODriverInfo info{};
    std::strcpy(info.name, "stale");
    info.driverVersion = 3;
    EXPECT_EQ(ASIOInit(&info), ASE_NotPresent);
    EXPECT_STREQ(info.name, "No ASIO Driver");
    EXPECT_EQ(info.driverVersion, 0);

    std::int32_t a = 5, b = 5, c = 5, d = 5;
    EXPECT_EQ(ASIOGetChannels(&a, &b), ASE_NotPresent);
    EXPECT_EQ(a + b, 0);
    a = b = 5;
    EXPECT_EQ(ASIOGetBufferSize(&a, &b, &c, &d), ASE_NotPresent);
    EXPECT_EQ(a | b | c | d, 0);
    ASIOChannelInfo ci{};
    EXPECT_EQ(ASIOGetChannelInfo(&ci), ASE_NotPresent);
    EXPECT_EQ(ci.channelGroup, -1);
    EXPECT_EQ(ci.type, 0);
    EXPECT_STREQ(ci.name, "None");
    int x;
    ASIOBufferInfo bi[2] = {{1, 0, {&x, &x}}, {0, 0, {&x, &x}}};
    EXPECT_EQ(ASIOCreateBuffers(bi, 2, 64, nullptr), ASE_NotPresent);
    EXPECT_EQ(bi[0].buffers[0], nullptr);
    EXPECT_EQ(bi[1].buffers[1], nullptr);
    EXPECT_EQ(ASIOStart(), ASE_NotPresent);
    EXPECT_EQ(ASIOStop(), ASE_NotPresent);
    EXPECT_EQ(ASIOCanSampleRate(48000), ASE_NotPresent);
    EXPECT_EQ(ASIOSetSampleRate(48000), ASE_NotPresent);
}

TEST_F(Asio, InitFailureFetchesTheDriversMessageAndForgetsIt) {
    Sim_Config refusing{"Refusing"};
    refusing.init_ok = false;
    source.drivers = {Sim_Config{"Good"}, refusing};
    ASSERT_TRUE(loadAsioDriver("Refusing"));
    ASIODriverInfo info{};
    EXPECT_EQ(ASIOInit(&info), ASE_NotPresent);
    EXPECT_STREQ(info.errorMessage, "sim refused");
    std::int32_t in = 1, out = 1;
    EXPECT_EQ(ASIOGetChannels(&in, &out), ASE_NotPresent);

    ASSERT_TRUE(loadAsioDriver("Good"));  // the refusing one is closed now
    EXPECT_EQ(Sim_Driver::alive, 1);
    EXPECT_EQ(ASIOInit(&info), ASE_OK);
    EXPECT_STREQ(info.errorMessage, "No ASIO Driver Error");
    EXPECT_STREQ(info.name, "Good");
    EXPECT_EQ(info.driverVersion, 7);
    ASIOExit();
}

TEST_F(Asio, ClassListsOneInstancePerDriverUnderItsCutName) {
    source.drivers = {Sim_Config{kLong}, Sim_Config{"Two"}};
    QZ_Rts_Asio* first = start_class();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::string(first->name), kLong.substr(0, 28) + "...");
    EXPECT_STREQ(QZ_Rts::instanceAt(1)->name, "Two");
    EXPECT_EQ(QZ_Rts::instanceAt(2), nullptr);
    // Loading by the instance's (cut) name finds the long-named driver.
    EXPECT_EQ(first->init(), QZ_OK);
    EXPECT_EQ(QZ_Rts_Asio::active(), first);
    EXPECT_EQ(first->exit(), QZ_OK);
    EXPECT_EQ(QZ_Rts_Asio::active(), nullptr);
    QZ_Rts_Asio::classExit();
    EXPECT_EQ(QZ_Rts::instanceAt(0), nullptr);
}

TEST_F(Asio, AsioDriversAreListedBeforeTheWaveDevice) {
    source.drivers = {Sim_Config{"One"}, Sim_Config{"Two"}};
    ASSERT_EQ(QZ_Rts_classInitAll(&count_block), QZ_OK);
    ASSERT_NE(QZ_Rts::instanceAt(2), nullptr);
    EXPECT_STREQ(QZ_Rts::instanceAt(0)->name, "One");
    EXPECT_STREQ(QZ_Rts::instanceAt(1)->name, "Two");
    EXPECT_STREQ(QZ_Rts::instanceAt(2)->name, QZ_wave_platform_name());
    EXPECT_EQ(QZ_Rts::instanceAt(3), nullptr);
    QZ_Rts_classExitAll();
    EXPECT_EQ(QZ_Rts::instanceAt(0), nullptr);
}

TEST_F(Asio, TwentyChannelsAreUsedAsSixteen) {
    Sim_Config big{"Big"};
    big.in_types.assign(20, ASIOSTInt32LSB);
    big.out_types.assign(20, ASIOSTFloat32LSB);
    big.rates = {44100, 96000, 48000};
    big.preferred = 256;
    source.drivers = {big};
    QZ_Rts_Asio* d = start_class();
    ASSERT_EQ(d->init(), QZ_OK);
    EXPECT_EQ(d->inputCount, 16);
    EXPECT_EQ(d->inputs.count, 16);
    // Modes in probe order, each with the (limited) input count and 32 bits.
    ASSERT_EQ(d->modes.count, 3);
    EXPECT_STREQ(QZ_Rts::modeAt(d->modes, 0)->name, " 48.0 kHz, 32 bit, 16 ch");
    EXPECT_STREQ(QZ_Rts::modeAt(d->modes, 1)->name, " 96.0 kHz, 32 bit, 16 ch");
    EXPECT_STREQ(QZ_Rts::modeAt(d->modes, 2)->name, " 44.1 kHz, 32 bit, 16 ch");
    EXPECT_EQ(QZ_Rts::modeAt(d->modes, 0)->block, 256);
    EXPECT_EQ(chan(d->inputs, 15)->index, 15);
    EXPECT_EQ(chan(d->inputs, 0)->format, 0x2004u);
    EXPECT_EQ(chan(d->inputs, 0)->count, 256);

    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    EXPECT_EQ(d->outputCount, 16);
    EXPECT_EQ(source.last->created.size(), 32u);
    EXPECT_EQ(chan(d->outputs, 0)->format, 0x01002004u);
    EXPECT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(d->exit(), QZ_OK);
}

TEST_F(Asio, DriverWithoutSupportedRateOffersNoModes) {
    Sim_Config none{"No rate"};
    none.rates = {32000, 88200};
    source.drivers = {none};
    QZ_Rts_Asio* d = start_class();
    ASSERT_EQ(d->init(), QZ_OK);
    EXPECT_EQ(d->modes.count, 0);
    EXPECT_EQ(d->inputs.count, 2);
}

// Outputs 0 and 2 are accepted around a big-endian one; inputs 1 is DSD and left out.
class AsioRefused : public Asio {
protected:
    QZ_Rts_Asio* d = nullptr;
    void open(bool time_info) {
        Sim_Config c{"Mixed"};
        c.in_types = {ASIOSTInt16LSB, ASIOSTDSDInt8LSB1, ASIOSTInt24LSB};
        c.out_types = {ASIOSTInt32LSB, ASIOSTInt32MSB, ASIOSTInt32LSB24};
        c.use_time_info = time_info;
        c.preferred = 8;
        source.drivers = {c};
        d = start_class();
        ASSERT_EQ(d->init(), QZ_OK);
        ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    }
    void check_switching() {
        Sim_Driver& s = *source.last;
        EXPECT_EQ(s.time_info, s.cfg.use_time_info);
        ASSERT_EQ(s.created.size(), 4u);
        const std::int32_t expect[4][2] = {{1, 0}, {1, 2}, {0, 0}, {0, 2}};
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(s.created[k].isInput, expect[k][0]) << k;
            EXPECT_EQ(s.created[k].channelNum, expect[k][1]) << k;
            EXPECT_EQ(d->bufferInfos[k].buffers[1], s.storage[k * 2 + 1].data()) << k;
        }
        EXPECT_EQ(d->inputCount, 2);
        EXPECT_EQ(d->outputCount, 2);
        EXPECT_EQ(chan(d->outputs, 1)->index, 2);
        EXPECT_EQ(chan(d->outputs, 1)->format, 0x81804u);
        EXPECT_EQ(chan(d->inputs, 1)->format, 0x1803u);
        for (int cycle = 0; cycle < 4; ++cycle) {
            const int half = cycle & 1;
            s.cycle();
            EXPECT_EQ(g_blocks, cycle + 1);
            EXPECT_EQ(chan(d->inputs, 0)->data, s.storage[0 * 2 + half].data());
            EXPECT_EQ(chan(d->inputs, 1)->data, s.storage[1 * 2 + half].data());
            EXPECT_EQ(chan(d->outputs, 0)->data, s.storage[2 * 2 + half].data());
            EXPECT_EQ(chan(d->outputs, 1)->data, s.storage[3 * 2 + half].data());
        }
    }
};

TEST_F(AsioRefused, ConsecutiveEntriesAroundARefusedChannel) {
    open(false);
    check_switching();
}

TEST_F(AsioRefused, TimeInfoSwitchIsProcessedAlike) {
    open(true);
    check_switching();
}

TEST_F(AsioRefused, NoBlockAfterFreeAndModeRunsAgain) {
    open(false);
    Sim_Driver& s = *source.last;
    s.cycle();
    ASSERT_EQ(g_blocks, 1);
    EXPECT_EQ(d->free(), QZ_OK);
    EXPECT_EQ(d->current.load(), nullptr);
    EXPECT_EQ(d->outputs.count, 0);
    s.running = true;  // a late switch from the driver
    s.cycle();
    EXPECT_EQ(g_blocks, 1);
    s.running = false;
    // The buffers were given back, so the driver accepts new ones.
    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    s.cycle();
    EXPECT_EQ(g_blocks, 2);
    EXPECT_TRUE(boxes().empty());
}

TEST_F(Asio, FailuresAreReportedWithTheCallsName) {
    struct Case {
        const char* failing;
        bool in_mode;
        const char* call;
    } cases[] = {
        {"getChannels", false, "ASIOGetChannels"},   {"getBufferSize", false, "ASIOGetBufferSize"},
        {"setSampleRate", true, "ASIOSetSampleRate"}, {"createBuffers", true, "ASIOCreateBuffers"},
        {"start", true, "ASIOStart"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        Sim_Config cfg{"Failing"};
        cfg.failing = {c.failing};
        source.drivers = {cfg};
        QZ_Rts_Asio* d = start_class();
        boxes().clear();
        if (!c.in_mode) {
            EXPECT_EQ(d->init(), QZ_ERROR_AUDIO);
            EXPECT_TRUE(reported(c.call, "QZ_Rts_Asio::init"));
        } else {
            ASSERT_EQ(d->init(), QZ_OK);
            EXPECT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_ERROR_AUDIO);
            EXPECT_TRUE(reported(c.call, "QZ_Rts_Asio::mode"));
            // A failed mode leaves nothing running: free has nothing to stop.
            EXPECT_EQ(d->current.load(), nullptr);
            EXPECT_FALSE(source.last->prepared);
            EXPECT_EQ(d->free(), QZ_OK);
            EXPECT_EQ(source.last->stops, 0);
        }
        EXPECT_EQ(boxes().size(), 1u);
        d->exit();
        QZ_Rts_Asio::classExit();
    }

    source.drivers = {Sim_Config{"Absent"}};
    source.refuse_create = {true};
    QZ_Rts_Asio* d = start_class();
    EXPECT_EQ(d->init(), QZ_ERROR_AUDIO);
    EXPECT_TRUE(reported("ASIOInit", "QZ_Rts_Asio::init"));
}

TEST_F(Asio, StopFailureIsReportedAndOutputsStillGo) {
    Sim_Config cfg{"Sticky"};
    cfg.failing = {"stop"};
    source.drivers = {cfg};
    QZ_Rts_Asio* d = start_class();
    ASSERT_EQ(d->init(), QZ_OK);
    ASSERT_EQ(d->mode(QZ_Rts::modeAt(d->modes, 0)), QZ_OK);
    EXPECT_EQ(d->free(), QZ_ERROR_AUDIO);
    EXPECT_TRUE(reported("ASIOStop", "QZ_Rts_Asio::free"));
    EXPECT_EQ(d->outputs.count, 0);
    EXPECT_EQ(d->current.load(), nullptr);
}

TEST_F(Asio, MessageHandlerAnswers) {
    const std::int32_t supported[] = {2, 3, 5, 6, 7, 8, 10};
    for (std::int32_t v = -1; v < 20; ++v) {
        const bool yes = std::find(std::begin(supported), std::end(supported), v) != std::end(supported);
        EXPECT_EQ(QZ_Rts_Asio::asioMessage(kAsioSelectorSupported, v, nullptr, nullptr), yes ? 1 : 0) << v;
    }
    const std::uint32_t resets = QZ_Rts_Asio::resetRequests();
    const std::int32_t answers[][2] = {{0, 0}, {2, 2}, {3, 1}, {4, 0}, {5, 1}, {6, 1}, {7, 1}, {8, 0}, {9, 0}, {15, 0}, {99, 0}};
    for (const auto& a : answers) EXPECT_EQ(QZ_Rts_Asio::asioMessage(a[0], 64, nullptr, nullptr), a[1]) << a[0];
    EXPECT_EQ(QZ_Rts_Asio::resetRequests(), resets + 1);
    // No active instance: a stray switch does nothing.
    QZ_Rts_Asio::bufferSwitch(0, ASIOTrue);
    EXPECT_EQ(QZ_Rts_Asio::bufferSwitchTimeInfo(nullptr, 1, ASIOTrue), nullptr);
    EXPECT_EQ(g_blocks, 0);
}

#if defined(_WIN32) && defined(__i386__)
// Windows drivers are called with the MSVC member convention: the object in
// ECX, arguments on the stack, popped by the method. Calling a slot of our
// declaration that way must reach the method with its arguments intact and
// leave the stack balanced (the same test crashes or fails otherwise).
TEST_F(Asio, MethodsUseTheDriversCallingConvention) {
    Sim_Driver* s = new Sim_Driver(Sim_Config{"Conv"});
    IASIO* d = s;
    void** vtable = *reinterpret_cast<void***>(d);
    using Get_Channels = ASIOError(__attribute__((thiscall)) *)(IASIO*, std::int32_t*, std::int32_t*);
    using Can_Rate = ASIOError(__attribute__((thiscall)) *)(IASIO*, double);
    using Release = std::uint32_t(__attribute__((stdcall)) *)(IASIO*);
    std::int32_t in = 0, out = 0;
    EXPECT_EQ(reinterpret_cast<Get_Channels>(vtable[9])(d, &in, &out), ASE_OK);
    EXPECT_EQ(in, 2);
    EXPECT_EQ(out, 2);
    EXPECT_EQ(reinterpret_cast<Can_Rate>(vtable[12])(d, 48000.0), ASE_OK);
    EXPECT_EQ(reinterpret_cast<Can_Rate>(vtable[12])(d, 22050.0), ASE_NoClock);
    EXPECT_EQ(reinterpret_cast<Release>(vtable[2])(d), 0u);
}
#endif

}  // namespace
