// Files replaced in one step: the target changes only when the new file is
// complete; failures, interrupts and file-size limits leave no temporary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "core/atomic_file.h"

namespace fs = std::filesystem;

namespace {

// A folder of the test's own, emptied first.
fs::path fresh_dir(const char* name) {
    const fs::path d = fs::path(testing::TempDir()) / name;
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

std::vector<std::string> names_in(const fs::path& d) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(d)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string contents(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

}  // namespace

TEST(AtomicFile, TheTargetChangesOnlyWhenTheNewFileIsComplete) {
    const fs::path d = fresh_dir("atomic_commit");
    const fs::path target = d / "out.dat";
    put(target, "old");
    {
        QZ_Atomic_File f(target.string());
        ASSERT_TRUE(f.ok()) << f.error();
        ASSERT_NE(f.stream(), nullptr);
        std::fputs("new contents", f.stream());
        std::fflush(f.stream());
        // Written so far: into a temporary beside the target, named after it.
        const auto names = names_in(d);
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(names[0], "out.dat");
        EXPECT_EQ(names[1].rfind("out.dat.part", 0), 0u) << names[1];
        EXPECT_EQ(contents(target), "old");
        ASSERT_TRUE(f.commit()) << f.error();
    }
    EXPECT_EQ(names_in(d), std::vector<std::string>{"out.dat"});
    EXPECT_EQ(contents(target), "new contents");

    // A writer that opens the temporary by name; a target that did not exist.
    const fs::path fresh = d / "fresh.dat";
    {
        QZ_Atomic_File f(fresh.string());
        ASSERT_TRUE(f.ok());
        put(f.path(), "by name");
        EXPECT_EQ(f.stream(), nullptr);
        EXPECT_FALSE(fs::exists(fresh));
        ASSERT_TRUE(f.commit());
    }
    EXPECT_EQ(contents(fresh), "by name");
}

TEST(AtomicFile, AnAbandonedOrFailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    const fs::path d = fresh_dir("atomic_abandon");
    const fs::path target = d / "keep.dat";
    put(target, "precious");
    {
        QZ_Atomic_File f(target.string());
        ASSERT_TRUE(f.ok());
        std::fputs("half of it", f.stream());
    }  // never committed
    EXPECT_EQ(names_in(d), std::vector<std::string>{"keep.dat"});
    EXPECT_EQ(contents(target), "precious");
    {
        QZ_Atomic_File f(target.string());
        std::fputs("half", f.stream());
        f.discard();
        EXPECT_FALSE(f.ok());
        EXPECT_FALSE(f.commit());
    }
    EXPECT_EQ(names_in(d), std::vector<std::string>{"keep.dat"});

    // Nothing to make it in, nothing that could be replaced in one step, no name.
    QZ_Atomic_File nowhere((d / "no_such_dir" / "x.dat").string());
    EXPECT_FALSE(nowhere.ok());
    EXPECT_FALSE(nowhere.error().empty());
    EXPECT_FALSE(nowhere.commit());
    fs::create_directory(d / "a_dir");
    QZ_Atomic_File folder((d / "a_dir").string());
    EXPECT_FALSE(folder.ok());
    EXPECT_FALSE(folder.commit());
    EXPECT_TRUE(fs::is_directory(d / "a_dir"));
    QZ_Atomic_File unnamed("");
    EXPECT_FALSE(unnamed.ok());
    EXPECT_EQ(names_in(d), (std::vector<std::string>{"a_dir", "keep.dat"}));
}

TEST(AtomicFile, TemporariesInProgressAreListedForTheSignalHandlers) {
    const fs::path d = fresh_dir("atomic_list");
    static std::vector<std::string> seen;
    seen.clear();
    QZ_Atomic_File a((d / "a").string()), b((d / "b").string());
    ASSERT_TRUE(a.ok() && b.ok());
    QZ_temp_for_each([](const char* name) { seen.push_back(fs::path(name).filename().string()); });
    std::sort(seen.begin(), seen.end());
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].rfind("a.part", 0), 0u);
    EXPECT_EQ(seen[1].rfind("b.part", 0), 0u);
    ASSERT_TRUE(a.commit());
    b.discard();
    seen.clear();
    QZ_temp_for_each([](const char* name) { seen.push_back(name); });
    EXPECT_TRUE(seen.empty());
}

#ifndef _WIN32
namespace {

// A child that starts writing over `target` (after taking the signals, when
// asked) and tells through a pipe that it has, then waits to be ended.
pid_t writer_child(const fs::path& target, bool clean_on_signals) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        if (clean_on_signals) QZ_atomic_files_clean_on_signals();
        QZ_Atomic_File f(target.string());
        std::fputs("unfinished", f.stream());
        std::fflush(f.stream());
        (void)!::write(ready[1], "x", 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char c;
    const bool started = pid > 0 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    return started ? pid : -1;
}

}  // namespace

TEST(AtomicFile, TerminationSignalsRemoveTheTemporaryAndKillingKeepsTheOldFile) {
    const fs::path d = fresh_dir("atomic_signal");
    const fs::path target = d / "song.wav";
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        put(target, "old song");
        const pid_t pid = writer_child(target, true);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(names_in(d).size(), 2u);
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        // Ended by the signal, as without the handler, and only the old file is left.
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
        EXPECT_EQ(names_in(d), std::vector<std::string>{"song.wav"}) << sig;
        EXPECT_EQ(contents(target), "old song");
    }
    // SIGKILL cannot be handled: the temporary stays, the old file is whole.
    const pid_t pid = writer_child(target, true);
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(contents(target), "old song");
    EXPECT_EQ(names_in(d).size(), 2u);
}

TEST(AtomicFile, AFileSizeLimitFailsTheWriteInsteadOfKillingTheProgram) {
    const fs::path d = fresh_dir("atomic_fsize");
    const fs::path target = d / "big.dat";
    put(target, "small");
    const pid_t pid = ::fork();
    if (pid == 0) {
        QZ_atomic_files_clean_on_signals();
        struct rlimit lim{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        int code = 0;
        {
            QZ_Atomic_File f(target.string());
            std::setvbuf(f.stream(), nullptr, _IONBF, 0);
            const std::string block(1024, 'x');
            bool failed = false;
            for (int i = 0; i < 16 && !failed; ++i) failed = std::fwrite(block.data(), 1, block.size(), f.stream()) != block.size();
            code = failed && errno == EFBIG ? 0 : 3;
        }  // not committed: the temporary goes
        ::_exit(code);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(names_in(d), std::vector<std::string>{"big.dat"});
    EXPECT_EQ(contents(target), "small");
}
#endif
