// Object model: values, objects, class descriptors, the class registry, handles,
// chain lists and the application template.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/error.h"

class QZ_Object;

// A 32-bit word that names a live object in command text and in values; 0 is null.
using QZ_handle = std::uint32_t;

// Type codes of QZ_value.
enum : std::int32_t {
    QZ_T_NOTHING = 0,
    QZ_T_EMPTY = 1,
    QZ_T_INT = 2,
    QZ_T_FLOAT = 3,
    QZ_T_STRING = 4,
    QZ_T_OBJECT = 5,
};

// The value record that option handlers receive and return.
class QZ_value {
public:
    // The value word. Integers, floats, handles and raw hexadecimal words use the
    // 32-bit members; text and data blocks need a pointer.
    union Word {
        std::int32_t i;
        std::uint32_t u;
        float f;
        const char* s;
        const void* p;
    };

    Word word;
    std::int32_t type;
    std::int32_t length;  // -1, or the byte length of a data block of type 5

    QZ_value() : word{}, type(QZ_T_EMPTY), length(-1) { word.p = nullptr; }
    QZ_value(const QZ_value&) = default;
    QZ_value& operator=(const QZ_value&) = default;
    virtual ~QZ_value() = default;

    // Notification that widgets call on the value bound to them.
    virtual void changed(QZ_Object* /*about*/) {}
    // A user's gesture on the widget bound to it begins or ends (a knob taken
    // and let go, a switch clicked), around the changes it makes: hosts record
    // automation in between.
    virtual void gesture(bool /*begin*/, QZ_Object* /*about*/) {}

    // Inline: the interpreter makes several per command. A 32-bit word is
    // written as the whole union at once: a later read of the whole word then
    // takes it straight from the store, not after both halves have landed.
    static Word word32(std::uint32_t u) {
        Word w;
        if constexpr (sizeof(Word) == sizeof(std::uint64_t)) {
            const std::uint64_t b = std::endian::native == std::endian::little ? u : std::uint64_t{u} << 32;
            std::memcpy(&w, &b, sizeof w);
        } else {
            std::memcpy(&w, &u, sizeof w);
        }
        return w;
    }
    static QZ_value nothing() {
        QZ_value v;
        v.type = QZ_T_NOTHING;
        return v;
    }
    static QZ_value empty() { return QZ_value(); }
    static QZ_value integer(std::int32_t x) {
        QZ_value v;
        v.word = word32(static_cast<std::uint32_t>(x));
        v.type = QZ_T_INT;
        return v;
    }
    static QZ_value real(float x) {
        QZ_value v;
        v.word = word32(std::bit_cast<std::uint32_t>(x));
        v.type = QZ_T_FLOAT;
        return v;
    }
    static QZ_value text(const char* s) {
        QZ_value v;
        v.word.s = s;
        v.type = QZ_T_STRING;
        return v;
    }
    static QZ_value object(QZ_handle h) {
        QZ_value v;
        v.word = word32(h);
        v.type = QZ_T_OBJECT;
        return v;
    }
    static QZ_value data(const void* p, std::int32_t length) {
        QZ_value v;
        v.word.p = p;
        v.type = QZ_T_OBJECT;
        v.length = length;
        return v;
    }

    // A value is present when its type code is above 1.
    bool present() const { return type > QZ_T_EMPTY; }

    // The number conversions below are the only way handlers read a number. A
    // text has none (its word is an address), so on a text they throw
    // QZ_text_not_number before the handler has changed anything; the
    // interpreter turns that into a refusal of the option.

    // Integer conversion of the handler contract: an integer unchanged, a float
    // truncated toward zero (saturated, NaN gives 0), any other word as it is.
    std::int32_t as_int() const;
    // Float reading: a float unchanged, an integer converted, any other word
    // reinterpreted as an integer and converted.
    float as_float() const;
    // The 32-bit word of a number or handle (object options store it as it is).
    std::uint32_t as_word() const;
};

// Thrown by QZ_value's number conversions when the value is a text.
struct QZ_text_not_number {
    const char* text;  // the word, valid while the command runs
};

extern QZ_value QZ_EMPTY;

// Saturating float-to-int32 truncation toward zero; NaN gives 0.
std::int32_t QZ_trunc_to_int(double v);

