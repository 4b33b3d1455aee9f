// CLAP modules on Windows: DLLs through LoadLibraryA.
#include <windows.h>

#include <cstdio>

#include "host/claphost/claphost.h"

namespace zelo::claphost {

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error) {
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " (Windows error %lu)", static_cast<unsigned long>(GetLastError()));
        if (error) *error = "cannot load " + path + buf;
        return nullptr;
    }
    std::unique_ptr<Module> m(new Module);
    m->handle_ = h;
    const auto* entry =
        reinterpret_cast<const clap_plugin_entry_t*>(reinterpret_cast<void*>(GetProcAddress(h, "clap_entry")));
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
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

}  // namespace zelo::claphost
