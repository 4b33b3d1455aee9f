// Helpers for engine tests: objects made by command and deleted at scope end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/command.h"
#include "dsp/buffer.h"
#include "dsp/effect.h"
#include "dsp/soundpipe.h"

// Deletes every handle it was given, newest first, when it goes out of scope,
// and leaves no pipe under construction behind.
class Owned {
public:
    Owned() = default;
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        for (auto it = handles_.rbegin(); it != handles_.rend(); ++it)
            if (QZ_object_from_handle(*it)) spcpp("%o -delete", *it);
        QZ_Soundpipe::set_current(nullptr);
    }
    QZ_handle keep(QZ_handle h) {
        handles_.push_back(h);
        return h;
    }

    // A pipe of block length bl, left under construction.
    QZ_handle pipe(std::int32_t bl) {
        QZ_handle p = 0;
        EXPECT_EQ(spcpp("QZ_Soundpipe -bl %i", &p, bl), QZ_OK);
        return keep(p);
    }
    QZ_handle buffer(const char* name) {
        QZ_handle b = 0;
        EXPECT_EQ(spcpp("QZ_Buffer -t %s", &b, name), QZ_OK);
        return keep(b);
    }
    // cls_io_command is "<class> -i %o -o %o".
    QZ_handle effect(const char* cls_io_command, QZ_handle in, QZ_handle out) {
        QZ_handle e = 0;
        EXPECT_EQ(spcpp(cls_io_command, &e, in, out), QZ_OK);
        return keep(e);
    }

private:
    std::vector<QZ_handle> handles_;
};

inline QZ_Buffer* buf(QZ_handle h) { return QZ_object_as<QZ_Buffer>(h); }
inline QZ_Soundpipe* pipe_of(QZ_handle h) { return QZ_object_as<QZ_Soundpipe>(h); }
template <class T = QZ_Effect>
T* fx(QZ_handle h) {
    return QZ_object_as<T>(h);
}

inline std::vector<std::int32_t> main_of(QZ_handle b) {
    QZ_Buffer* p = buf(b);
    return std::vector<std::int32_t>(p->main_block(), p->main_block() + p->frames());
}
inline void fill(QZ_handle b, const std::vector<std::int32_t>& v) {
    QZ_Buffer* p = buf(b);
    ASSERT_LE(v.size(), static_cast<std::size_t>(p->count()));
    std::copy(v.begin(), v.end(), p->main_block());
}

// "%o -e": ends construction of pipe p; true when it was under construction.
inline bool end_construction(QZ_handle p) {
    std::uint32_t ended = 0;
    EXPECT_EQ(spcpp("%o -e", p, &ended), QZ_OK);
    return ended == 1;
}

// Integer option read back through the command language.
inline std::int32_t opt_int(const char* command, QZ_handle h) {
    std::uint32_t r = 0xDEADBEEF;
    EXPECT_EQ(spcpp(command, h, &r), QZ_OK);
    return static_cast<std::int32_t>(r);
}
