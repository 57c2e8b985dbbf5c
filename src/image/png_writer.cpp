#include "image/png_writer.h"

#include "diag/console.h"

#include <png.h>

#include <cstdio>
#include <cstring>

bool writePngRgba(const char* path, int width, int height, const uint8_t* pixels, bool fast) {
    if (width <= 0 || height <= 0 || pixels == nullptr) {
        consolePrint("Cannot write %s: empty image\n", path);
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    if (fast) image.flags |= PNG_IMAGE_FLAG_FAST;
    if (!png_image_write_to_file(&image, path, 0, pixels, 0, nullptr)) {
        consolePrint("Cannot write %s: %s\n", path, image.message);
        std::remove(path); // never leave a half-written picture behind
        return false;
    }
    return true;
}
