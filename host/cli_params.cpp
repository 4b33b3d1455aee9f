#include "host/cli_params.h"

#include <cctype>

namespace {

constexpr std::size_t kCutNameLength = 7;

bool same(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

int zelo_find_parameter(const std::vector<Param_Names>& names, const std::string& name) {
    if (name.empty()) return kNoParameter;
    for (std::size_t i = 0; i < names.size(); ++i)
        if ((!names[i].shown.empty() && same(names[i].shown, name)) ||
            (!names[i].full.empty() && same(names[i].full, name)))
            return static_cast<int>(i);
    // Short names are cut to what the plug-in interface holds (7 characters
    // and the end): a longer name that such a cut one starts is its full name,
    // when it can be only one. A shorter short name is whole already.
    int found = kNoParameter;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& shown = names[i].shown;
        if (shown.size() < kCutNameLength || shown.size() >= name.size() ||
            !same(shown, name.substr(0, shown.size())))
            continue;
        if (found != kNoParameter) return kAmbiguousParameter;
        found = static_cast<int>(i);
    }
    return found;
}

std::string zelo_parameter_list(const std::vector<Param_Names>& names) {
    std::string list;
    for (const Param_Names& n : names) {
        if (!list.empty()) list += ", ";
        list += n.shown;
        if (!n.full.empty() && n.full != n.shown) list += " (" + n.full + ")";
    }
    return list;
}
