// Sound files as the Linux program's render mode reads them: through
// libsndfile by name (the bytes sit in a memory file reached by its
// /proc/self/fd name), then checked and read in blocks as render does. Any
// bytes must be refused or give a file whose reads stay within what was asked.
// libsndfile itself carries no coverage instrumentation, so the corpus of
// sound files of several formats does most of the steering.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/sound_file.h"

namespace {

// One memory file for the whole run, rewritten for each input.
struct Memory_File {
    int fd = -1;
    std::string name;
    Memory_File() {
        fd = memfd_create("sndfile_fuzz", 0);
        if (fd < 0) std::abort();
        name = "/proc/self/fd/" + std::to_string(fd);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Memory_File file;
    if (ftruncate(file.fd, 0) != 0) std::abort();
    if (size > 0 && pwrite(file.fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    std::string why;
    std::unique_ptr<QZ_Sound_File> in = QZ_sound_open_read(file.name, &why);
    if (!in) {
        if (why.empty()) std::abort();  // a refusal says why
        return 0;
    }
    // render's checks, then its reading: blocks of 4096 frames of every channel
    if (in->channels < 1 || in->rate < 1000 || in->rate > 768000) return 0;
    constexpr long long kChunk = 4096;
    std::vector<float> frames(static_cast<std::size_t>(kChunk) * static_cast<std::size_t>(in->channels));
    for (int round = 0; round < 64; ++round) {
        const long long n = in->read(frames.data(), kChunk);
        if (n < 0 || n > kChunk) __builtin_trap();
        if (n == 0) break;
    }
    in->close();
    return 0;
}
