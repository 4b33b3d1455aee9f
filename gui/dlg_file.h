// Stand-in for the file dialog until the toolkit's own lands: answers come only
// from an installed script; without one every dialog is cancelled.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

class QZ_Win;

class QZ_Dlg {
public:
    explicit QZ_Dlg(QZ_Win* owner = nullptr) : owner_(owner) {}
    virtual ~QZ_Dlg() = default;
    QZ_Dlg(const QZ_Dlg&) = delete;
    QZ_Dlg& operator=(const QZ_Dlg&) = delete;
    void setOwner(QZ_Win* w) { owner_ = w; }
    QZ_Win* owner() const { return owner_; }

protected:
    QZ_Win* owner_;
};

enum class QZ_Dlg_Kind { open, save };

struct QZ_Dlg_File_Script {
    std::function<std::optional<std::string>(QZ_Dlg_Kind kind, const std::string& proposed,
                                             const std::string& notice)>
        choose;
    std::function<bool(const std::string& path)> replace;
};

class QZ_Dlg_File_Base : public QZ_Dlg {
public:
    static constexpr std::size_t PATH_CHARS = 4096;
    QZ_Dlg_File_Base(QZ_Win* owner, const char* filter) : QZ_Dlg(owner), filter_(filter) {}
    virtual const char* open() = 0;
    virtual const char* save() = 0;
    static QZ_Dlg_File_Script* script(QZ_Dlg_File_Script* s) { return script_.exchange(s); }
    static QZ_Dlg_File_Script* script() { return script_.load(); }

protected:
    const char* ask(QZ_Dlg_Kind kind) {
        QZ_Dlg_File_Script* s = script_.load();
        if (!s || !s->choose) return nullptr;
        std::optional<std::string> r = s->choose(kind, path_, "");
        if (!r || r->size() + 1 > PATH_CHARS) return nullptr;
        std::memcpy(path_, r->c_str(), r->size() + 1);
        return path_;
    }
    const char* filter_;
    char path_[PATH_CHARS] = {};

private:
    static inline std::atomic<QZ_Dlg_File_Script*> script_{nullptr};
};

class QZ_Dlg_File : public QZ_Dlg_File_Base {
public:
    QZ_Dlg_File(QZ_Win* owner, const char* filter) : QZ_Dlg_File_Base(owner, filter) {}
    const char* open() override { return ask(QZ_Dlg_Kind::open); }
    const char* save() override { return ask(QZ_Dlg_Kind::save); }
};
