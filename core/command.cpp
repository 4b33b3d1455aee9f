#include "core/command.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace {

// ---------------------------------------------------------------- automaton

// Character classes: 0 other, 1 sign, 2 '0', 3 '1'-'9', 4 '.', 5 'e'/'E', 6 'x'/'X',
// 7 'a'-'d','f','A'-'D','F', 8 terminator (space or zero byte).
struct ClassTable {
    unsigned char cls[256];
    ClassTable() {
        for (int c = 0; c < 256; ++c) cls[c] = 0;
        cls[static_cast<unsigned char>('+')] = cls[static_cast<unsigned char>('-')] = 1;
        cls[static_cast<unsigned char>('0')] = 2;
        for (int c = '1'; c <= '9'; ++c) cls[c] = 3;
        cls[static_cast<unsigned char>('.')] = 4;
        cls[static_cast<unsigned char>('e')] = cls[static_cast<unsigned char>('E')] = 5;
        cls[static_cast<unsigned char>('x')] = cls[static_cast<unsigned char>('X')] = 6;
        for (int c = 'a'; c <= 'd'; ++c) cls[c] = cls[c - 'a' + 'A'] = 7;
        cls[static_cast<unsigned char>('f')] = cls[static_cast<unsigned char>('F')] = 7;
        cls[static_cast<unsigned char>(' ')] = cls[0] = 8;
    }
};

const ClassTable& char_classes() {
    static const ClassTable table;  // built on first use
    return table;
}

constexpr unsigned char kNext[12][9] = {
    {11, 1, 2, 5, 7, 11, 11, 11, 11},      // 0 start
    {11, 11, 6, 6, 7, 11, 11, 11, 11},     // 1 sign
    {11, 11, 5, 5, 7, 8, 3, 11, 5},        // 2 leading zero
    {11, 11, 4, 4, 11, 4, 11, 4, 11},      // 3 after "0x"
    {11, 11, 4, 4, 11, 4, 11, 4, 4},       // 4 hex digits
    {11, 11, 5, 5, 7, 8, 11, 11, 5},       // 5 unsigned digits
    {11, 11, 6, 6, 7, 8, 11, 11, 6},       // 6 signed digits
    {11, 11, 7, 7, 11, 8, 11, 11, 7},      // 7 fraction
    {11, 9, 10, 10, 11, 11, 11, 11, 11},   // 8 after exponent mark
    {11, 11, 10, 10, 11, 11, 11, 11, 11},  // 9 exponent sign
    {11, 11, 10, 10, 11, 11, 11, 11, 7},   // 10 exponent digits
    {11, 11, 11, 11, 11, 11, 11, 11, 11},  // 11 not a number
};

int final_state(const char* w, std::size_t len) {
    const ClassTable& t = char_classes();
    int state = 0;
    for (std::size_t k = 0; k < len; ++k) state = kNext[state][t.cls[static_cast<unsigned char>(w[k])]];
    return kNext[state][8];
}

// Decimal and hexadecimal words are read modulo 2^32, the same on every platform.
std::uint32_t read_decimal(const char* w, std::size_t len) {
    std::size_t k = 0;
    bool neg = false;
    if (k < len && (w[k] == '+' || w[k] == '-')) neg = w[k++] == '-';
    std::uint32_t v = 0;
    for (; k < len && w[k] >= '0' && w[k] <= '9'; ++k) v = v * 10u + static_cast<std::uint32_t>(w[k] - '0');
    return neg ? 0u - v : v;
}

std::uint32_t read_hex(const char* w, std::size_t len) {
    std::uint32_t v = 0;
    for (std::size_t k = 2; k < len; ++k) {
        char c = w[k];
        unsigned d = (c >= '0' && c <= '9')   ? unsigned(c - '0')
                     : (c >= 'a' && c <= 'f') ? unsigned(c - 'a' + 10)
                                              : unsigned(c - 'A' + 10);
        v = (v << 4) | d;
    }
    return v;
}

