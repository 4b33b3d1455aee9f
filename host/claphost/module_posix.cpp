// CLAP modules on Linux: shared objects through the dynamic loader.
#include <dlfcn.h>

#include "host/claphost/claphost.h"

namespace zelo::claphost {

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
    const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(h, "clap_entry"));
    if (!entry) {
        if (error) *error = path + " exports no clap_entry";
        return nullptr;
    }
    if (entry->clap_version.major != 1 || !entry->init || !entry->deinit || !entry->get_factory) {
        if (error) *error = path + " has an entry of a CLAP version other than 1";
        return nullptr;
    }
    if (!entry->init(path.c_str())) {
        if (error) *error = path + ": the entry's init failed";
        return nullptr;
    }
    m->entry_ = entry;
    return m;
}

Module::~Module() {
    if (entry_) entry_->deinit();
    if (handle_) dlclose(handle_);
}

}  // namespace zelo::claphost