// Option handler and constructor function of a registered class.
using QZ_handler = QZ_value (*)(QZ_Object* obj, QZ_value v);
using QZ_constructor = QZ_Object* (*)();

struct QZ_Option {
    const char* name;  // without its leading dash
    QZ_handler handler;
};

// Class descriptor: constructor (null for an abstract class), own options in
// declaration order, parent descriptor (null for the root).
struct QZ_Class {
    const char* name;
    QZ_constructor create;
    const QZ_Option* options;
    std::size_t option_count;
    const QZ_Class* parent;
};

// Row of the class registry.
struct QZ_Registry_Entry {
    const char* name;
    const QZ_Class* cls;
};

// The constant class registry, ended by a row of two nulls. It is defined once per
// program by the registry library, holding the classes that program links.
extern "C" const QZ_Registry_Entry __QZ[];

// Finds an option from a descriptor, continuing into the parents; null if none.
const QZ_Option* QZ_find_option(const QZ_Class* cls, const char* name, std::size_t name_len);
// True when cls is base or derives from it.
bool QZ_class_derives(const QZ_Class* cls, const QZ_Class* base);
// Registry lookup by full class name; null if absent.
const QZ_Class* QZ_find_class(const QZ_Registry_Entry* registry, const char* name, std::size_t name_len);

// The word that followed the class name in the command being interpreted, or
// null; constructors read it. One per thread, so that independent plug-in
// instances may be built on different host threads.
extern thread_local const char* QZ_specialobject;

// Root of every registered class. Construction registers the object in the table
// of live objects; destruction clears its entry, so its handle resolves to nothing.
class QZ_Object {
public:
    QZ_Object();
    QZ_Object(const QZ_Object&) = delete;
    QZ_Object& operator=(const QZ_Object&) = delete;
    virtual ~QZ_Object();

    const QZ_Class* descriptor = nullptr;  // set by the interpreter after construction
    std::string command;                   // the creating command, for information

    QZ_handle handle() const { return handle_; }

    static QZ_value m_delete(QZ_Object* obj, QZ_value v);

private:
    QZ_handle handle_;
};

extern const QZ_Class QZ_Object_class;

// Handle table. Lookups take no lock; creation and deletion are serialised.
QZ_Object* QZ_object_from_handle(QZ_handle h);
inline QZ_handle QZ_handle_of(const QZ_Object* o) { return o ? o->handle() : 0; }
template <class T>
T* QZ_object_as(QZ_handle h) {
    return dynamic_cast<T*>(QZ_object_from_handle(h));
}
std::size_t QZ_live_object_count();

// Intrusive doubly linked list.
struct QZ_Chain;
struct QZ_Chain_Item {
    QZ_Chain_Item* prev = nullptr;
    QZ_Chain_Item* next = nullptr;
    void* data;
    QZ_Chain* list = nullptr;

    explicit QZ_Chain_Item(void* d = nullptr) : data(d) {}
    QZ_Chain_Item(const QZ_Chain_Item&) = delete;
    QZ_Chain_Item& operator=(const QZ_Chain_Item&) = delete;
};

struct QZ_Chain {
    QZ_Chain_Item head;
    QZ_Chain_Item tail;
    int count = 0;

    QZ_Chain();
    QZ_Chain(const QZ_Chain&) = delete;
    QZ_Chain& operator=(const QZ_Chain&) = delete;

    // Links item before `before` (or at the end when null); nothing if already linked.
    void insert(QZ_Chain_Item* item, QZ_Chain_Item* before = nullptr);
    // Unlinks item if it belongs to this list; its own links are left as they were.
    void remove(QZ_Chain_Item* item);

    QZ_Chain_Item* first() const { return head.next; }
    const QZ_Chain_Item* end() const { return &tail; }
};

class QZ_Win;

// Application template: an effect application builds its objects, attaches its
// widgets to a window and back, and may keep its state as a chunk.
class QZ_Apptpl {
public:
    QZ_Apptpl() = default;
    virtual QZ_error build() = 0;
    virtual QZ_error attach(QZ_Win* window) = 0;
    virtual QZ_error detach() = 0;
    virtual QZ_error destroy() = 0;
    virtual int usesChunks() { return 0; }
    virtual QZ_value saveState() { return QZ_EMPTY; }
    virtual void loadState(QZ_value) {}
    virtual ~QZ_Apptpl() = default;
};