float narrow(double d) {
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        return d > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

// Locale-independent, so that a host's locale cannot change what "1.5" means.
float read_float(const char* w, std::size_t len) {
    const char* b = w;
    const char* e = w + len;
    if (b < e && *b == '+') ++b;
    double d = 0.0;
    auto r = std::from_chars(b, e, d);
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond double: estimate the decimal magnitude to choose infinity or zero.
        bool neg = *b == '-';
        const char* p = b + (neg ? 1 : 0);
        long mag = 0;
        bool seen = false;
        for (; p < e && *p >= '0' && *p <= '9'; ++p)
            if (seen || *p != '0') {
                seen = true;
                ++mag;
            }
        if (p < e && *p == '.') {
            for (++p; p < e && *p >= '0' && *p <= '9'; ++p) {
                if (seen) continue;
                --mag;
                if (*p != '0') seen = true;
            }
        }
        long ex = 0;
        if (p < e && (*p == 'e' || *p == 'E')) {
            ++p;
            bool eneg = p < e && *p == '-';
            if (p < e && (*p == '-' || *p == '+')) ++p;
            for (; p < e && *p >= '0' && *p <= '9'; ++p) ex = ex < 100000 ? ex * 10 + (*p - '0') : ex;
            if (eneg) ex = -ex;
        }
        d = (mag + ex > 0) ? HUGE_VAL : 0.0;
        if (neg) d = -d;
    } else if (r.ec != std::errc()) {
        d = 0.0;  // a word no conversion can read (".") yields 0
    }
    return narrow(d);
}

// ---------------------------------------------------------------- interpreter

struct Item {
    QZ_value v;
    bool option = false;    // an option word (type 1 with a name)
    std::size_t name = 0;   // offset of the option name (after the dash)
    std::size_t start = 0;  // offset of the word in the command
    std::size_t len = 0;
};

// A word copied out with its zero byte, for messages.
struct Word {
    char text[256];
    Word(const char* p, std::size_t n) {
        n = n < sizeof text ? n : sizeof text - 1;
        std::memcpy(text, p, n);
        text[n] = '\0';
    }
};

class Interpreter {
public:
    // args: the caller's own list, read in place (va_arg through a pointer to
    // a va_list object is what the language allows without a copy).
    Interpreter(const QZ_Registry_Entry* registry, int flags, const char* command, char* result,
                int* capacity, va_list* args)
        : registry_(registry), flags_(flags), cmd_(command), result_(result), capacity_ptr_(capacity),
          args_(args) {}

    QZ_error run();

private:
    const QZ_Registry_Entry* registry_;
    int flags_;
    const char* cmd_;
    // Words are read where they stand, by offset and length. A text word's value
    // must end in a zero byte, so the first one makes a copy of the command
    // (never the caller's text is changed) and words are read from the copy from
    // then on. Commands that a sound thread may send ("%o -bl %i") have no text
    // words and would fit the fixed buffer anyway, so running them allocates nothing.
    char small_[256];
    std::string large_;
    char* copy_ = nullptr;
    const char* src_ = nullptr;
    char* result_;
    int* capacity_ptr_;
    int capacity_ = 0;
    long long written_ = 0;
    int results_ = 0;
    va_list* args_;
    std::size_t pos_ = 0;
    bool last_ = false;

    bool text_form() const { return flags_ & QZ_CMD_TEXT; }

    // The word [b, e) as a zero-ended text in the copy.
    const char* text_word(std::size_t b, std::size_t e) {
        if (!copy_) {
            const std::size_t len = std::strlen(cmd_);
            if (len < sizeof small_) {
                std::memcpy(small_, cmd_, len + 1);
                copy_ = small_;
            } else {
                large_.assign(cmd_, len + 1);
                copy_ = large_.data();
            }
            src_ = copy_;
        }
        copy_[e] = '\0';
        return copy_ + b;
    }
    bool ref_form() const { return flags_ & QZ_CMD_REFERENCE; }

    void read_item(Item& it);
    void append(const char* s, std::size_t n);
    void append_value(const QZ_value& v);
    void store(const QZ_value& v);
    QZ_error refuse(QZ_error code, const char* fmt, const char* arg);
    QZ_error refuse_handle(QZ_error code, const char* fmt, QZ_handle h, const char* arg);
};

