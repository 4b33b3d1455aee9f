// How preset loading opens files, for the preset fuzzer: files whose size as
// measured differs from what reading then delivers (they grew or shrank
// between the two), reads that stop early or fail, seeks that fail and files
// that do not open. The harness sets
// the scenario before each load; reading goes through a stdio stream of our
// own (fopencookie), so the loader's fseek, ftell and fread meet it unchanged.
#include "tests/fuzz/preset_file_fuzz.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "plugin/preset.h"

QZ_Preset_File_Scenario g_preset_file;

namespace {

struct Stream {
    QZ_Preset_File_Scenario s;
    long long pos = 0;
    std::size_t delivered = 0;
};

ssize_t read_stream(void* cookie, char* buf, std::size_t size) {
    auto* st = static_cast<Stream*>(cookie);
    if (st->delivered >= st->s.fail_after) return -1;
    if (st->pos < 0 || static_cast<std::size_t>(st->pos) >= st->s.size) return 0;
    std::size_t n = std::min(size, st->s.size - static_cast<std::size_t>(st->pos));
    if (st->s.chunk > 0) n = std::min(n, st->s.chunk);
    n = std::min(n, st->s.fail_after - st->delivered);
    std::memcpy(buf, st->s.data + st->pos, n);
    st->pos += static_cast<long long>(n);
    st->delivered += n;
    return static_cast<ssize_t>(n);
}

int seek_stream(void* cookie, off64_t* offset, int whence) {
    auto* st = static_cast<Stream*>(cookie);
    if (st->s.seek_fails) return -1;
    long long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? st->pos : st->s.measured_size;
    const long long to = base + *offset;
    if (to < 0) return -1;
    st->pos = to;
    *offset = to;
    return 0;
}

int close_stream(void* cookie) {
    delete static_cast<Stream*>(cookie);
    return 0;
}

}  // namespace

std::FILE* QZ_open_for_reading(const char*) {
    if (g_preset_file.open_fails) return nullptr;
    auto* st = new Stream{g_preset_file};
    cookie_io_functions_t io{};
    io.read = read_stream;
    io.seek = seek_stream;
    io.close = close_stream;
    std::FILE* f = fopencookie(st, "rb", io);
    if (!f) delete st;
    return f;
}

