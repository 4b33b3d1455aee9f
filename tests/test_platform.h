// What the tests need from the operating system, said once for Linux and for
// Windows so that every test source serves both.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace zelo_test {

inline void set_env(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

inline void unset_env(const char* name) {
#if defined(_WIN32)
    _putenv_s(name, "");  // an empty value removes the variable
#else
    unsetenv(name);
#endif
}

// A module loaded on its own (not through the test host), for looking at what it exports.
class Loaded_Module {
public:
    explicit Loaded_Module(const char* path) {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path);
#else
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Loaded_Module() {
#if defined(_WIN32)
        if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
#else
        if (handle_) dlclose(handle_);
#endif
    }
    Loaded_Module(const Loaded_Module&) = delete;
    Loaded_Module& operator=(const Loaded_Module&) = delete;

    bool ok() const { return handle_ != nullptr; }
    void* symbol(const char* name) const {
        if (!handle_) return nullptr;
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        return dlsym(handle_, name);
#endif
    }

private:
    void* handle_ = nullptr;
};

#if defined(_WIN32)
// Every name a Windows host may look the entry up by.
inline const std::vector<std::string> kEntryNames = {"_VSTPluginMain", "VSTPluginMain", "main", "MAIN", "_MAIN"};
// The name the standalone program finds the entry in itself by.
inline const char* const kSelfEntryName = "_VSTPluginMain";
// A real library of the system that is no plug-in.
inline const char* const kSystemLibrary = "kernel32.dll";
#else
inline const std::vector<std::string> kEntryNames = {"VSTPluginMain", "main"};
inline const char* const kSelfEntryName = "VSTPluginMain";
inline const char* const kSystemLibrary = "libm.so.6";
#endif

}  // namespace zelo_test
