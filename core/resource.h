// Named data blocks that travel inside the binary (the pictures of the editor).
#pragma once

#include <cstddef>

struct QZ_Resource_Entry {
    const char* name;  // upper-case name
    const unsigned char* data;
    std::size_t size;
};

// The program's store, ended by a row with a null name. Defined by the resource
// library that the build generates from the files under resources/.
extern "C" const QZ_Resource_Entry QZ_resource_table[];

// Finds a resource by name, without regard to case; reports a missing name in
// the error box and returns null.
const unsigned char* QZ_resource(const char* name);

// The same lookup, also giving the length; no report. Null when absent.
const unsigned char* QZ_resource_find(const char* name, std::size_t* size);
