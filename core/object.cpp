#include "core/object.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

QZ_value QZ_EMPTY;  // default-constructed: word 0, type 1, length -1

thread_local const char* QZ_specialobject = nullptr;

// ---------------------------------------------------------------- values

std::int32_t QZ_trunc_to_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

std::int32_t QZ_value::as_int() const {
    if (type == QZ_T_FLOAT) return QZ_trunc_to_int(word.f);
    return static_cast<std::int32_t>(as_word());
}

float QZ_value::as_float() const {
    if (type == QZ_T_FLOAT) return word.f;
    return static_cast<float>(static_cast<std::int32_t>(as_word()));
}

std::uint32_t QZ_value::as_word() const {
    if (type == QZ_T_STRING) throw QZ_text_not_number{word.s};
    return word.u;
}

// ---------------------------------------------------------------- descriptors

const QZ_Option* QZ_find_option(const QZ_Class* cls, const char* name, std::size_t len) {
    if (len == 0) {
        for (; cls; cls = cls->parent)
            for (std::size_t k = 0; k < cls->option_count; ++k)
                if (cls->options[k].name[0] == '\0') return &cls->options[k];
        return nullptr;
    }
    // Most names differ in their first letter; the rest is compared only then,
    // stopping at the end of the shorter name.
    const char first = name[0];
    for (; cls; cls = cls->parent) {
        for (std::size_t k = 0; k < cls->option_count; ++k) {
            const char* o = cls->options[k].name;
            if (o[0] != first) continue;
            std::size_t i = 1;
            while (i < len && o[i] != '\0' && o[i] == name[i]) ++i;
            if (i == len && o[len] == '\0') return &cls->options[k];
        }
    }
    return nullptr;
}

bool QZ_class_derives(const QZ_Class* cls, const QZ_Class* base) {
    for (; cls; cls = cls->parent)
        if (cls == base) return true;
    return false;
}

const QZ_Class* QZ_find_class(const QZ_Registry_Entry* registry, const char* name, std::size_t len) {
    for (const QZ_Registry_Entry* e = registry; e && e->name; ++e)
        if (std::strlen(e->name) == len && std::memcmp(e->name, name, len) == 0) return e->cls;
    return nullptr;
}

// ---------------------------------------------------------------- handle table
//
// A handle is (generation << 20) | (slot index + 1). Slots live in pages that are
// never freed, so a lookup from any thread reads valid memory; a stale handle
// meets a different generation (or a null slot) and resolves to nothing.

namespace {
constexpr unsigned kIndexBits = 20;
constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
constexpr unsigned kPageBits = 12;
constexpr std::size_t kPageSize = std::size_t{1} << kPageBits;
constexpr std::size_t kPageCount = (std::size_t{1} << kIndexBits) / kPageSize;

struct Slot {
    std::atomic<QZ_Object*> obj{nullptr};
    std::atomic<std::uint32_t> gen{0};
};

struct HandleTable {
    std::atomic<Slot*> pages[kPageCount] = {};
    std::mutex mutex;
    std::vector<std::uint32_t> free_slots;  // FIFO order keeps generations apart
    std::size_t free_head = 0;
    std::uint32_t next_index = 0;
    std::size_t live = 0;

    Slot* slot(std::uint32_t index) {
        Slot* page = pages[index >> kPageBits].load(std::memory_order_acquire);
        return page ? &page[index & (kPageSize - 1)] : nullptr;
    }

    QZ_handle add(QZ_Object* o) {
        std::lock_guard<std::mutex> lock(mutex);
        std::uint32_t index;
        if (free_head < free_slots.size()) {
            index = free_slots[free_head++];
            if (free_head == free_slots.size()) {
                free_slots.clear();
                free_head = 0;
            }
        } else {
            if (next_index >= kIndexMask) throw std::bad_alloc();
            index = next_index++;
            if (!pages[index >> kPageBits].load(std::memory_order_relaxed))
                pages[index >> kPageBits].store(new Slot[kPageSize], std::memory_order_release);
        }
        Slot* s = slot(index);
        std::uint32_t gen = s->gen.load(std::memory_order_relaxed) + 1;
        if (gen >= (1u << (32 - kIndexBits))) gen = 1;
        s->gen.store(gen, std::memory_order_relaxed);
        s->obj.store(o, std::memory_order_release);
        ++live;
        return (gen << kIndexBits) | (index + 1);
    }

    void remove(QZ_handle h) {
        std::lock_guard<std::mutex> lock(mutex);
        std::uint32_t index = (h & kIndexMask) - 1;
        Slot* s = slot(index);
        if (!s) return;
        s->obj.store(nullptr, std::memory_order_release);
        free_slots.push_back(index);
        --live;
    }

    QZ_Object* find(QZ_handle h) {
        std::uint32_t low = h & kIndexMask;
        if (low == 0) return nullptr;
        Slot* s = slot(low - 1);
        if (!s) return nullptr;
        if (s->gen.load(std::memory_order_acquire) != (h >> kIndexBits)) return nullptr;
        return s->obj.load(std::memory_order_acquire);
    }
};

HandleTable& table() {
    static HandleTable* t = new HandleTable;  // lives to the end of the process
    return *t;
}
}  // namespace

QZ_Object* QZ_object_from_handle(QZ_handle h) { return table().find(h); }

std::size_t QZ_live_object_count() {
    std::lock_guard<std::mutex> lock(table().mutex);
    return table().live;
}

QZ_Object::QZ_Object() : handle_(table().add(this)) {}

QZ_Object::~QZ_Object() { table().remove(handle_); }

QZ_value QZ_Object::m_delete(QZ_Object* obj, QZ_value v) {
    if (!v.present()) delete obj;  // deleting null does nothing
    return QZ_EMPTY;
}

namespace {
const QZ_Option object_options[] = {{"delete", &QZ_Object::m_delete}};
}
const QZ_Class QZ_Object_class = {"QZ_Object", nullptr, object_options, std::size(object_options), nullptr};

// ---------------------------------------------------------------- chain list

QZ_Chain::QZ_Chain() {
    head.next = &tail;
    tail.prev = &head;
}

void QZ_Chain::insert(QZ_Chain_Item* item, QZ_Chain_Item* before) {
    if (!item || item->list) return;
    if (!before || before->list != this) before = &tail;
    item->list = this;
    item->prev = before->prev;
    item->next = before;
    before->prev->next = item;
    before->prev = item;
    ++count;
}

void QZ_Chain::remove(QZ_Chain_Item* item) {
    if (!item || item->list != this) return;
    item->prev->next = item->next;
    item->next->prev = item->prev;
    item->list = nullptr;
    --count;
}