// Fills `it` in place (returning an item would copy it once more per word).
void Interpreter::read_item(Item& it) {
    it.option = false;
    it.name = 0;
    std::size_t b = pos_, e = pos_;
    while (src_[e] != ' ' && src_[e] != '\0') ++e;
    last_ = src_[e] == '\0';
    pos_ = last_ ? e : e + 1;
    it.start = b;
    it.len = e - b;
    const char* w = src_ + b;
    std::size_t len = e - b;

    if (len > 0 && w[0] == '%') {
        char c = len == 2 ? w[1] : '\0';
        switch (c) {
            case 'i': it.v = QZ_value::integer(va_arg(*args_, int)); break;
            case 'f': it.v = QZ_value::real(narrow(va_arg(*args_, double))); break;
            case 's': it.v = QZ_value::text(va_arg(*args_, const char*)); break;
            case 'o': it.v = QZ_value::object(va_arg(*args_, unsigned int)); break;
            default: it.v = QZ_value::nothing(); break;
        }
        if (it.v.type == QZ_T_STRING && !it.v.word.s) it.v.word.s = "";
        return;
    }
    // "-name": a dash before anything but a digit or a point is an option
    // whatever follows, so the number automaton is not needed for it.
    if (w[0] == '-' && (len == 1 || !((w[1] >= '0' && w[1] <= '9') || w[1] == '.'))) {
        it.v = QZ_value::empty();
        it.option = true;
        it.name = b + 1;
        return;
    }
    switch (final_state(w, len)) {
        case 5:
        case 6: it.v = QZ_value::integer(static_cast<std::int32_t>(read_decimal(w, len))); break;
        case 7: it.v = QZ_value::real(read_float(w, len)); break;
        case 4: it.v = QZ_value::object(read_hex(w, len)); break;
        default:
            if (len > 0 && w[0] == '-') {
                it.v = QZ_value::empty();
                it.option = true;
                it.name = b + 1;
            } else {
                it.v = QZ_value::text(text_word(b, e));
            }
            break;
    }
}

void Interpreter::append(const char* s, std::size_t n) {
    if (results_++ > 0) {
        if (written_ < capacity_) result_[written_] = ' ';
        ++written_;
    }
    for (std::size_t k = 0; k < n; ++k, ++written_)
        if (written_ < capacity_) result_[written_] = s[k];
}

void Interpreter::append_value(const QZ_value& v) {
    char tmp[64];
    switch (v.type) {
        case QZ_T_INT: {
            int n = std::snprintf(tmp, sizeof tmp, "%d", v.word.i);
            append(tmp, static_cast<std::size_t>(n));
            break;
        }
        case QZ_T_FLOAT: {
            auto r = std::to_chars(tmp, tmp + sizeof tmp, v.word.f, std::chars_format::fixed, 6);
            if (r.ec != std::errc()) {
                append("inf", 3);  // cannot happen for finite floats; infinities print as words
            } else {
                append(tmp, static_cast<std::size_t>(r.ptr - tmp));
            }
            break;
        }
        case QZ_T_STRING: {
            const char* s = v.word.s ? v.word.s : "";
            append(s, std::strlen(s));
            break;
        }
        case QZ_T_OBJECT:
            if (v.length == -1) {
                int n = std::snprintf(tmp, sizeof tmp, "0x%X", v.word.u);
                append(tmp, static_cast<std::size_t>(n));
            } else if (v.length > 0 && v.word.p) {
                append(static_cast<const char*>(v.word.p), static_cast<std::size_t>(v.length));
            } else {
                append("", 0);
            }
            break;
        default: break;  // nothing and empty append nothing
    }
}

void Interpreter::store(const QZ_value& v) {
    void* ref = va_arg(*args_, void*);
    if (!ref) return;
    if (v.type == QZ_T_STRING)
        *static_cast<const char**>(ref) = v.word.s;
    else if (v.type == QZ_T_OBJECT && v.length != -1)
        *static_cast<const void**>(ref) = v.word.p;
    else
        *static_cast<std::uint32_t*>(ref) = v.word.u;
}

QZ_error Interpreter::refuse(QZ_error code, const char* fmt, const char* arg) {
    std::printf("spcpp: %s\n", cmd_);
    std::fputs("spcpp: ", stdout);
    std::printf(fmt, arg);
    std::fputc('\n', stdout);
    return code;
}

QZ_error Interpreter::refuse_handle(QZ_error code, const char* fmt, QZ_handle h, const char* arg) {
    std::printf("spcpp: %s\n", cmd_);
    std::fputs("spcpp: ", stdout);
    std::printf(fmt, h, arg);
    std::fputc('\n', stdout);
    return code;
}

