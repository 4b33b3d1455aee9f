// The file dialog's name handling: filter lists as the editor hands them in
// (zero-terminated pairs, closed by one more zero), names from folder listings
// matched against their patterns, and typed names completed with the extension.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/dlg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t split = data[0] < size ? data[0] : size - 1;
    // The list always carries its closing zeros; everything before them is fuzzed.
    std::vector<char> filter(data + 1, data + 1 + split);
    filter.push_back('\0');
    filter.push_back('\0');
    const std::string name(reinterpret_cast<const char*>(data + 1 + split), size - 1 - split);

    QZ_Dlg_File dlg(nullptr, filter.data());
    const auto pairs = dlg.filters();
    for (const auto& [desc, pat] : pairs)
        if (desc.empty() || pat.empty()) __builtin_trap();  // an empty part ends the list
    const bool m = dlg.matches(name);
    if (pairs.empty() && !m) __builtin_trap();  // no filter shows everything
    const std::string done = dlg.complete(name);
    if (done.compare(0, name.size(), name) != 0) __builtin_trap();  // completing only appends
    return 0;
}
