#include "gui/win_win32.h"

#include <chrono>
#include <cstdio>
#include <mutex>

namespace {
// The module this code is linked into (the plug-in DLL or the program): its
// instance names the window class, so two copies of the toolkit in one process
// each register their own.
HINSTANCE this_module() {
    HMODULE m = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&this_module), &m);
    return m;
}

std::once_flag g_class_once;
char g_class_name[32];
bool g_class_ok = false;

// Deferred work for the window's thread.
constexpr UINT kDeferredMessage = WM_APP + 0x51;

std::int32_t lo_word(LPARAM l) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(l & 0xFFFF)); }
std::int32_t hi_word(LPARAM l) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((l >> 16) & 0xFFFF));
}
}  // namespace

const char* QZ_Win_Win32::class_name() {
    std::call_once(g_class_once, [] {
        HINSTANCE inst = this_module();
        std::snprintf(g_class_name, sizeof g_class_name, "QZFRAMEx%8.8X",
                      static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(inst)));
        WNDCLASSEXA wc;
        ZeroMemory(&wc, sizeof wc);
        wc.cbSize = sizeof wc;  // 48 on 32-bit Windows
        wc.style = 0;
        wc.lpfnWndProc = &QZ_Win_Win32::window_proc;
        wc.hInstance = inst;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<std::intptr_t>(COLOR_BTNFACE + 1));
        wc.lpszClassName = g_class_name;
        // Another copy of this module already registered it: that one serves.
        g_class_ok = RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    });
    return g_class_ok ? g_class_name : nullptr;
}

QZ_Win_Win32::QZ_Win_Win32(std::int32_t width, std::int32_t height) : QZ_Win(width, height) {}

QZ_Win_Win32::~QZ_Win_Win32() {
    hwnd(nullptr);
    if (mem_dc_) {
        SelectObject(mem_dc_, mem_old_);
        DeleteDC(mem_dc_);
    }
}

HWND QZ_Win_Win32::hwnd(HWND parent) {
    const char* cls = class_name();
    if (parent == parent_) return parent_;
    if (hwnd_) {
        HWND old = hwnd_;
        {
            // A host thread painting must not blit into a window going away.
            std::lock_guard<std::recursive_timed_mutex> lock(paint_mutex());
            hwnd_ = nullptr;
        }
        SetWindowLongPtrA(old, GWLP_USERDATA, 0);
        if (GetWindowThreadProcessId(old, nullptr) == GetCurrentThreadId()) {
            DestroyWindow(old);
        } else {
            // Only the window's own thread may destroy it (a host closing the
            // effect on a worker thread): hand it to that thread's message loop
            // with the system's window procedure, whose WM_CLOSE destroys it, so
            // nothing of this module is called once the module may be gone.
            SetWindowLongPtrA(old, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
            ShowWindowAsync(old, SW_HIDE);
            PostMessageA(old, WM_CLOSE, 0, 0);
        }
    }
    parent_ = nullptr;
    tracking_ = false;
    if (!parent || !cls) return nullptr;

    HWND w = CreateWindowExA(0, cls, "Window", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                             width(), height(), parent, nullptr, this_module(), nullptr);
    if (!w) return nullptr;
    SetWindowLongPtrA(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (!mem_dc_) {
        HDC wdc = GetDC(w);
        mem_dc_ = CreateCompatibleDC(wdc);
        ReleaseDC(w, wdc);
    }
    {
        std::lock_guard<std::recursive_timed_mutex> lock(paint_mutex());
        hwnd_ = w;
        parent_ = parent;
    }
    return parent_;
}

void QZ_Win_Win32::paint_into(HDC dc, const QZ_Rect& r) {
    std::unique_lock<std::recursive_timed_mutex> lock(paint_mutex(), std::defer_lock);
    if (!lock.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(1000))) return;
    HDC before = target_;
    target_ = dc;
    paint(r);
    target_ = before;
}

void QZ_Win_Win32::redraw(const QZ_Rect& r) {
    std::unique_lock<std::recursive_timed_mutex> lock(paint_mutex(), std::defer_lock);
    if (!lock.try_lock_until(std::chrono::system_clock::now() + std::chrono::milliseconds(1000))) return;
    if (!hwnd_) return;
    HDC dc = GetDC(hwnd_);
    if (!dc) return;
    paint_into(dc, r);
    ReleaseDC(hwnd_, dc);
}

bool QZ_Win_Win32::defer() {
    // Read without the paint lock, which a paint holds for long: a handle gone
    // stale meanwhile only makes the post fail.
    HWND w = hwnd_;
    if (!w || GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) return false;
    if (deferred_.exchange(true)) return true;
    if (PostMessageA(w, kDeferredMessage, 0, 0)) return true;
    deferred_ = false;
    return false;
}

void QZ_Win_Win32::present(const QZ_Rect& s, const QZ_Picture& tile, std::int32_t tile_x, std::int32_t tile_y) {
    if (!target_ || !mem_dc_ || !tile.bitmap()) return;
    HGDIOBJ prev = SelectObject(mem_dc_, static_cast<HBITMAP>(tile.bitmap()));
    if (!mem_old_) mem_old_ = prev;
    BitBlt(target_, s.left, s.top, s.right - s.left, s.bottom - s.top, mem_dc_, s.left - tile_x, s.top - tile_y,
           SRCCOPY);
}

LRESULT CALLBACK QZ_Win_Win32::window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<QZ_Win_Win32*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcA(hwnd, msg, wparam, lparam);
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (dc) {
                self->paint_into(dc, {ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom});
                EndPaint(hwnd, &ps);
            }
            return 0;
        }
        case kDeferredMessage:
            self->deferred_ = false;
            self->run_deferred();
            return 0;
        case WM_CLOSE: PostQuitMessage(0); return 0;
        case WM_NCDESTROY:
            // Destroyed with its parent (a host that drops its frame before
            // closing the editor): forget the handle, which the system may give
            // to another window, so that nothing later blits into or destroys it.
            if (self->hwnd_ == hwnd) {
                std::lock_guard<std::recursive_timed_mutex> lock(self->paint_mutex());
                self->hwnd_ = nullptr;
                self->parent_ = nullptr;
                self->tracking_ = false;
            }
            return DefWindowProcA(hwnd, msg, wparam, lparam);
        case WM_ERASEBKGND: return 1;  // painting covers every pixel
        case WM_MOUSEMOVE: {
            if (!self->tracking_) {
                self->tracking_ = true;
                TRACKMOUSEEVENT t;
                ZeroMemory(&t, sizeof t);
                t.cbSize = sizeof t;
                t.dwFlags = TME_LEAVE;
                t.hwndTrack = hwnd;
                t.dwHoverTime = HOVER_DEFAULT;
                TrackMouseEvent(&t);
            }
            self->pointer_move(lo_word(lparam), hi_word(lparam));
            return 0;
        }
        case WM_LBUTTONDOWN: {
            SetCapture(hwnd);
            const std::int32_t x = lo_word(lparam), y = hi_word(lparam);
            // A press with no move before it (a click from automation, or the
            // first one after the window appeared) still finds its widget.
            if (!self->captured()) self->pointer_move(x, y);
            self->pointer_down(x, y);
            return 0;
        }
        case WM_LBUTTONUP:
            ReleaseCapture();
            self->pointer_up();
            return 0;
        case WM_MOUSELEAVE:
            ReleaseCapture();
            // The notice is one-shot: ask again at the next move, so that the
            // highlight goes away every time the pointer leaves.
            self->tracking_ = false;
            self->pointer_leave();
            return 0;
        default: return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
}
