// CLAP plug-ins for the command-line modes, through the CLAP host: parameter
// settings go in as value events, presets are the plug-in's state as a file.
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/claphost/claphost.h"
#include "host/hosted.h"

namespace {

class Hosted_Clap : public QZ_Hosted {
public:
    Hosted_Clap(std::unique_ptr<zelo::claphost::Module> m, std::unique_ptr<zelo::claphost::Plugin> p, int block)
        : module_(std::move(m)), plugin_(std::move(p)), block_(block > 0 ? block : 512) {}
    ~Hosted_Clap() override { finish(); }

    std::string name() override {
        const clap_plugin_descriptor_t* d = plugin_ ? plugin_->plugin()->desc : nullptr;
        return d && d->name ? d->name : "";
    }
    int parameter_count() override { return plugin_ ? static_cast<int>(plugin_->param_count()) : 0; }
    Names parameter_names(int index) override {
        clap_param_info_t info{};
        Names n;
        if (info_of(index, &info)) n.shown = n.full = info.name;
        return n;
    }
    // The plug-in's text carries its unit ("130 Hz"): no separate label.
    std::string parameter_display(int index) override {
        clap_param_info_t info{};
        return info_of(index, &info) ? plugin_->param_text(info.id, plugin_->param_value(info.id)) : "";
    }
    std::string parameter_label(int) override { return ""; }
    const char* value_meaning() const override { return "the parameter's range"; }
    bool set_parameter(int index, float value, std::string* why) override {
        clap_param_info_t info{};
        if (!info_of(index, &info)) return false;
        if (!(value >= info.min_value && value <= info.max_value)) {
            char text[sizeof info.name + 64];
            std::snprintf(text, sizeof text, "%s takes %g..%g", info.name, info.min_value, info.max_value);
            if (why) *why = text;
            return false;
        }
        // Between blocks: the plug-in takes it through flush, read back at once.
        plugin_->queue_value(info.id, value);
        plugin_->flush();
        return true;
    }
    bool load_preset(const std::string& path, std::string* why) override {
        std::vector<std::uint8_t> bytes;
        if (!read_file(path, &bytes)) {
            if (why) *why = "cannot read " + path;
            return false;
        }
        if (!plugin_->load_state(bytes)) {
            if (why) *why = "the plug-in refused the state in " + path;
            return false;
        }
        return true;
    }
    bool save_preset(const std::string& path, std::string* why) override {
        std::vector<std::uint8_t> bytes;
        if (!plugin_->save_state(&bytes)) {
            if (why) *why = "the plug-in saved no state";
            return false;
        }
        std::FILE* f = std::fopen(path.c_str(), "wb");
        const bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if ((f && std::fclose(f) != 0) || !ok) {
            if (why) *why = "cannot write " + path;
            return false;
        }
        return true;
    }
    void process(const float* input, float* left, float* right, int frames) override {
        for (int k = 0; k < frames; k += block_) {
            const int n = frames - k < block_ ? frames - k : block_;
            plugin_->process(input + k, left + k, right + k, static_cast<std::uint32_t>(n));
        }
    }
    void finish() override {
        plugin_.reset();
        module_.reset();
    }

private:
    bool info_of(int index, clap_param_info_t* info) {
        if (!plugin_ || index < 0 || !plugin_->param_info(static_cast<std::uint32_t>(index), info)) return false;
        info->name[sizeof info->name - 1] = '\0';
        return true;
    }
    static bool read_file(const std::string& path, std::vector<std::uint8_t>* bytes) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return false;
        std::uint8_t buf[4096];
        std::size_t n;
        // A state file is small; anything past a megabyte is not one.
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && bytes->size() < (1u << 20))
            bytes->insert(bytes->end(), buf, buf + n);
        const bool ok = !std::ferror(f);
        std::fclose(f);
        return ok;
    }

    std::unique_ptr<zelo::claphost::Module> module_;
    std::unique_ptr<zelo::claphost::Plugin> plugin_;
    int block_;
};

}  // namespace

bool QZ_is_clap_file(const std::string& path) {
    return path.size() > 5 && path.compare(path.size() - 5, 5, ".clap") == 0;
}

std::unique_ptr<QZ_Hosted> QZ_hosted_clap(const std::string& path, float rate, int block, std::string* error) {
    auto m = zelo::claphost::Module::load(path, error);
    if (!m) return nullptr;
    auto p = zelo::claphost::Plugin::create(*m, error);
    if (!p) return nullptr;
    const clap_plugin_audio_ports_t* ports = p->audio_ports();
    clap_audio_port_info_t in{}, out{};
    if (!ports || ports->count(p->plugin(), true) < 1 || ports->count(p->plugin(), false) < 1 ||
        !ports->get(p->plugin(), 0, true, &in) || !ports->get(p->plugin(), 0, false, &out) || in.channel_count != 1 ||
        out.channel_count != 2) {
        if (error) *error = "the plug-in has no main mono input and stereo output";
        return nullptr;
    }
    if (!p->start(rate, static_cast<std::uint32_t>(block > 0 ? block : 512))) {
        if (error) *error = "the plug-in did not activate";
        return nullptr;
    }
    return std::make_unique<Hosted_Clap>(std::move(m), std::move(p), block);
}
