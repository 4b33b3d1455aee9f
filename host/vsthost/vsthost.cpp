#include "host/vsthost/vsthost.h"

#include <algorithm>
#include <cstring>

namespace zelo::vsthost {

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error) {
    std::unique_ptr<module::Library> lib = module::Library::load(path, error);
    if (!lib) return nullptr;
    std::unique_ptr<Module> m(new Module);
    m->lib_ = std::move(lib);
    for (const char* name : {"VSTPluginMain", "main"}) {
        if (void* sym = m->lib_->symbol(name)) {
            m->entry_ = reinterpret_cast<Entry>(sym);
            m->entry_name_ = name;
            return m;
        }
    }
    if (error) *error = path + " exports neither VSTPluginMain nor main";
    return nullptr;
}

std::unique_ptr<Module> Module::self(std::string* error) {
    std::unique_ptr<module::Library> lib = module::Library::self(error);
    if (!lib) return nullptr;
    std::unique_ptr<Module> m(new Module);
    m->lib_ = std::move(lib);
    // A 32-bit Windows program exports its entry under the decorated name
    // hosts look for there; elsewhere under its own.
    for (const char* name : {"_VSTPluginMain", "VSTPluginMain"}) {
        if (void* sym = m->lib_->symbol(name)) {
            m->entry_ = reinterpret_cast<Entry>(sym);
            m->entry_name_ = name;
            return m;
        }
    }
    if (error) *error = "the running program exports no VSTPluginMain";
    return nullptr;
}

Module::~Module() = default;

namespace {

// The plug-in calls the host from inside its entry, before the host knows the
// effect's address; the instance being created is found through this.
thread_local Plugin* t_creating = nullptr;

void set_error(std::string* error, const std::string& text) {
    if (error) *error = text;
}

const char* const kHostCanDo[] = {"sizeWindow", "startStopProcess", "supplyIdle"};

}  // namespace

// ---------------------------------------------------------------- Plugin

std::unique_ptr<Plugin> Plugin::create(const Module& module, const Options& options, std::string* error) {
    if (!module.entry()) {
        set_error(error, "module has no entry");
        return nullptr;
    }
    std::unique_ptr<Plugin> p(new Plugin);
    p->options_ = options;
    t_creating = p.get();
    AEffect* e = module.entry()(&Plugin::host_callback);
    t_creating = nullptr;
    if (!e) {
        set_error(error, "the entry returned no effect");
        return nullptr;
    }
    if (e->magic != kEffectMagic) {
        set_error(error, "the entry returned a record without the effect magic");
        return nullptr;
    }
    e->resvd1 = reinterpret_cast<VstIntPtr>(p.get());
    p->effect_ = e;
    return p;
}

Plugin::~Plugin() {
    if (effect_) {
        if (running_) stop();
        close();
    }
}

VstIntPtr VSTCALLBACK Plugin::host_callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                            void* ptr, float opt) {
    Plugin* self = nullptr;
    if (effect && effect->resvd1) self = reinterpret_cast<Plugin*>(effect->resvd1);
    if (!self) self = t_creating;
    if (!self) return opcode == audioMasterVersion ? kVstVersion : 0;
    {
        std::lock_guard<std::mutex> lock(self->calls_mutex_);
        self->calls_.push_back(HostCall{opcode, index, value, opt});
    }
    return self->answer(opcode, index, value, ptr, opt);
}

