#include <windows.h>

#include "gui/pic.h"

namespace {
// What a fresh memory device context holds: selected in place of a bitmap
// about to be deleted (GDI refuses to delete a selected bitmap).
HBITMAP placeholder_bitmap() {
    static HBITMAP one = CreateBitmap(1, 1, 1, 1, nullptr);
    return one;
}
}  // namespace

template <class TPix>
void QZ_Pic_Win32<TPix>::allocate(std::int32_t w, std::int32_t h) {
    if (bitmap_) {
        if (dc) SelectObject(static_cast<HDC>(dc), placeholder_bitmap());
        DeleteObject(static_cast<HBITMAP>(bitmap_));
        bitmap_ = nullptr;
    }
    this->pixels = nullptr;
    this->owned_ = false;
    this->width = 0;
    this->height = 0;
    if (w <= 0 || h <= 0) return;

    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    BITMAPINFOHEADER& hdr = info.bmiHeader;
    hdr.biSize = sizeof(BITMAPINFOHEADER);  // 40
    hdr.biWidth = w;
    hdr.biHeight = -h;  // negative: rows run top to bottom
    hdr.biPlanes = 1;
    hdr.biBitCount = 32;
    hdr.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp || !bits) {
        if (bmp) DeleteObject(bmp);
        return;  // sized absurdly by a command: no picture, no exception during a paint
    }
    bitmap_ = bmp;
    this->pixels = static_cast<TPix*>(bits);
    this->owned_ = true;
    this->width = w;
    this->height = h;
}

template <class TPix>
QZ_Pic_Win32<TPix>::~QZ_Pic_Win32() {
    if (dc) DeleteDC(static_cast<HDC>(dc));
    if (bitmap_) DeleteObject(static_cast<HBITMAP>(bitmap_));
}

template class QZ_Pic_Win32<QZ_Pix_A32>;
