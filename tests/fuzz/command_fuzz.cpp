// Feeds arbitrary command texts to the interpreter in the text form: every word
// shape, option, handle, capacity and deletion order must be handled without a
// crash, an overrun or use of a deleted object.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/command.h"
#include "tests/core/test_registry.h"

namespace {
QZ_error run_text(const char* cmd, char* out, int* cap, ...) {
    va_list ap;
    va_start(ap, cap);
    QZ_error e = spcpp_execute(QZ_CMD_TEXT, cmd, out, cap, ap);
    va_end(ap);
    return e;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::freopen("/dev/null", "w", stdout);  // refusals print; keep the run quiet
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    int capacity = data[0] % 80;
    std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
    raw = raw.substr(0, raw.find('\0'));

    // A few live objects, addressable from the input as "@0".."@3" (a handle word).
    QZ_handle pool[4];
    for (auto& h : pool) {
        char buf[32];
        int cap = sizeof buf;
        run_text("QZ_Test_Child -v 1", buf, &cap);
        h = 0;
        std::sscanf(buf, "0x%X", &h);
    }
    std::string cmd;
    for (std::size_t k = 0; k < raw.size(); ++k) {
        if (raw[k] == '@' && k + 1 < raw.size() && raw[k + 1] >= '0' && raw[k + 1] <= '3') {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%X", pool[raw[k + 1] - '0']);
            cmd += hex;
            ++k;
        } else if (raw[k] == '%' && k + 1 < raw.size() && std::strchr("ifso", raw[k + 1])) {
            cmd += "%?";  // placeholders would read arguments this harness has none of
            ++k;
        } else {
            cmd += raw[k];
        }
    }

    std::vector<char> out(static_cast<std::size_t>(capacity) + 8, '\x5A');
    int cap = capacity;
    run_text(cmd.c_str(), out.data(), &cap);
    for (std::size_t k = static_cast<std::size_t>(capacity); k < out.size(); ++k)
        if (out[k] != '\x5A') __builtin_trap();  // written beyond the capacity

    // Delete whatever the command made, and the pool, so runs stay independent.
    while (!QZ_Test_Thing::all().empty()) delete *QZ_Test_Thing::all().begin();
    return 0;
}
