#include "gui/dlg_file.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::atomic<QZ_Dlg_File_Script*> QZ_Dlg_File_Base::script_{nullptr};

namespace {
// A filter list longer than this is taken to be missing its final zero.
constexpr std::size_t FILTER_LIMIT = 1 << 16;

bool glob(const char* p, const char* pe, const char* s, const char* se) {
    // Iterative wildcard match with one backtracking point for the last '*'.
    const char *star = nullptr, *resume = nullptr;
    while (s < se) {
        if (p < pe && *p == '*') {
            star = ++p;
            resume = s;
        } else if (p < pe && (*p == '?' || std::tolower(static_cast<unsigned char>(*p)) ==
                                               std::tolower(static_cast<unsigned char>(*s)))) {
            ++p;
            ++s;
        } else if (star) {
            p = star;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (p < pe && *p == '*') ++p;
    return p == pe;
}

std::size_t bounded_len(const char* s, std::size_t limit) {
    const void* z = std::memchr(s, 0, limit);
    return z ? static_cast<std::size_t>(static_cast<const char*>(z) - s) : limit;
}

std::string last_component(const std::string& path) {
    const auto slash = path.find_last_of(fs::path::preferred_separator == '\\' ? "\\/" : "/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

QZ_Dlg_File_Base::QZ_Dlg_File_Base(QZ_Win* owner, const char* filter, const char* default_ext)
    : QZ_Dlg(owner), filter_(filter), default_ext_(default_ext ? default_ext : "") {}

std::vector<std::pair<std::string, std::string>> QZ_Dlg_File_Base::filters() const {
    std::vector<std::pair<std::string, std::string>> out;
    if (!filter_) return out;
    const char* p = filter_;
    const char* const end = filter_ + FILTER_LIMIT;
    while (p < end && *p) {
        const char* d = p;
        const std::size_t dn = bounded_len(d, static_cast<std::size_t>(end - d));
        if (d + dn >= end) break;
        const char* pat = d + dn + 1;
        if (pat >= end || !*pat) break;  // a description without its pattern
        const std::size_t pn = bounded_len(pat, static_cast<std::size_t>(end - pat));
        if (pat + pn >= end) break;
        out.emplace_back(std::string(d, dn), std::string(pat, pn));
        p = pat + pn + 1;
    }
    return out;
}

bool QZ_Dlg_File_Base::matches(const std::string& name) const {
    const auto list = filters();
    if (list.empty()) return true;
    for (const auto& [desc, pats] : list) {
        std::size_t at = 0;
        while (at <= pats.size()) {
            std::size_t semi = pats.find(';', at);
            if (semi == std::string::npos) semi = pats.size();
            const char* b = pats.data() + at;
            const char* e = pats.data() + semi;
            while (b < e && *b == ' ') ++b;
            while (e > b && e[-1] == ' ') --e;
            if (b < e && glob(b, e, name.data(), name.data() + name.size())) return true;
            at = semi + 1;
        }
    }
    return false;
}

std::string QZ_Dlg_File_Base::complete(const std::string& typed) const {
    if (typed.empty() || !*default_ext_) return typed;
    const std::string name = last_component(typed);
    if (name.empty() || name == "." || name == "..") return typed;
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size()) return typed;  // has an extension
    std::string out = typed;
    if (out.back() != '.') out += '.';
    return out + default_ext_;
}

bool QZ_Dlg_File_Base::exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

std::string QZ_Dlg_File_Base::refusal(QZ_Dlg_Kind kind, const std::string& path) {
    if (path.empty()) return "Type a file name.";
    std::error_code ec;
    const fs::path p(path);
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    const std::string name = last_component(path);
    if (name.empty()) return "Type a file name.";
    if (!fs::is_directory(folder, ec)) return "Folder not found: " + folder.string();
    if (fs::is_directory(p, ec)) return name + " is a folder.";
    if (kind == QZ_Dlg_Kind::open && !fs::is_regular_file(p, ec))
        return "File not found: " + name;
    return {};
}

QZ_Dlg_File_Script* QZ_Dlg_File_Base::script(QZ_Dlg_File_Script* s) { return script_.exchange(s); }

bool QZ_Dlg_File_Base::accept(const char* path) {
    if (!path) return false;
    const std::size_t n = bounded_len(path, PATH_CHARS);
    if (n == 0 || n >= PATH_CHARS) return false;
    std::memcpy(path_, path, n + 1);
    return true;
}

const char* QZ_Dlg_File_Base::ask(QZ_Dlg_Kind kind, const Asker& asker) {
    if (!asker.choose) return nullptr;
    std::string proposed = path_;
    std::string notice;
    // A dialog stays up until the user settles; a script that never does is
    // cut short rather than looping for ever.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::optional<std::string> typed = asker.choose(kind, proposed, notice);
        if (!typed) return nullptr;
        // A bare name is taken in the folder the dialog showed: that of the last choice.
        std::error_code ec;
        std::string path = *typed;
        if (!path.empty() && fs::path(path).is_relative()) {
            const fs::path last(proposed);
            const fs::path p = (last.has_parent_path() ? last.parent_path() : fs::current_path(ec)) / path;
            path = fs::absolute(p, ec).lexically_normal().string();
        }
        // A file to open that exists under the very name typed is taken as it
        // is; any other name without an extension gets the default one.
        if (!(kind == QZ_Dlg_Kind::open && fs::is_regular_file(fs::path(path), ec))) path = complete(path);
        notice = refusal(kind, path);
        if (notice.empty() && path.size() >= PATH_CHARS) notice = "The file name is too long.";
        proposed = path;
        if (!notice.empty()) continue;
        if (kind == QZ_Dlg_Kind::save && exists(path) && !(asker.replace && asker.replace(path))) continue;
        std::memcpy(path_, path.c_str(), path.size() + 1);
        return path_;
    }
    return nullptr;
}

const char* QZ_Dlg_File_Base::ask_script(QZ_Dlg_Kind kind, bool* scripted) {
    QZ_Dlg_File_Script* s = script_.load();
    *scripted = s != nullptr;
    if (!s) return nullptr;
    Asker a;
    a.choose = s->choose;
    a.replace = s->replace;
    return ask(kind, a);
}
