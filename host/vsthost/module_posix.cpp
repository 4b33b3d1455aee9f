// Plug-in modules on Linux: shared objects through the dynamic loader.
#include <dlfcn.h>

#include "host/vsthost/vsthost.h"

namespace zelo::vsthost {

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error) {
    // Local binding, as Linux hosts load plug-ins: each module keeps its own symbols.
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = dlerror();
        if (error) *error = why ? why : "cannot load " + path;
        return nullptr;
    }
    std::unique_ptr<Module> m(new Module);
    m->handle_ = h;
    for (const char* name : {"VSTPluginMain", "main"}) {
        if (void* sym = dlsym(h, name)) {
            m->entry_ = reinterpret_cast<Entry>(sym);
            m->entry_name_ = name;
            return m;
        }
    }
    if (error) *error = path + " exports neither VSTPluginMain nor main";
    return nullptr;
}

std::unique_ptr<Module> Module::self(std::string* error) {
    void* h = dlopen(nullptr, RTLD_NOW);
    if (!h) {
        if (error) *error = "cannot open the running program";
        return nullptr;
    }
    std::unique_ptr<Module> m(new Module);
    m->handle_ = h;
    if (void* sym = dlsym(h, "VSTPluginMain")) {
        m->entry_ = reinterpret_cast<Entry>(sym);
        m->entry_name_ = "VSTPluginMain";
        return m;
    }
    if (error) *error = "the running program exports no VSTPluginMain";
    return nullptr;
}

Module::~Module() {
    if (handle_) dlclose(handle_);
}

}  // namespace zelo::vsthost
