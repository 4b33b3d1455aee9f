// LV2 plug-ins on the command line, through the lilv host: parameters are the
// control input ports, set in their own units (hertz, on/off) by symbol or name.
#include <cstdio>

#include "host/hosted.h"
#include "host/lv2host/lv2host.h"

namespace {

class Lv2_Hosted : public QZ_Hosted {
public:
    explicit Lv2_Hosted(std::unique_ptr<zelo::lv2host::Plugin> p) : p_(std::move(p)) { p_->activate(); }

    std::string name() override { return p_->name(); }
    int parameter_count() override { return static_cast<int>(p_->controls().size()); }
    Names parameter_names(int i) override {
        const auto& c = p_->controls()[static_cast<std::size_t>(i)];
        return {c.symbol, c.name};
    }
    std::string parameter_display(int i) override {
        const auto& c = p_->controls()[static_cast<std::size_t>(i)];
        char text[64];
        if (c.toggled)
            std::snprintf(text, sizeof text, "%s", p_->value(i) > 0.0f ? "on" : "off");
        else
            std::snprintf(text, sizeof text, "%g", static_cast<double>(p_->value(i)));
        return text;
    }
    std::string parameter_label(int i) override { return p_->controls()[static_cast<std::size_t>(i)].unit; }
    const char* value_meaning() const override { return "in the port's own units"; }
    bool set_parameter(int i, float value, std::string* why) override { return p_->set(i, value, why); }
    bool load_preset(const std::string& which, std::string* why) override { return p_->load_preset(which, why); }
    bool save_preset(const std::string&, std::string* why) override {
        *why = "LV2 plug-ins keep their presets in their hosts; --save-preset is for the built-in effect";
        return false;
    }
    void process(const float* input, float* left, float* right, int frames) override {
        if (frames > 0) p_->run(input, left, right, static_cast<std::uint32_t>(frames));
    }
    void finish() override { p_->deactivate(); }

private:
    std::unique_ptr<zelo::lv2host::Plugin> p_;
};

}  // namespace

std::unique_ptr<QZ_Hosted> QZ_hosted_lv2(const std::string& what, float rate, int block, std::string* error) {
    auto p = zelo::lv2host::Plugin::load(what, rate, static_cast<std::uint32_t>(block), error);
    if (!p) return nullptr;
    return std::make_unique<Lv2_Hosted>(std::move(p));
}
