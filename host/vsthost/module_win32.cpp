// Plug-in modules on Windows: DLLs through LoadLibraryA, and the running
// program's own export table for the effect built into it.
#include <windows.h>

#include <cstdio>

#include "host/vsthost/vsthost.h"

namespace zelo::vsthost {

namespace {
std::string last_error_text(const char* what) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " (Windows error %lu)", static_cast<unsigned long>(GetLastError()));
    return std::string(what) + buf;
}
}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error) {
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) {
        if (error) *error = last_error_text(("cannot load " + path).c_str());
        return nullptr;
    }
    std::unique_ptr<Module> m(new Module);
    m->handle_ = h;
    for (const char* name : {"VSTPluginMain", "main"}) {
        if (FARPROC sym = GetProcAddress(h, name)) {
            m->entry_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(sym));
            m->entry_name_ = name;
            return m;
        }
    }
    if (error) *error = path + " exports neither VSTPluginMain nor main";
    return nullptr;
}

std::unique_ptr<Module> Module::self(std::string* error) {
    // The program's own module: never freed, so no reference is taken.
    HMODULE h = GetModuleHandleA(nullptr);
    std::unique_ptr<Module> m(new Module);
    if (FARPROC sym = GetProcAddress(h, "_VSTPluginMain")) {
        m->entry_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(sym));
        m->entry_name_ = "_VSTPluginMain";
        return m;
    }
    if (error) *error = "the running program exports no _VSTPluginMain";
    return nullptr;
}

Module::~Module() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

}  // namespace zelo::vsthost
