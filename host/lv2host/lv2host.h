// A small LV2 host through lilv: finds a plug-in by URI or bundle, makes an
// instance with audio and control ports connected, sets control ports by
// symbol or name in their own units, loads the plug-in's presets, and runs
// blocks of one input into two outputs. Used by the command line and tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelo::lv2host {

// True when `what` names an LV2 plug-in rather than a module file: a URI
// ("scheme:..." with "://", or "urn:") or a folder that holds a manifest.ttl.
bool is_lv2_reference(const std::string& what);

struct Control {
    std::uint32_t index = 0;
    std::string symbol, name;
    float minimum = 0, maximum = 1, default_value = 0;
    bool toggled = false;
    bool logarithmic = false;
    std::string unit;  // the unit's symbol when the port has one ("Hz")
};

struct Preset {
    std::string uri, label;
};

class Plugin {
public:
    // `what`: a plug-in URI (looked up along LV2_PATH) or a bundle folder (its
    // first plug-in). Null with the reason in *error when there is no such
    // plug-in, it has ports this host cannot connect, or it does not start.
    static std::unique_ptr<Plugin> load(const std::string& what, double rate, std::uint32_t max_block,
                                        std::string* error);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const std::string& uri() const;
    const std::string& name() const;
    int audio_inputs() const;
    int audio_outputs() const;
    const std::vector<Control>& controls() const;
    // The UIs the plug-in describes (their URIs and class URIs).
    std::vector<std::pair<std::string, std::string>> uis() const;

    // Index into controls() of the port with this symbol or name (any case), or -1.
    int find_control(const std::string& symbol_or_name) const;
    float value(int control) const;
    // Sets a control input in its own units; false (reason in *error) outside its range.
    bool set(int control, float value, std::string* error = nullptr);

    std::vector<Preset> presets() const;
    // Applies a preset given by URI or label; false with the reason otherwise.
    bool load_preset(const std::string& uri_or_label, std::string* error = nullptr);

    void activate();
    void deactivate();
    // One input (null: silence) into the first two outputs (a single output
    // goes to both), in runs of at most max_block frames. The input feeds every
    // audio input of the plug-in.
    void run(const float* input, float* left, float* right, std::uint32_t frames);

private:
    Plugin();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace zelo::lv2host
