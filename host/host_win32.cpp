// The host window on Win32: the main window ("QZWINDOW") with a menu bar built
// from the host's menu model, and the effect window ("VERIZUVODA") that holds
// the selected instance's editor.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/error.h"
#include "host/host_front.h"
#include "host/menu_win32.h"
#include "host/sound_file.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback);

namespace {

constexpr DWORD kMainStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT kIdleMs = 40;

struct Front {
    QZ_Host* host = nullptr;
    HWND main = nullptr;
    HWND effect = nullptr;
    std::string help;
};
Front g_front;

// After every action: the menus show the model again (checks, greyed items,
// drivers, modes, instances and inputs as they now are).
void refresh_menus() {
    HMENU bar = zelo_build_menu(*g_front.host, QZ_Host::MENU_BAR);
    if (!bar) return;  // out of menu resources: the old menus stay rather than none
    HMENU old = GetMenu(g_front.main);
    SetMenu(g_front.main, bar);
    if (old) DestroyMenu(old);
    DrawMenuBar(g_front.main);
}

// The main window takes the editor's size (its client area), at (50, 50).
void fit_to_editor() {
    int w = 0, h = 0;
    if (!g_front.host->editor_rect(&w, &h)) return;
    RECT r{0, 0, w, h};
    AdjustWindowRectEx(&r, kMainStyle, TRUE, 0);
    SetWindowPos(g_front.main, nullptr, 50, 50, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(g_front.effect, nullptr, 0, 0, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void open_help(void*) {
    if (g_front.help.empty()) {
        QZ_error_func("host", __LINE__, "menu_help", __DATE__, __TIME__, "The help page is not installed");
        return;
    }
    // Above 32: started; anything else means no program could show the page.
    const INT_PTR r = reinterpret_cast<INT_PTR>(
        ShellExecuteA(g_front.main, "open", g_front.help.c_str(), "", "", SW_SHOWNORMAL));
    if (r <= 32)
        QZ_error_func("host", __LINE__, "menu_help", __DATE__, __TIME__, "Cannot open the help page in a browser");
}

LRESULT CALLBACK main_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wparam) == 0 && lparam == 0 && g_front.host) {
                g_front.host->command(LOWORD(wparam));
                refresh_menus();
                fit_to_editor();
                return 0;
            }
            break;
        case WM_TIMER:
            if (wparam == kIdleTimer && g_front.host) {
                g_front.host->idle();
                // A driver that went away is taken down on this thread; its
                // report's box comes after, outside the host mutex.
                if (g_front.host->driver_lost() && g_front.host->take_down_lost_driver()) refresh_menus();
            }
            return 0;
        case WM_CLOSE:
            ShowWindow(hwnd, SW_HIDE);
            KillTimer(hwnd, kIdleTimer);
            if (g_front.host) g_front.host->shutdown();
            PostQuitMessage(0);
            return 0;
        default: break;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

std::string exe_dir() {
    char buf[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string p(buf, n < sizeof buf ? n : 0);
    const std::size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

}  // namespace

std::string zelo_help_page(const char* dir) {
    const std::string base = dir ? dir : exe_dir();
    const std::string candidates[] = {
        base + "\\docs\\host.html",
        base + "\\..\\docs\\host.html",
#ifdef ZELO_SOURCE_DIR
        std::string(ZELO_SOURCE_DIR) + "/docs/host.html",  // the build tree (a Unix path under wine)
#endif
    };
    for (const std::string& c : candidates) {
        const DWORD a = GetFileAttributesA(c.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY)) return c;
    }
    return {};
}

int zelo_host_main(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            std::puts("usage: zelo host\n  opens the host window");
            return 0;
        }
        std::fprintf(stderr, "zelo: unexpected argument '%s'\n", a.c_str());
        return 2;
    }
    QZ_setenv_default("ZELO_VST_TRACE", "0");
    HINSTANCE inst = GetModuleHandleA(nullptr);
    HICON icon = LoadIconA(inst, "icon");
    HICON small_icon = LoadIconA(inst, "ComboSmallIcon");

    WNDCLASSEXA wc;
    ZeroMemory(&wc, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_SAVEBITS | CS_BYTEALIGNCLIENT;
    wc.lpfnWndProc = &main_proc;
    wc.hInstance = inst;
    wc.hIcon = icon;
    wc.hIconSm = small_icon;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = "QZWINDOW";
    RegisterClassExA(&wc);
    WNDCLASSEXA ec;
    ZeroMemory(&ec, sizeof ec);
    ec.cbSize = sizeof ec;
    ec.style = CS_SAVEBITS | CS_BYTEALIGNCLIENT;
    ec.lpfnWndProc = &DefWindowProcA;
    ec.hInstance = inst;
    ec.hCursor = LoadCursor(nullptr, IDC_ARROW);
    ec.hbrBackground = CreateSolidBrush(RGB(32, 64, 96));
    ec.lpszClassName = "VERIZUVODA";
    RegisterClassExA(&ec);

    g_front.help = zelo_help_page(nullptr);
    int status = 0;
    {
        QZ_Host host(&VSTPluginMain);
        g_front.host = &host;
        host.on_help = &open_help;
        host.start(zelo_driver_classes());
        HMENU bar = zelo_build_menu(host, QZ_Host::MENU_BAR);
        g_front.main = CreateWindowExA(0, "QZWINDOW", "ZELO", kMainStyle, 50, 50, 600, 450, nullptr, bar, inst,
                                       nullptr);
        if (!g_front.main) {
            std::fprintf(stderr, "zelo: cannot create the host window\n");
            g_front.host = nullptr;
            return 1;
        }
        g_front.effect = CreateWindowExA(0, "VERIZUVODA", "", WS_CHILD | WS_VISIBLE, 0, 0, 20, 20, g_front.main,
                                         nullptr, inst, nullptr);
        host.set_effect_window(g_front.effect);
        host.command(QZ_Host::CMD_ADD);
        refresh_menus();
        int w = 0, h = 0;
        if (!host.editor_rect(&w, &h)) {
            QZ_error_func("host", __LINE__, "WinMain", __DATE__, __TIME__, "Cannot get metrics of effect editor");
            w = 600;
            h = 800;
        }
        const std::string name = host.effect_name();
        if (!name.empty()) SetWindowTextA(g_front.main, name.c_str());
        RECT r{0, 0, w, h};
        AdjustWindowRectEx(&r, kMainStyle, TRUE, 0);
        SetWindowPos(g_front.main, nullptr, 50, 50, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
        SetWindowPos(g_front.effect, nullptr, 0, 0, w, h, SWP_NOZORDER);
        ShowWindow(g_front.main, SW_SHOW);
        UpdateWindow(g_front.main);
        QZ_initall();
        SetTimer(g_front.main, kIdleTimer, kIdleMs, nullptr);
        std::printf("zelo host: %d driver(s)\n", host.driver_count());
        std::fflush(stdout);

        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        host.shutdown();
        g_front.host = nullptr;
    }
    return status;
}
