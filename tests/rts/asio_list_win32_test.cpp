// The ASIO driver list on the registry and COM, end to end: the test writes
// driver entries into the registry (HKLM\SOFTWARE\ASIO and HKCR\CLSID) with the
// test driver module built beside this program, and the ASIO sound driver finds,
// creates, runs and releases it as an installed driver.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "rts/asio_driver.h"
#include "rts/asio_list.h"
#include "tests/rts/asio_com_driver.h"

namespace {

std::vector<std::string> g_reports;
int record_report(const char* text, const char*) {
    g_reports.push_back(text);
    return QZ_IDOK;
}

std::atomic<int> g_blocks{0};

// A host's block: input j copied into output j.
void copy_through() {
    g_blocks.fetch_add(1);
    QZ_Rts* d = QZ_Rts_Asio::active();
    if (!d) return;
    for (int j = 0;; ++j) {
        QZ_Rts::Chan* in = QZ_Rts::chanAt(d->inputs, j);
        QZ_Rts::Chan* out = QZ_Rts::chanAt(d->outputs, j);
        if (!in || !out) break;
        QZ_Rts::copyBuffer(out, in);
    }
}

bool set_string(HKEY root, const std::string& key, const char* value, const std::string& data,
                DWORD type = REG_SZ) {
    HKEY k = nullptr;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG r = RegSetValueExA(k, value, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                  static_cast<DWORD>(data.size() + 1));
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

std::string beside_this_program(const char* file) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p = path;
    return p.substr(0, p.find_last_of("\\/") + 1) + file;
}

// The driver is installed deep below %TEMP%: its path is longer than the 128
// characters an OFSTRUCT holds.
const char kDeepFolder[] = "\\zelo asio test driver installed in a folder with a long name";
const char kDeeperFolder[] = "\\and in a folder below that one whose name is not short either";

std::string temp_folder() {
    char t[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableA("TEMP", t, sizeof t);
    return n > 0 && n < sizeof t ? t : "";
}

const char* const kEntries[] = {"ZeloTest", "ZeloPlain", "ZeloRefused", "ZeloMissingModule", "ZeloUnregistered"};
const char* const kClasses[] = {ZELO_TEST_DRIVER_CLSID, ZELO_REFUSED_DRIVER_CLSID, ZELO_MISSING_MODULE_CLSID};

class AsioRegistry : public ::testing::Test {
protected:
    std::string built = beside_this_program(ZELO_ASIO_TEST_DRIVER_FILE);
    std::string deep = temp_folder() + kDeepFolder;
    std::string deeper = deep + kDeeperFolder;
    std::string module = deeper + "\\" + ZELO_ASIO_TEST_DRIVER_FILE;
    HMODULE held = nullptr;
    Zelo_Test_Driver_Stats_Fn stats_fn = nullptr;
    QZ_message_box_fn old_box = nullptr;

    static void forget() {
        for (const char* e : kEntries) RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string("SOFTWARE\\ASIO\\") + e).c_str());
        for (const char* c : kClasses) RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + c).c_str());
    }

    void SetUp() override {
        forget();
        ASSERT_FALSE(temp_folder().empty());
        ASSERT_GE(module.size(), 128u);
        CreateDirectoryA(deep.c_str(), nullptr);
        CreateDirectoryA(deeper.c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(built.c_str(), module.c_str(), FALSE)) << module;
        // Kept loaded by the test too, so that its counters outlive COM's use.
        held = LoadLibraryA(module.c_str());
        ASSERT_NE(held, nullptr) << module;
        stats_fn = reinterpret_cast<Zelo_Test_Driver_Stats_Fn>(
            reinterpret_cast<void*>(GetProcAddress(held, "zelo_test_driver_stats")));
        ASSERT_NE(stats_fn, nullptr);
        const std::string clsid = "CLSID\\";
        const std::string asio = "SOFTWARE\\ASIO\\";
        // Written as installers write them: capitalised value names.
        ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, clsid + ZELO_TEST_DRIVER_CLSID, nullptr, "Zelo Test Driver"));
        ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, clsid + ZELO_TEST_DRIVER_CLSID + "\\InprocServer32", nullptr, module));
        ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, clsid + ZELO_TEST_DRIVER_CLSID + "\\InprocServer32",
                               "ThreadingModel", "Apartment"));
        // The same module, named as some installers do: through a variable.
        ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, clsid + ZELO_REFUSED_DRIVER_CLSID + "\\InprocServer32", nullptr,
                               std::string("%TEMP%") + kDeepFolder + kDeeperFolder + "\\" + ZELO_ASIO_TEST_DRIVER_FILE,
                               REG_EXPAND_SZ));
        ASSERT_TRUE(set_string(HKEY_CLASSES_ROOT, clsid + ZELO_MISSING_MODULE_CLSID + "\\InprocServer32", nullptr,
                               beside_this_program("zelo_no_such_driver.dll")));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, asio + "ZeloTest", "CLSID", ZELO_TEST_DRIVER_CLSID));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, asio + "ZeloTest", "Description", "Zelo Test Driver"));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, asio + "ZeloPlain", "CLSID", ZELO_TEST_DRIVER_CLSID));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, asio + "ZeloRefused", "CLSID", ZELO_REFUSED_DRIVER_CLSID));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, asio + "ZeloMissingModule", "CLSID", ZELO_MISSING_MODULE_CLSID));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, asio + "ZeloUnregistered", "CLSID", ZELO_UNREGISTERED_CLSID));
        ASSERT_TRUE(set_string(HKEY_LOCAL_MACHINE, asio + "ZeloUnregistered", "Description", "Zelo Unregistered"));
        old_box = QZ_set_message_box(&record_report);
        g_reports.clear();
        g_blocks = 0;
    }
    void TearDown() override {
        QZ_Rts_Asio::classExit();
        QZ_set_message_box(old_box);
        forget();
        if (held) FreeLibrary(held);
        DeleteFileA(module.c_str());
        RemoveDirectoryA(deeper.c_str());
        RemoveDirectoryA(deep.c_str());
    }

    Zelo_Test_Driver_Stats stats() const {
        Zelo_Test_Driver_Stats s{};
        stats_fn(&s);
        return s;
    }
    static QZ_Rts_Asio* instance(const char* name) {
        for (int n = 0; QZ_Rts* d = QZ_Rts::instanceAt(n); ++n)
            if (std::string(d->name) == name) return static_cast<QZ_Rts_Asio*>(d);
        return nullptr;
    }
    static bool reported(const char* call) {
        for (const std::string& r : g_reports)
            if (r.find(call) != std::string::npos) return true;
        return false;
    }

    // Runs a mode until the driver's thread has called 40 blocks, then stops it.
    void run(QZ_Rts_Asio* d, QZ_Rts::Mode* m) {
        const Zelo_Test_Driver_Stats before = stats();
        g_blocks = 0;
        ASSERT_EQ(d->mode(m), QZ_OK) << m->name;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (g_blocks.load() < 40 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(g_blocks.load(), 40) << m->name;
        ASSERT_EQ(d->free(), QZ_OK);
        const int blocks = g_blocks.load();
        const Zelo_Test_Driver_Stats after = stats();
        EXPECT_EQ(after.ticking, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(g_blocks.load(), blocks) << "a block after the stop";
        // Every switch of the driver's thread reached the host while running,
        // alternating halves, and what came back was the input copied through.
        EXPECT_EQ(after.switches - before.switches, blocks);
        const int h0 = after.halves[0] - before.halves[0], h1 = after.halves[1] - before.halves[1];
        EXPECT_LE(std::abs(h0 - h1), 1) << h0 << " / " << h1;
        EXPECT_EQ(after.mismatches, 0);
        EXPECT_EQ(after.disposals - before.disposals, 1) << "the driver's buffers are given back";
        EXPECT_EQ(d->outputs.count, 0);
    }
};

}  // namespace