QZ_error Interpreter::run() {
    if (text_form()) {
        capacity_ = (capacity_ptr_ && result_ && *capacity_ptr_ > 0) ? *capacity_ptr_ : 0;
        if (capacity_ > 0) std::memset(result_, 0, static_cast<std::size_t>(capacity_));
    }
    auto finish = [&](QZ_error code) {
        if (text_form() && capacity_ptr_)
            *capacity_ptr_ = static_cast<int>(written_ > INT32_MAX ? INT32_MAX : written_);
        return code;
    };

    if (!cmd_) cmd_ = "";
    src_ = cmd_;

    // The first word names a class, or is a placeholder that starts the items.
    std::size_t first_end = 0;
    while (src_[first_end] != ' ' && src_[first_end] != '\0') ++first_end;
    const QZ_Class* cls = nullptr;
    bool class_named = false;
    if (src_[0] == '%') {
        pos_ = 0;
    } else {
        cls = QZ_find_class(registry_, src_, first_end);
        if (!cls) {
            std::printf("spcpp: command '%s' not found\n", cmd_);
            return finish(QZ_ERROR_COMMAND_NOT_FOUND);
        }
        class_named = true;
        last_ = src_[first_end] == '\0';
        pos_ = last_ ? first_end : first_end + 1;
    }

    bool have_pending = false;
    Item pending;
    QZ_handle current = 0;
    QZ_Object* known = nullptr;
    bool have_object = false;

    auto read_next = [&](Item& it) -> QZ_error {
        if (last_) {
            it = Item();
            return QZ_OK;
        }
        read_item(it);
        if (it.v.type == QZ_T_NOTHING && !last_)
            return refuse(QZ_ERROR_COMMAND_NOT_PARAM, "'%%' word before the end: '%s'", cmd_ + it.start);
        return QZ_OK;
    };

    Item item;
    if (QZ_error e = read_next(item); e != QZ_OK) return finish(e);

    try {
        for (;;) {
            if (have_pending) {
                const std::size_t name_len = pending.len - 1;
                const QZ_Option* opt = QZ_find_option(cls, src_ + pending.name, name_len);
                // the name alone, for messages (cut at 255 characters; no allocation)
                auto name_text = [&] { return Word(src_ + pending.name, name_len); };
                if (!opt)
                    return finish(
                        refuse(QZ_ERROR_COMMAND_NOT_PARAM, "param '%s' not found", cmd_ + pending.name));
                // The object found for the placeholder serves until a handler has
                // run (a handler may delete objects); then it is looked up again.
                QZ_Object* obj = known ? known : QZ_object_from_handle(current);
                known = nullptr;
                if (!obj) {
                    if (current != 0)
                        return finish(refuse_handle(QZ_ERROR_COMMAND_NOT_FOUND,
                                                    "object 0x%X no longer exists (param '%s')", current,
                                                    name_text().text));
                    if (name_len != 6 || std::memcmp(src_ + pending.name, "delete", 6) != 0)
                        return finish(refuse(QZ_ERROR_COMMAND_NOT_PARAM, "no object for param '%s'",
                                             name_text().text));
                    // Deleting the null object destroys nothing.
                } else if (item.v.present()) {
                    try {
                        (void)opt->handler(obj, item.v);
                    } catch (const QZ_text_not_number& t) {
                        std::printf("spcpp: %s\n", cmd_);
                        std::printf("spcpp: param '%s' wants a number, not the text '%s'\n",
                                    name_text().text, t.text ? t.text : "");
                        return finish(QZ_ERROR_COMMAND_NOT_PARAM);
                    }
                } else {
                    QZ_value r = opt->handler(obj, QZ_EMPTY);
                    if (text_form()) append_value(r);
                    if (ref_form() && r.type >= QZ_T_INT && item.v.type >= QZ_T_EMPTY) store(r);
                }
            } else {
                int t = item.v.type;
                if (t == QZ_T_INT || t == QZ_T_FLOAT || t == QZ_T_OBJECT) {
                    QZ_handle h = item.v.word.u;
                    QZ_Object* obj = QZ_object_from_handle(h);
                    known = obj;
                    if (h != 0 && !obj)
                        return finish(
                            refuse_handle(QZ_ERROR_COMMAND_NOT_FOUND, "object 0x%X not found%s", h, ""));
                    if (!obj && !class_named) {
                        cls = &QZ_Object_class;  // a null object: only the root's -delete applies
                    } else if (obj) {
                        if (!class_named) {
                            cls = obj->descriptor;
                            if (!cls)
                                return finish(refuse_handle(QZ_ERROR_COMMAND_NOT_FOUND,
                                                            "object 0x%X has no class%s", h, ""));
                        } else if (!QZ_class_derives(obj->descriptor, cls)) {
                            return finish(refuse_handle(QZ_ERROR_COMMAND_NOT_FOUND, "object 0x%X is not a %s",
                                                        h, cls->name));
                        }
                    }
                    current = h;
                    have_object = true;
                } else {
                    if (!class_named)
                        return finish(refuse(QZ_ERROR_COMMAND_NOT_FOUND, "no class to create%s", ""));
                    if (!cls->create)
                        return finish(refuse(QZ_ERROR_COMMAND_NOT_FOUND,
                                             "class '%s' is abstract and cannot be created", cls->name));
                    QZ_specialobject = (t == QZ_T_STRING) ? item.v.word.s : nullptr;
                    QZ_Object* obj = cls->create();
                    QZ_specialobject = nullptr;  // the word lives only during this command
                    if (obj) {
                        obj->descriptor = cls;
                        obj->command = cmd_;
                    }
                    current = QZ_handle_of(obj);
                    have_object = true;
                    if (text_form()) append_value(QZ_value::object(current));
                    if (ref_form() && t >= QZ_T_EMPTY) store(QZ_value::object(current));
                }
            }
            (void)have_object;

            if (text_form() && written_ > capacity_) return finish(QZ_ERROR_COMMAND_NOT_SPACE);

            if (last_ && !item.option) break;
            if (!item.option) {
                if (item.v.type == QZ_T_NOTHING) break;  // a final '%' ends the command
                if (item.v.present()) {
                    // The value is used up; an option word must follow.
                    if (QZ_error e = read_next(item); e != QZ_OK) return finish(e);
                    if (!item.option) {
                        if (item.v.type == QZ_T_NOTHING || item.v.type == QZ_T_EMPTY) break;
                        return finish(refuse(QZ_ERROR_COMMAND_NOT_PARAM, "value '%s' follows a value",
                                             cmd_ + item.start));
                    }
                } else {
                    break;
                }
            }
            pending = item;
            have_pending = true;
            if (QZ_error e = read_next(item); e != QZ_OK) return finish(e);
        }
    } catch (const std::bad_alloc&) {
        QZ_specialobject = nullptr;
        return finish(refuse(QZ_ERROR_MEMORY_CANNOT_ALLOCATE, "out of memory%s", ""));
    } catch (...) {
        QZ_specialobject = nullptr;
        return finish(refuse(QZ_ERROR_UNKNOWN, "failed%s", ""));
    }
    return finish(QZ_OK);
}

}  // namespace

