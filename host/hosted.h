// A plug-in of any format as the command-line modes drive it: parameters by
// name, one input signal into two outputs. Each format's host code provides
// one; VST 2.4 modules and the built-in effect are in cli_render.cpp.
#pragma once

#include <memory>
#include <string>

class QZ_Hosted {
public:
    // The names a parameter answers to: the short one hosts show, and the full
    // one when the plug-in tells it.
    struct Names {
        std::string shown, full;
    };

    virtual ~QZ_Hosted() = default;

    virtual std::string name() = 0;
    virtual int parameter_count() = 0;
    virtual Names parameter_names(int index) = 0;
    virtual std::string parameter_display(int index) = 0;
    virtual std::string parameter_label(int index) = 0;
    // What a value of --set means here, for messages ("0..1", "the port's units").
    virtual const char* value_meaning() const { return "0..1"; }
    // False, with the reason, for a value the parameter does not take.
    virtual bool set_parameter(int index, float value, std::string* why) = 0;
    // A preset of the plug-in's own (a preset file, a named preset).
    virtual bool load_preset(const std::string& which, std::string* why) = 0;
    virtual bool save_preset(const std::string& path, std::string* why) = 0;

    // Any number of frames, cut into the block size the plug-in was started with.
    virtual void process(const float* input, float* left, float* right, int frames) = 0;
    // After the last block: stops and closes the plug-in.
    virtual void finish() = 0;
};

// A CLAP plug-in module (a file named *.clap), its first plug-in started at
// `rate` for blocks of at most `block` frames; null with the reason in *error.
bool QZ_is_clap_file(const std::string& path);
std::unique_ptr<QZ_Hosted> QZ_hosted_clap(const std::string& path, float rate, int block, std::string* error);

#if ZELO_HOST_HAS_LV2
// An LV2 plug-in by URI or bundle folder, started at `rate` for blocks of at
// most `block` frames; null with the reason in *error.
std::unique_ptr<QZ_Hosted> QZ_hosted_lv2(const std::string& what, float rate, int block, std::string* error);
#endif