VstIntPtr Plugin::answer(VstInt32 opcode, VstInt32, VstIntPtr, void* ptr, float) {
    switch (opcode) {
        case audioMasterVersion: return options_.version_answer;
        case audioMasterSizeWindow: return 1;
        case audioMasterGetSampleRate: return static_cast<VstIntPtr>(options_.sample_rate);
        case audioMasterGetBlockSize: return options_.block_size;
        case audioMasterGetCurrentProcessLevel:
            return running_ ? kVstProcessLevelRealtime : kVstProcessLevelUser;
        case audioMasterGetAutomationState: return kVstAutomationOff;
        case audioMasterGetVendorString:
            if (ptr) std::strcpy(static_cast<char*>(ptr), "zelo");
            return ptr ? 1 : 0;
        case audioMasterGetProductString:
            if (ptr) std::strcpy(static_cast<char*>(ptr), "zelo test host");
            return ptr ? 1 : 0;
        case audioMasterGetVendorVersion: return 1;
        case audioMasterGetLanguage: return 1;
        case audioMasterCanDo:
            if (!ptr) return 0;
            for (const char* c : kHostCanDo)
                if (std::strcmp(c, static_cast<const char*>(ptr)) == 0) return 1;
            return 0;
        default: return 0;
    }
}

VstIntPtr Plugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    if (!effect_) return 0;
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void Plugin::set_parameter(VstInt32 index, float value) {
    if (effect_) effect_->setParameter(effect_, index, value);
}

float Plugin::get_parameter(VstInt32 index) { return effect_ ? effect_->getParameter(effect_, index) : 0.0f; }

Text Plugin::text(VstInt32 opcode, VstInt32 index, std::size_t limit, VstIntPtr value) {
    constexpr unsigned char kFill = 0xA5;
    char buf[512];
    std::memset(buf, kFill, sizeof buf);
    Text t;
    t.result = dispatch(opcode, index, value, buf, 0.0f);
    for (std::size_t i = limit + 1; i < sizeof buf; ++i)
        if (static_cast<unsigned char>(buf[i]) != kFill) t.overrun = true;
    const void* zero = std::memchr(buf, 0, limit + 1);
    if (!zero) {
        t.overrun = true;
        t.text.assign(buf, limit + 1);
    } else {
        t.text.assign(buf);
    }
    return t;
}

void Plugin::start(float sample_rate, VstInt32 block_size) {
    options_.sample_rate = sample_rate;
    options_.block_size = block_size;
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, sample_rate);
    dispatch(effSetBlockSize, 0, block_size);
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
    running_ = true;
}

void Plugin::stop() {
    dispatch(effStopProcess);
    dispatch(effMainsChanged, 0, 0);
    running_ = false;
}

void Plugin::process(const float* input, float* left, float* right, VstInt32 frames) {
    if (!effect_) return;
    float* in[1] = {const_cast<float*>(input)};
    float* out[2] = {left, right};
    effect_->processReplacing(effect_, in, out, frames);
}

void Plugin::render(const std::vector<float>& input, std::vector<float>& left, std::vector<float>& right,
                    VstInt32 block_size) {
    left.assign(input.size(), 0.0f);
    right.assign(input.size(), 0.0f);
    if (block_size <= 0) block_size = 1;
    const std::size_t step = static_cast<std::size_t>(block_size);
    for (std::size_t k = 0; k < input.size(); k += step) {
        const std::size_t n = std::min(step, input.size() - k);
        process(input.data() + k, left.data() + k, right.data() + k, static_cast<VstInt32>(n));
    }
}

VstIntPtr Plugin::close() {
    if (!effect_) return 0;
    VstIntPtr r = effect_->dispatcher(effect_, effClose, 0, 0, nullptr, 0.0f);
    effect_ = nullptr;
    return r;
}

std::vector<HostCall> Plugin::calls() const {
    std::lock_guard<std::mutex> lock(calls_mutex_);
    return calls_;
}

void Plugin::clear_calls() {
    std::lock_guard<std::mutex> lock(calls_mutex_);
    calls_.clear();
}

std::size_t Plugin::count_calls(VstInt32 opcode) const {
    std::lock_guard<std::mutex> lock(calls_mutex_);
    return static_cast<std::size_t>(std::count_if(
        calls_.begin(), calls_.end(), [opcode](const HostCall& c) { return c.opcode == opcode; }));
}

}  // namespace zelo::vsthost
