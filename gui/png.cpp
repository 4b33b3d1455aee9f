#include "gui/png.h"

#include <png.h>

#include <cstring>
#include <vector>

bool QZ_png_write(const char* path, const QZ_Picture& pic) {
    if (!pic.pixels || pic.width <= 0 || pic.height <= 0) return false;
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(pic.width);
    img.height = static_cast<png_uint_32>(pic.height);
    img.format = PNG_FORMAT_BGRA;  // the memory order of QZ_Pix_A32
    const bool ok = png_image_write_to_file(&img, path, 0, pic.pixels, 0, nullptr) != 0;
    png_image_free(&img);
    return ok;
}

bool QZ_png_read(const char* path, QZ_Picture& pic) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path)) return false;
    img.format = PNG_FORMAT_BGRA;
    if (img.width > 16384 || img.height > 16384) {
        png_image_free(&img);
        return false;
    }
    std::vector<QZ_Pix_A32> buf(static_cast<std::size_t>(img.width) * img.height);
    if (!png_image_finish_read(&img, nullptr, buf.data(), 0, nullptr)) {
        png_image_free(&img);
        return false;
    }
    pic.allocate(static_cast<std::int32_t>(img.width), static_cast<std::int32_t>(img.height));
    if (!buf.empty()) std::memcpy(pic.pixels, buf.data(), buf.size() * sizeof(QZ_Pix_A32));
    return true;
}
