// Sound files through libsndfile.
#include <sndfile.h>
#include <strings.h>

#include <cstdlib>

#include "host/sound_file.h"

namespace {

int format_of(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : path.substr(dot + 1);
    struct Kind {
        const char* ext;
        int format;
    };
    static const Kind kinds[] = {
        {"wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},  {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {"aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT}, {"aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS}, {"au", SF_FORMAT_AU | SF_FORMAT_FLOAT},
        {"caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
    };
    for (const Kind& k : kinds)
        if (strcasecmp(ext.c_str(), k.ext) == 0) return k.format;
    return 0;
}

class Sndfile final : public QZ_Sound_File {
public:
    explicit Sndfile(SNDFILE* f) : f_(f) {}
    ~Sndfile() override { close(); }
    long long read(float* interleaved, long long n) override {
        return f_ ? static_cast<long long>(sf_readf_float(f_, interleaved, n)) : 0;
    }
    long long write(const float* interleaved, long long n) override {
        const long long put = f_ ? static_cast<long long>(sf_writef_float(f_, interleaved, n)) : 0;
        if (put != n && f_) error = sf_strerror(f_);
        return put;
    }
    bool close() override {
        if (!f_) return true;
        const int e = sf_close(f_);
        f_ = nullptr;
        if (e != 0 && error.empty()) error = sf_error_number(e);
        return e == 0;
    }

private:
    SNDFILE* f_;
};

}  // namespace

std::unique_ptr<QZ_Sound_File> QZ_sound_open_read(const std::string& path, std::string* error) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) {
        if (error) *error = sf_strerror(nullptr);
        return nullptr;
    }
    auto s = std::make_unique<Sndfile>(f);
    s->frames = info.frames;
    s->rate = info.samplerate;
    s->channels = info.channels;
    return s;
}

std::unique_ptr<QZ_Sound_File> QZ_sound_open_write(const std::string& path, const std::string& named, int rate,
                                                   int channels, std::string* error) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format_of(named);
    SNDFILE* f = info.format ? sf_open(path.c_str(), SFM_WRITE, &info) : nullptr;
    if (!f) {
        if (error) *error = info.format ? sf_strerror(nullptr) : "unsupported format";
        return nullptr;
    }
    auto s = std::make_unique<Sndfile>(f);
    s->rate = rate;
    s->channels = channels;
    return s;
}

bool QZ_sound_can_write(const std::string& path) { return format_of(path) != 0; }

const char* QZ_sound_write_extensions() { return ".wav, .flac, .aiff, .ogg, .au or .caf"; }

void QZ_setenv_default(const char* name, const char* value) { setenv(name, value, 0); }
