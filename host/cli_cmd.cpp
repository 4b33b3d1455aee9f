#include "host/cli_cmd.h"

#include <cstdarg>
#include <cstring>
#include <iostream>

#include "core/command.h"

namespace {

QZ_error run_text(const char* cmd, char* out, int* cap, ...) {
    va_list ap;
    va_start(ap, cap);
    QZ_error e = spcpp_execute(QZ_CMD_TEXT, cmd, out, cap, ap);
    va_end(ap);
    return e;
}

// A placeholder would take a value from an argument list that a typed line does
// not have; only the bare "%" (and "%" with another letter) is harmless.
bool has_placeholder(const std::string& line) {
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(' ', start);
        if (end == std::string::npos) end = line.size();
        if (end - start == 2 && line[start] == '%' && std::strchr("ifso", line[start + 1])) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

const char* const zelo_cmd_demo_script[] = {
    "QZ_Soundpipe -bl 512 -b",
    "QZ_Soundpipe current -bl",
    "QZ_Buffer -t buf_i -l",
    "QZ_Buffer -t lpf_buffer -limit",
    "QZ_Effect_Lopass -f 440.7 -f -mode -clock 44100 -on",
    "QZ_Effect_Lopass -mode add -mode -f 1000 -f",
    "QZ_Soundpipe current -e",
    nullptr,
};

bool zelo_cmd_run_line(const std::string& line, std::FILE* out) {
    if (line.empty() || line[0] == '#') return true;
    if (has_placeholder(line)) {
        std::fprintf(
            out,
            "error: placeholders (%%i %%f %%s %%o) need a program's arguments; write values in the text\n");
        return false;
    }
    static char result[8192];
    int cap = sizeof result - 1;
    QZ_error e = run_text(line.c_str(), result, &cap);
    std::fflush(stdout);  // the interpreter's own messages come first
    if (e != QZ_OK) {
        std::fprintf(out, "error: %s\n", e);
        return false;
    }
    result[cap < 0 ? 0 : cap] = '\0';
    std::fprintf(out, "%s\n", result);
    return true;
}

int zelo_cmd_main(const std::vector<std::string>& args) {
    bool ok = true;
    if (!args.empty() && args[0] == "--demo") {
        for (const char* const* c = zelo_cmd_demo_script; *c; ++c) {
            std::printf("> %s\n", *c);
            ok = zelo_cmd_run_line(*c, stdout) && ok;
        }
    } else if (!args.empty()) {
        for (const std::string& a : args) ok = zelo_cmd_run_line(a, stdout) && ok;
    } else {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ok = zelo_cmd_run_line(line, stdout) && ok;
        }
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
