// A plug-in module loaded into this process (a shared object or a DLL), or
// the running program itself, and the addresses of what it exports. One
// loader for every plug-in format's host; the system's calls live in the
// platform's backend file.
#pragma once

#include <memory>
#include <string>

namespace zelo::module {

class Library {
public:
    // Loads the file, its own symbols kept to itself (as hosts load plug-ins).
    // Null with the system's reason in *error.
    static std::unique_ptr<Library> load(const std::string& path, std::string* error = nullptr);
    // The running program (its exports must be public, e.g. -rdynamic or a
    // module definition file). Null with the reason in *error.
    static std::unique_ptr<Library> self(std::string* error = nullptr);
    // Unloads what load() loaded; the running program stays.
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // The address of an exported symbol, or null.
    void* symbol(const char* name) const;

private:
    Library() = default;
    void* handle_ = nullptr;
    bool owned_ = true;  // false: a handle the system keeps (the program's own)
};

}  // namespace zelo::module
