// A small VST 2.4 host: loads a plug-in module, answers its calls to the host,
// and drives it the way hosts do (open, rate and block size, resume, process
// block by block, suspend, close). Used by the tests and the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/module/library.h"
#include "plugin/vst24.h"

namespace zelo::vsthost {

using Entry = AEffect* (*)(audioMasterCallback);

// A loaded module and its entry. The module stays loaded while the object lives.
class Module {
public:
    // Loads a .so and finds VSTPluginMain, else the legacy main. Null with a
    // reason in *error when the file cannot be loaded or has no entry.
    static std::unique_ptr<Module> load(const std::string& path, std::string* error = nullptr);
    // The running program itself (its entry must be exported, e.g. -rdynamic).
    static std::unique_ptr<Module> self(std::string* error = nullptr);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    Entry entry() const { return entry_; }
    // "VSTPluginMain" or "main": the name the entry was found under.
    const std::string& entry_name() const { return entry_name_; }

private:
    Module() = default;
    std::unique_ptr<module::Library> lib_;
    Entry entry_ = nullptr;
    std::string entry_name_;
};

// One call the plug-in made to the host.
struct HostCall {
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    float opt;
};

// The result of a text opcode: the text, and whether the plug-in wrote past the
// published length (limit characters and the zero byte).
struct Text {
    std::string text;
    VstIntPtr result = 0;
    bool overrun = false;
};

class Plugin {
public:
    struct Options {
        VstIntPtr version_answer = kVstVersion;  // answer to audioMasterVersion
        float sample_rate = 44100.0f;
        VstInt32 block_size = 512;
    };

    // Calls the entry. Null when the entry gives no effect or a record that is
    // not a VST effect; *error tells which.
    static std::unique_ptr<Plugin> create(const Module& module, const Options& options,
                                          std::string* error = nullptr);
    static std::unique_ptr<Plugin> create(const Module& module, std::string* error = nullptr) {
        return create(module, Options{}, error);
    }
    // Closes the effect if it is still open.
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    AEffect* effect() const { return effect_; }
    bool closed() const { return effect_ == nullptr; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    void set_parameter(VstInt32 index, float value);
    float get_parameter(VstInt32 index);

    // A text opcode with a buffer much larger than the published length, so an
    // overlong answer is seen instead of corrupting memory.
    Text text(VstInt32 opcode, VstInt32 index, std::size_t limit, VstIntPtr value = 0);
    Text parameter_name(VstInt32 index) { return text(effGetParamName, index, kVstMaxParamStrLen); }
    Text parameter_display(VstInt32 index) { return text(effGetParamDisplay, index, kVstMaxParamStrLen); }
    Text parameter_label(VstInt32 index) { return text(effGetParamLabel, index, kVstMaxParamStrLen); }

    // What a host does before audio: effOpen, rate, block size, resume, start.
    void start(float sample_rate, VstInt32 block_size);
    void start() { start(options_.sample_rate, options_.block_size); }
    // And after: stop, suspend.
    void stop();

    // One processReplacing call with one input and two output channels.
    void process(const float* input, float* left, float* right, VstInt32 frames);
    // Runs a whole signal through processReplacing in host blocks of block_size
    // frames (the last one shorter); returns the left output (checks that the
    // right one equals it are the caller's).
    void render(const std::vector<float>& input, std::vector<float>& left, std::vector<float>& right,
                VstInt32 block_size);

    // effClose; the effect must not be used afterwards. Returns the result.
    VstIntPtr close();

    std::vector<HostCall> calls() const;
    void clear_calls();
    std::size_t count_calls(VstInt32 opcode) const;

    float sample_rate() const { return options_.sample_rate; }
    VstInt32 block_size() const { return options_.block_size; }

private:
    Plugin() = default;
    static VstIntPtr VSTCALLBACK host_callback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                               VstIntPtr value, void* ptr, float opt);
    VstIntPtr answer(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    AEffect* effect_ = nullptr;
    Options options_;
    bool running_ = false;
    mutable std::mutex calls_mutex_;
    std::vector<HostCall> calls_;
};

}  // namespace zelo::vsthost