QZ_error spcpp_execute_in(const QZ_Registry_Entry* registry, int flags, const char* command, char* result,
                          int* capacity, va_list args) {
    va_list own;
    va_copy(own, args);
    Interpreter in(registry, flags, command, result, capacity, &own);
    const QZ_error e = in.run();
    va_end(own);
    return e;
}

QZ_error spcpp_execute(int flags, const char* command, char* result, int* capacity, va_list args) {
    return spcpp_execute_in(__QZ, flags, command, result, capacity, args);
}

// The two common entry points hand their own lists over directly: copying a
// list just started costs more than the rest of a short command's set-up.
QZ_error spcpp(const char* command, ...) {
    va_list ap;
    va_start(ap, command);
    Interpreter in(__QZ, QZ_CMD_REFERENCE, command, nullptr, nullptr, &ap);
    const QZ_error e = in.run();
    va_end(ap);
    return e;
}

QZ_error spcpp_text(char* result, int capacity, const char* command, ...) {
    va_list ap;
    va_start(ap, command);
    Interpreter in(__QZ, QZ_CMD_TEXT, command, result, &capacity, &ap);
    const QZ_error e = in.run();
    va_end(ap);
    return e;
}

int QZ_classify_word(const char* w, std::size_t len) {
    switch (final_state(w, len)) {
        case 5:
        case 6: return QZ_T_INT;
        case 7: return QZ_T_FLOAT;
        case 4: return QZ_T_OBJECT;
        default: return (len > 0 && w[0] == '-') ? QZ_T_EMPTY : QZ_T_STRING;
    }
}
