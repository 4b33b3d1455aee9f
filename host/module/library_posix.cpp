// Modules on Linux: shared objects through the dynamic loader.
#include <dlfcn.h>

#include "host/module/library.h"

namespace zelo::module {

std::unique_ptr<Library> Library::load(const std::string& path, std::string* error) {
    // Local binding, as Linux hosts load plug-ins: each module keeps its own symbols.
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = dlerror();
        if (error) *error = why ? why : "cannot load " + path;
        return nullptr;
    }
    std::unique_ptr<Library> lib(new Library);
    lib->handle_ = h;
    return lib;
}

std::unique_ptr<Library> Library::self(std::string* error) {
    void* h = dlopen(nullptr, RTLD_NOW);
    if (!h) {
        if (error) *error = "cannot open the running program";
        return nullptr;
    }
    std::unique_ptr<Library> lib(new Library);
    lib->handle_ = h;
    return lib;
}

void* Library::symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

Library::~Library() {
    if (handle_ && owned_) dlclose(handle_);
}

}  // namespace zelo::module
