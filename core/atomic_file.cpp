#include "core/atomic_file.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <cerrno>
#include <cstring>

namespace {

// Slots a signal handler can walk: a name is copied in before its slot is
// marked live, and a slot is freed before its name is reused.
constexpr int kSlots = 32;
constexpr std::size_t kNameMax = 4096;
enum : int { kFree = 0, kClaimed = 1, kLive = 2 };
struct Slot {
    std::atomic<int> state{kFree};
    char name[kNameMax];
};
Slot g_slots[kSlots];
std::atomic<bool> g_cancelled{false};

}  // namespace

int QZ_temp_register(const std::string& name) {
    if (name.size() >= kNameMax) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kClaimed)) continue;
        std::memcpy(g_slots[i].name, name.c_str(), name.size() + 1);
        g_slots[i].state.store(kLive);
        return i;
    }
    return -1;
}

void QZ_temp_unregister(int slot) {
    if (slot >= 0 && slot < kSlots) g_slots[slot].state.store(kFree);
}

void QZ_temp_for_each(void (*fn)(const char* name)) {
    for (Slot& s : g_slots)
        if (s.state.load() == kLive) fn(s.name);
}

int QZ_temp_live_count() {
    int n = 0;
    for (const Slot& s : g_slots) n += s.state.load() == kLive;
    return n;
}

void QZ_atomic_files_cancel() { g_cancelled = true; }

void QZ_atomic_files_interrupt() {
    QZ_atomic_files_cancel();
    for (int i = 0; i < 200 && QZ_temp_live_count() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
bool QZ_atomic_files_cancelled() { return g_cancelled; }

QZ_Atomic_File::QZ_Atomic_File(const std::string& target) : target_(target) {
    if (target.empty()) {
        error_ = "no file name";
        return;
    }
    if (QZ_not_a_plain_file(target.c_str())) {
        error_ = "not a regular file";
        return;
    }
    errno = 0;
    stream_ = QZ_open_temp_beside(target.c_str(), &temp_);
    if (!stream_) {
        temp_.clear();
        error_ = errno ? std::strerror(errno) : "cannot create a file there";
        return;
    }
    slot_ = QZ_temp_register(temp_);
}

QZ_Atomic_File::~QZ_Atomic_File() { discard(); }

const std::string& QZ_Atomic_File::path() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    return temp_;
}

void QZ_Atomic_File::discard() {
    if (stream_) std::fclose(stream_);
    stream_ = nullptr;
    if (!temp_.empty()) std::remove(temp_.c_str());
    temp_.clear();
    QZ_temp_unregister(slot_);
    slot_ = -1;
}

bool QZ_Atomic_File::commit() {
    if (temp_.empty()) {
        if (error_.empty()) error_ = "nothing to put in place";
        return false;
    }
    errno = 0;
    bool done = true;
    if (stream_) {
        done = std::fclose(stream_) == 0;
        stream_ = nullptr;
    }
    if (done) done = QZ_replace_file(temp_, target_.c_str());
    if (!done) {
        error_ = errno ? std::strerror(errno) : "cannot put the file in place";
        discard();
        return false;
    }
    temp_.clear();
    QZ_temp_unregister(slot_);
    slot_ = -1;
    return true;
}
