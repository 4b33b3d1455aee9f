// Installed ASIO drivers from the registry, created through COM.
#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "rts/asio_list.h"

namespace {

// True when the module path read from the registry names an existing file.
// Checked by its attributes: OpenFile refuses paths of 128 characters or more,
// and a driver installed that deep would go unlisted. A path of the expandable
// kind ("%ProgramFiles%\Vendor\driver.dll") is expanded first, as COM does.
bool file_exists(const char* path, DWORD type) {
    char expanded[512];
    if (type == REG_EXPAND_SZ) {
        const DWORD n = ExpandEnvironmentStringsA(path, expanded, sizeof expanded);
        if (n == 0 || n > sizeof expanded) return false;
        path = expanded;
    } else if (type != REG_SZ) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// True when the CLSID text is registered with an in-process module that exists.
bool module_exists(const char* clsid_text) {
    char wanted[256];
    std::strncpy(wanted, clsid_text, sizeof wanted - 1);
    wanted[sizeof wanted - 1] = 0;
    CharLowerBuffA(wanted, static_cast<DWORD>(std::strlen(wanted)));

    HKEY classes = nullptr;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, "clsid", &classes) != ERROR_SUCCESS) return false;
    bool found = false;
    char sub[512];
    for (DWORD n = 0; RegEnumKeyA(classes, n, sub, sizeof sub) == ERROR_SUCCESS; ++n) {
        CharLowerBuffA(sub, static_cast<DWORD>(std::strlen(sub)));
        if (std::strcmp(sub, wanted) != 0) continue;
        HKEY key = nullptr, server = nullptr;
        if (RegOpenKeyExA(classes, sub, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            if (RegOpenKeyExA(key, "InprocServer32", 0, KEY_READ, &server) == ERROR_SUCCESS) {
                char path[512] = {};
                DWORD size = sizeof path - 1, type = 0;
                if (RegQueryValueExA(server, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) ==
                    ERROR_SUCCESS)
                    found = file_exists(path, type);
                RegCloseKey(server);
            }
            RegCloseKey(key);
        }
        break;
    }
    RegCloseKey(classes);
    return found;
}

bool read_string(HKEY key, const char* value, char* out, DWORD size) {
    DWORD type = 0, n = size - 1;
    std::memset(out, 0, size);
    return RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(out), &n) == ERROR_SUCCESS &&
           type == REG_SZ;
}

class Registry_Source : public QZ_Asio_Source {
public:
    std::vector<Found> scan() override {
        std::vector<Found> found;
        HKEY asio = nullptr;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\asio", &asio) != ERROR_SUCCESS) return found;
        char sub[128];
        for (DWORD n = 0; RegEnumKeyA(asio, n, sub, sizeof sub) == ERROR_SUCCESS; ++n) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(asio, sub, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
            char clsid_text[256];
            if (read_string(key, "clsid", clsid_text, sizeof clsid_text) && module_exists(clsid_text)) {
                Found f{};
                WCHAR wide[128] = {};
                if (MultiByteToWideChar(CP_ACP, 0, clsid_text, -1, wide, 128) == 0 ||
                    CLSIDFromString(wide, reinterpret_cast<CLSID*>(&f.clsid)) != S_OK)
                    f.clsid = QZ_Guid{};
                char description[256];
                f.name = read_string(key, "description", description, sizeof description) ? description : sub;
                if (f.name.size() > 127) f.name.resize(127);
                found.push_back(f);
            }
            RegCloseKey(key);
        }
        RegCloseKey(asio);
        return found;
    }

    std::int32_t create(const QZ_Guid& clsid, IASIO** driver) override {
        const CLSID& id = reinterpret_cast<const CLSID&>(clsid);
        void* object = nullptr;
        const HRESULT r = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, id, &object);
        *driver = r == S_OK ? static_cast<IASIO*>(object) : nullptr;
        return r == S_OK ? 0 : static_cast<std::int32_t>(r);
    }

    // Only a start that took is undone at the end: on a thread already in the
    // multithreaded apartment CoInitialize fails, and undoing it anyway would
    // take COM away from the host that set the thread up.
    void begin() override {
        if (SUCCEEDED(CoInitialize(nullptr))) ++joined_;
    }
    void end() override {
        if (joined_ > 0) {
            --joined_;
            CoUninitialize();
        }
    }

private:
    int joined_ = 0;
};

}  // namespace

QZ_Asio_Source* QZ_asio_platform_source() {
    static Registry_Source source;
    return &source;
}