TEST_F(AsioRegistry, RegisteredDriverIsCreatedRunAndReleased) {
    ASSERT_EQ(QZ_Rts_Asio::classInit(&copy_through), QZ_OK);
    // Listed: entries whose class is registered with a module that exists (at a
    // long path, or one through a variable), named by their description or else
    // their key. Not listed: the others.
    QZ_Rts_Asio* d = instance("Zelo Test Driver");
    ASSERT_NE(d, nullptr);
    EXPECT_NE(instance("ZeloPlain"), nullptr);
    EXPECT_NE(instance("ZeloRefused"), nullptr);
    EXPECT_EQ(instance("ZeloMissingModule"), nullptr);
    EXPECT_EQ(instance("Zelo Unregistered"), nullptr);
    EXPECT_EQ(instance("ZeloUnregistered"), nullptr);
    EXPECT_EQ(stats().created, 0) << "listing creates no driver";

    ASSERT_EQ(d->init(), QZ_OK) << (g_reports.empty() ? "" : g_reports.back());
    EXPECT_EQ(stats().created, 1);
    EXPECT_EQ(stats().inits, 1);
    EXPECT_STREQ(QZ_asio_driver_info().name, "Zelo Test Driver");
    ASSERT_EQ(d->modes.count, 2);
    QZ_Rts::Mode* m48 = QZ_Rts::modeAt(d->modes, 0);
    QZ_Rts::Mode* m44 = QZ_Rts::modeAt(d->modes, 1);
    EXPECT_EQ(m48->rate, 48000);
    EXPECT_EQ(m44->rate, 44100);
    EXPECT_EQ(m48->block, 64);
    EXPECT_EQ(m48->channels, 2);
    ASSERT_EQ(d->inputs.count, 2);
    EXPECT_STREQ(QZ_Rts::chanAt(d->inputs, 0)->name, "In 1");

    run(d, m48);
    run(d, m44);  // buffers created anew after the first run gave them back

    EXPECT_EQ(d->exit(), QZ_OK);
    const Zelo_Test_Driver_Stats s = stats();
    EXPECT_EQ(s.alive, 0) << "the driver object was never released";
    std::printf("driver: %d switches (%d + %d halves), %d objects made\n", s.switches, s.halves[0], s.halves[1],
                s.created);
    EXPECT_TRUE(g_reports.empty());
}

