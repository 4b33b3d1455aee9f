// Sound files as RIFF WAVE, read and written by our own code: PCM (8 to 32 bits)
// and IEEE float (32 and 64 bits) in, 32-bit float out. The build uses it where
// libsndfile is not available.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/sound_file.h"
#include "host/sound_wav.h"

namespace {

std::uint32_t le32(const unsigned char* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 |
           static_cast<std::uint32_t>(p[3]) << 24;
}
unsigned le16(const unsigned char* p) { return p[0] | static_cast<unsigned>(p[1]) << 8; }
void put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(unsigned char* p, unsigned v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

bool has_wav_extension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.size() - dot != 4) return false;
    const char* e = path.c_str() + dot + 1;
    return (e[0] | 0x20) == 'w' && (e[1] | 0x20) == 'a' && (e[2] | 0x20) == 'v';
}

class Wav_File final : public QZ_Sound_File {
public:
    ~Wav_File() override { close(); }

    bool open_read(std::FILE* f, std::string* error) {
        f_ = f;
        if (!f_) return fail(error, "cannot open the file");
        unsigned char head[12];
        if (std::fread(head, 1, 12, f_) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
            std::memcmp(head + 8, "WAVE", 4) != 0)
            return fail(error, "not a RIFF WAVE file");
        bool have_fmt = false;
        for (;;) {
            unsigned char ch[8];
            if (std::fread(ch, 1, 8, f_) != 8) return fail(error, have_fmt ? "no data chunk" : "no fmt chunk");
            const std::uint32_t size = le32(ch + 4);
            if (std::memcmp(ch, "fmt ", 4) == 0) {
                if (size < 16 || size > 4096) return fail(error, "damaged fmt chunk");
                std::vector<unsigned char> fmt(size);
                if (std::fread(fmt.data(), 1, size, f_) != size) return fail(error, "damaged fmt chunk");
                if (size & 1) std::fgetc(f_);
                unsigned tag = le16(&fmt[0]);
                if (tag == 0xFFFE && size >= 26) tag = le16(&fmt[24]);  // extensible: the sub-format's tag
                channels = static_cast<int>(le16(&fmt[2]));
                const std::uint32_t r = le32(&fmt[4]);
                block_ = le16(&fmt[12]);
                bits_ = le16(&fmt[14]);
                float_ = tag == 3;
                const bool pcm_ok = tag == 1 && (bits_ == 8 || bits_ == 16 || bits_ == 24 || bits_ == 32);
                const bool float_ok = tag == 3 && (bits_ == 32 || bits_ == 64);
                if (!pcm_ok && !float_ok) return fail(error, "sample format not supported (PCM or float only)");
                if (channels < 1 || channels > 256 || r < 1 || r > 0x7FFFFFFF || block_ != static_cast<unsigned>(channels) * bits_ / 8)
                    return fail(error, "damaged fmt chunk");
                rate = static_cast<int>(r);
                have_fmt = true;
            } else if (std::memcmp(ch, "data", 4) == 0) {
                if (!have_fmt) return fail(error, "data before fmt");
                frames = static_cast<long long>(size / block_);
                left_ = frames;
                return true;
            } else {
                // Another chunk (list, fact, ...): skipped, with its pad byte.
                // (A size past what a seek offset holds cannot be a real chunk.)
                const std::uint64_t skip = static_cast<std::uint64_t>(size) + (size & 1);
                if (skip > 0x7FFFFFFF || std::fseek(f_, static_cast<long>(skip), SEEK_CUR) != 0)
                    return fail(error, "damaged chunk");
            }
        }
    }

    bool open_write(const std::string& path, int r, int ch, std::string* error) {
        if (r < 1 || ch < 1 || ch > 0xFFFF) return fail(error, "bad rate or channel count");
        f_ = std::fopen(path.c_str(), "wb");
        if (!f_) return fail(error, "cannot create the file");
        writing_ = true;
        rate = r;
        channels = ch;
        block_ = 4u * static_cast<unsigned>(ch);
        unsigned char h[kHeader] = {};
        header(h, 0);
        if (std::fwrite(h, 1, kHeader, f_) != kHeader) return fail(error, "cannot write the file");
        return true;
    }

    long long read(float* out, long long n) override {
        if (!f_ || writing_ || n <= 0) return 0;
        if (n > left_) n = left_;
        raw_.resize(static_cast<std::size_t>(n) * block_);
        const std::size_t got = std::fread(raw_.data(), block_, static_cast<std::size_t>(n), f_);
        const std::size_t count = got * static_cast<std::size_t>(channels);
        const unsigned char* p = raw_.data();
        const unsigned step = bits_ / 8;
        for (std::size_t i = 0; i < count; ++i, p += step) out[i] = sample(p);
        left_ -= static_cast<long long>(got);
        return static_cast<long long>(got);
    }

