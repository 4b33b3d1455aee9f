#include "core/resource.h"

#include <cctype>

#include "core/error.h"

namespace {
bool same_name(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}
}  // namespace

const unsigned char* QZ_resource_find(const char* name, std::size_t* size) {
    if (size) *size = 0;
    if (!name) return nullptr;
    for (const QZ_Resource_Entry* e = QZ_resource_table; e->name; ++e) {
        if (same_name(e->name, name)) {
            if (size) *size = e->size;
            return e->data;
        }
    }
    return nullptr;
}

const unsigned char* QZ_resource(const char* name) {
    const unsigned char* p = QZ_resource_find(name, nullptr);
    if (!p) QZ_error_func("QZ_cfuncs", 121, "QZ_resource", __DATE__, __TIME__, name ? name : "");
    return p;
}
