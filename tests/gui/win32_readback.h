// What a Win32 window shows, read back from the screen with BitBlt and
// compared with a picture the toolkit composed.
#pragma once

#include <windows.h>

#include "gui/pic.h"

// Pixels of the window's client area that differ from the picture (colours
// only); -1 when the client area is smaller than the picture.
inline int win32_screen_differences(HWND w, const QZ_Picture& want) {
    RECT client{};
    GetClientRect(w, &client);
    if (client.right < want.width || client.bottom < want.height) return -1;
    HDC wdc = GetDC(w);
    HDC mem = CreateCompatibleDC(wdc);
    QZ_Picture got;
    got.allocate(want.width, want.height);
    HGDIOBJ old = SelectObject(mem, static_cast<HBITMAP>(got.bitmap()));
    BitBlt(mem, 0, 0, want.width, want.height, wdc, 0, 0, SRCCOPY);
    GdiFlush();
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(w, wdc);
    int bad = 0;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x) {
            const QZ_Pix_A32 a = got.at(x, y), b = want.at(x, y);
            if (a.r != b.r || a.g != b.g || a.b != b.b) ++bad;
        }
    return bad;
}