    long long write(const float* in, long long n) override {
        if (!f_ || !writing_ || n <= 0) return 0;
        const std::uint64_t bytes = static_cast<std::uint64_t>(n) * block_;
        if (written_ + bytes > 0xFFFFFFFFull - (kHeader - 8)) {
            error = "past the 4 GiB a WAVE file can hold";
            return 0;
        }
        raw_.resize(static_cast<std::size_t>(bytes));
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) * static_cast<std::size_t>(channels); ++i) {
            std::uint32_t w;
            std::memcpy(&w, &in[i], 4);
            put32(&raw_[4 * i], w);
        }
        const std::size_t put = std::fwrite(raw_.data(), block_, static_cast<std::size_t>(n), f_);
        written_ += static_cast<std::uint64_t>(put) * block_;
        if (put != static_cast<std::size_t>(n)) {
            error = std::strerror(errno);
            ok_ = false;
        }
        return static_cast<long long>(put);
    }

    bool close() override {
        if (!f_) return ok_;
        if (writing_) {
            unsigned char h[kHeader];
            header(h, static_cast<std::uint32_t>(written_));
            const bool put = std::fseek(f_, 0, SEEK_SET) == 0 && std::fwrite(h, 1, kHeader, f_) == kHeader;
            if (!put && error.empty()) error = std::strerror(errno);
            ok_ = put && ok_;
        }
        if (std::fclose(f_) != 0) {
            if (error.empty()) error = std::strerror(errno);
            ok_ = false;
        }
        f_ = nullptr;
        return ok_;
    }

private:
    bool fail(std::string* error, const char* why) {
        if (error) *error = why;
        if (f_) std::fclose(f_);
        f_ = nullptr;
        ok_ = false;
        return false;
    }

    // Float samples are not PCM, and non-PCM data wants the format's extension
    // size in its fmt chunk (none: 0) and a fact chunk with the frame count.
    static constexpr std::size_t kHeader = 12 + (8 + 18) + (8 + 4) + 8;

    void header(unsigned char* h, std::uint32_t data_bytes) const {
        std::memcpy(h, "RIFF", 4);
        put32(h + 4, static_cast<std::uint32_t>(kHeader - 8) + data_bytes);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        put32(h + 16, 18);
        put16(h + 20, 3);  // IEEE float
        put16(h + 22, static_cast<unsigned>(channels));
        put32(h + 24, static_cast<std::uint32_t>(rate));
        put32(h + 28, static_cast<std::uint32_t>(rate) * block_);
        put16(h + 32, block_);
        put16(h + 34, 32);
        put16(h + 36, 0);  // no extension
        std::memcpy(h + 38, "fact", 4);
        put32(h + 42, 4);
        put32(h + 46, data_bytes / block_);
        std::memcpy(h + 50, "data", 4);
        put32(h + 54, data_bytes);
    }

    float sample(const unsigned char* p) const {
        if (float_) {
            if (bits_ == 32) {
                std::uint32_t w = le32(p);
                float f;
                std::memcpy(&f, &w, 4);
                return f;
            }
            std::uint64_t w = le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
            double d;
            std::memcpy(&d, &w, 8);
            return static_cast<float>(d);
        }
        switch (bits_) {
            case 8: return (static_cast<int>(p[0]) - 128) / 128.0f;
            case 16: return static_cast<std::int16_t>(le16(p)) / 32768.0f;
            case 24: {
                const std::uint32_t u = (p[0] | static_cast<std::uint32_t>(p[1]) << 8 |
                                         static_cast<std::uint32_t>(p[2]) << 16) << 8;
                const std::int32_t v = static_cast<std::int32_t>(u) / 256;  // sign kept, exact
                return static_cast<float>(v / 8388608.0);
            }
            default: return static_cast<float>(static_cast<std::int32_t>(le32(p)) / 2147483648.0);
        }
    }

    std::FILE* f_ = nullptr;
    bool writing_ = false;
    bool ok_ = true;
    bool float_ = false;
    unsigned bits_ = 0, block_ = 0;
    long long left_ = 0;
    std::uint64_t written_ = 0;
    std::vector<unsigned char> raw_;
};

}  // namespace

std::unique_ptr<QZ_Sound_File> QZ_wav_open_read(std::FILE* f, std::string* error) {
    auto w = std::make_unique<Wav_File>();
    if (!w->open_read(f, error)) return nullptr;
    return w;
}

std::unique_ptr<QZ_Sound_File> QZ_sound_open_read(const std::string& path, std::string* error) {
    return QZ_wav_open_read(std::fopen(path.c_str(), "rb"), error);
}

std::unique_ptr<QZ_Sound_File> QZ_sound_open_write(const std::string& path, const std::string& named, int rate,
                                                   int channels, std::string* error) {
    if (!has_wav_extension(named)) {
        if (error) *error = "unsupported format";
        return nullptr;
    }
    auto w = std::make_unique<Wav_File>();
    if (!w->open_write(path, rate, channels, error)) return nullptr;
    return w;
}

bool QZ_sound_can_write(const std::string& path) { return has_wav_extension(path); }

const char* QZ_sound_write_extensions() { return ".wav"; }