TEST_F(AsioRegistry, DriverThatCannotBeCreatedFailsAtInitAndTheNextOneRuns) {
    ASSERT_EQ(QZ_Rts_Asio::classInit(&copy_through), QZ_OK);
    QZ_Rts_Asio* refused = instance("ZeloRefused");
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->init(), QZ_ERROR_AUDIO);
    EXPECT_TRUE(reported("ASIOInit"));
    EXPECT_EQ(refused->modes.count, 0);
    EXPECT_EQ(refused->exit(), QZ_OK);

    // An entry that was not listed, asked for by name: the same clear failure.
    QZ_Rts_Asio unlisted("Zelo Unregistered");
    g_reports.clear();
    EXPECT_EQ(unlisted.init(), QZ_ERROR_AUDIO);
    EXPECT_TRUE(reported("ASIOInit"));
    EXPECT_EQ(unlisted.exit(), QZ_OK);

    // The driver after them loads and runs.
    QZ_Rts_Asio* plain = instance("ZeloPlain");
    ASSERT_NE(plain, nullptr);
    ASSERT_EQ(plain->init(), QZ_OK);
    run(plain, QZ_Rts::modeAt(plain->modes, 0));
    EXPECT_EQ(plain->exit(), QZ_OK);
    EXPECT_EQ(stats().alive, 0);
}

// A host thread already in COM's multithreaded apartment: the list cannot start
// COM there, and must then not end it either.
TEST_F(AsioRegistry, ListLeavesTheHostsComAsItFoundIt) {
    std::thread host([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            AsioDriverList list;
            EXPECT_GE(list.count(), 3);
        }
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "COM was ended under the host";
        CoUninitialize();
        CoUninitialize();
    });
    host.join();
}
