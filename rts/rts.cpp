// The abstract driver, its records and the list of driver instances.
#include "rts/rts.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

QZ_Chain QZ_Rts_instances;

namespace {
void copy_name(char (&to)[64], const char* from) {
    if (!from) {
        to[0] = 0;
        return;
    }
    std::size_t n = std::strlen(from);
    if (n > sizeof to - 1) n = sizeof to - 1;
    std::memcpy(to, from, n);
    to[n] = 0;
}

const char* const channel_words[] = {"", "mono", "stereo", "trio", "quadro"};
}  // namespace

// Mode name in two passes: first a format text made of the parts whose value is
// nonzero, then that text formatted with the values.
QZ_Rts::Mode::Mode(std::int32_t rate_, std::int32_t bits_, std::int32_t block_, std::int32_t channels_)
    : rate(rate_), block(block_), bits(bits_), channels(channels_) {
    // A channel count outside the words (negative included) is written as a number.
    const bool counted = channels >= 5 || channels < 0;
    char composed[64] = "";
    char piece[32];
    if (rate) {
        std::snprintf(piece, sizeof piece, "%%5.1f kHz");
        std::strcat(composed, piece);
    }
    if (bits) {
        std::snprintf(piece, sizeof piece, "%s%%d bit", composed[0] ? ", " : "");
        std::strcat(composed, piece);
    }
    if (channels) {
        std::snprintf(piece, sizeof piece, counted ? "%s%%d ch" : "%s%%s", composed[0] ? ", " : "");
        std::strcat(composed, piece);
    }
    // The values go in the order rate, bits, channel; only those whose part is in
    // the text are passed, so that no conversion reads an argument of another type.
    const double khz = rate * 0.001;
    const char* word = counted ? "" : channel_words[channels];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    const int shape = (rate ? 4 : 0) | (bits ? 2 : 0) | (channels ? 1 : 0);
    switch (shape) {
    case 7:
        if (counted)
            std::snprintf(name, sizeof name, composed, khz, bits, channels);
        else
            std::snprintf(name, sizeof name, composed, khz, bits, word);
        break;
    case 6: std::snprintf(name, sizeof name, composed, khz, bits); break;
    case 5:
        if (counted)
            std::snprintf(name, sizeof name, composed, khz, channels);
        else
            std::snprintf(name, sizeof name, composed, khz, word);
        break;
    case 4: std::snprintf(name, sizeof name, composed, khz); break;
    case 3:
        if (counted)
            std::snprintf(name, sizeof name, composed, bits, channels);
        else
            std::snprintf(name, sizeof name, composed, bits, word);
        break;
    case 2: std::snprintf(name, sizeof name, composed, bits); break;
    case 1:
        if (counted)
            std::snprintf(name, sizeof name, composed, channels);
        else
            std::snprintf(name, sizeof name, composed, word);
        break;
    default: name[0] = 0; break;
    }
#pragma GCC diagnostic pop
}

QZ_Rts::Mode* QZ_Rts::Mode::of(QZ_Chain_Item* it) {
    return it ? reinterpret_cast<Mode*>(reinterpret_cast<char*>(it) - offsetof(Mode, item)) : nullptr;
}

QZ_Rts::Chan::Chan() : data(nullptr), count(0), format(0) { name[0] = 0; }

QZ_Rts::Chan::Chan(const char* name_, QZ_Rts_format format_, std::int32_t count_)
    : data(nullptr), count(count_), format(format_) {
    copy_name(name, name_);
}

void QZ_Rts::Chan::setName(const char* n) { copy_name(name, n); }

QZ_Rts::Chan* QZ_Rts::Chan::of(QZ_Chain_Item* it) {
    // The record has a table pointer, so it is not standard-layout; the offset of
    // its first declared member is still fixed for a class without virtual bases.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    return it ? reinterpret_cast<Chan*>(reinterpret_cast<char*>(it) - offsetof(Chan, item)) : nullptr;
#pragma GCC diagnostic pop
}

QZ_Rts::QZ_Rts(const char* n) : current(nullptr), enabled(false) { copy_name(name, n); }

QZ_Rts::~QZ_Rts() {
    destroyModes(modes);
    destroyChans(inputs);
    destroyChans(outputs);
}

void QZ_Rts::setName(const char* n) { copy_name(name, n); }

void QZ_Rts::setLost(const char* why) {
    if (lost()) return;  // the first reason is the one that counts
    std::snprintf(lost_reason_, sizeof lost_reason_, "%s", why ? why : "");
    lost_.store(true, std::memory_order_release);
}

QZ_error QZ_Rts::init() { return QZ_OK; }

QZ_error QZ_Rts::exit() {
    destroyModes(modes);
    destroyChans(inputs);
    destroyChans(outputs);
    return QZ_OK;
}

QZ_error QZ_Rts::mode(Mode* m) {
    current.store(m);
    return QZ_OK;
}

QZ_error QZ_Rts::free() {
    current.store(nullptr);
    destroyChans(outputs);
    return QZ_OK;
}

QZ_error QZ_Rts::enable() {
    enabled = true;
    return QZ_OK;
}

QZ_error QZ_Rts::disable() {
    enabled = false;
    return QZ_OK;
}

QZ_error QZ_Rts::refresh() { return QZ_OK; }

QZ_Rts::Mode* QZ_Rts::modeAt(const QZ_Chain& list, int n) {
    if (n < 0) return nullptr;
    for (QZ_Chain_Item* it = list.first(); it != list.end(); it = it->next)
        if (n-- == 0) return Mode::of(it);
    return nullptr;
}

QZ_Rts::Chan* QZ_Rts::chanAt(const QZ_Chain& list, int n) {
    if (n < 0) return nullptr;
    for (QZ_Chain_Item* it = list.first(); it != list.end(); it = it->next)
        if (n-- == 0) return Chan::of(it);
    return nullptr;
}

void QZ_Rts::destroyModes(QZ_Chain& list) {
    while (list.first() != list.end()) {
        QZ_Chain_Item* it = list.first();
        list.remove(it);
        delete Mode::of(it);
    }
}

void QZ_Rts::destroyChans(QZ_Chain& list) {
    while (list.first() != list.end()) {
        QZ_Chain_Item* it = list.first();
        list.remove(it);
        delete Chan::of(it);
    }
}

QZ_Rts* QZ_Rts::instanceAt(int n) {
    if (n < 0) return nullptr;
    for (QZ_Chain_Item* it = QZ_Rts_instances.first(); it != QZ_Rts_instances.end(); it = it->next)
        if (n-- == 0) return static_cast<QZ_Rts*>(it->data);
    return nullptr;
}
