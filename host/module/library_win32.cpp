// Modules on Windows: DLLs through LoadLibraryA, and the running program's
// own export table.
#include <windows.h>

#include <cstdio>

#include "host/module/library.h"

namespace zelo::module {

std::unique_ptr<Library> Library::load(const std::string& path, std::string* error) {
    HMODULE h = LoadLibraryA(path.c_str());
    if (!h) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " (Windows error %lu)", static_cast<unsigned long>(GetLastError()));
        if (error) *error = "cannot load " + path + buf;
        return nullptr;
    }
    std::unique_ptr<Library> lib(new Library);
    lib->handle_ = h;
    return lib;
}

std::unique_ptr<Library> Library::self(std::string*) {
    // The program's own module: never freed, so no reference is taken.
    std::unique_ptr<Library> lib(new Library);
    lib->handle_ = GetModuleHandleA(nullptr);
    lib->owned_ = false;
    return lib;
}

void* Library::symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

Library::~Library() {
    if (handle_ && owned_) FreeLibrary(static_cast<HMODULE>(handle_));
}

}  // namespace zelo::module
