// The Windows picture: its pixels live in a 32-bit top-down DIB section, so GDI
// can render text into it and BitBlt can copy from it with no conversion.
// Included by gui/pic.h on Windows only.
#pragma once

#include <cstdint>

template <class TPix>
class QZ_Pic_Win32 : public QZ_Pic_Base<TPix> {
public:
    QZ_Pic_Win32() = default;
    // Fresh DIB section of w x h pixels (the previous bitmap is deleted first).
    // When none can be had the picture is left empty, as the heap picture does.
    void allocate(std::int32_t w, std::int32_t h) override;
    // Deletes the device context (if a user made one) and the bitmap.
    ~QZ_Pic_Win32() override;

    // HBITMAP of the DIB section; null until allocate.
    void* bitmap() const { return bitmap_; }
    // A memory device context of the picture's user (HDC), deleted with it.
    void* dc = nullptr;

private:
    void* bitmap_ = nullptr;
};

extern template class QZ_Pic_Win32<QZ_Pix_A32>;
