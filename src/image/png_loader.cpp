#include "image/image_loaders.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// longjmp from libpng's error handler lands in loadPng: nothing in it may need a destructor.

namespace {

// libpng's message becomes the reason; a read that ran out of file says so in our words.
[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    if (char* reason = static_cast<char*>(png_get_error_ptr(png))) {
        FILE* file = static_cast<FILE*>(png_get_io_ptr(png));
        if (file && std::feof(file)) {
            const long at = std::ftell(file);
            if (at == 0)
                std::snprintf(reason, kImageReasonBytes, "empty file (0 bytes)");
            else
                std::snprintf(reason, kImageReasonBytes, "file ends early, after %ld bytes", at);
        } else {
            std::snprintf(reason, kImageReasonBytes, "%s", message);
        }
    }
    png_longjmp(png, 1);
}

// Warnings (a bad ancillary chunk, a CRC the library accepts) do not stop the picture.
void pngWarning(png_structp, png_const_charp) {}

uint8_t* failPng(png_structp png, png_infop info, FILE* file, void* rows, void* pixels) {
    std::free(rows);
    std::free(pixels);
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    std::fclose(file);
    return nullptr;
}
} // namespace

uint8_t* loadPng(FILE* file, int32_t* width, int32_t* height, char* reason) {
    if (reason) reason[0] = 0;
    // The library's own version string: libpng 1.6 refuses to create a reader for any other
    // major.minor.
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, reason, pngError, pngWarning);
    if (!png) {
        if (reason) std::snprintf(reason, kImageReasonBytes, "out of memory");
        std::fclose(file);
        return nullptr;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        if (reason) std::snprintf(reason, kImageReasonBytes, "out of memory");
        return failPng(png, nullptr, file, nullptr, nullptr);
    }

    // Assigned after setjmp and read after a longjmp: volatile keeps them out of registers.
    png_bytep* volatile rows = nullptr;
    uint8_t* volatile pixels = nullptr;
    if (setjmp(png_jmpbuf(png))) return failPng(png, info, file, rows, pixels);

    // The library's own side limit is lifted to the format's, so that our check below can
    // name the size; nothing is allocated by the size before it.
    png_set_user_limits(png, 0x7fffffffu, 0x7fffffffu);
    png_init_io(png, file);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &bitDepth, &colorType, &interlace, nullptr, nullptr);
    if (!imageSizeAllowed(w, h)) {
        if (reason) describeOversizedImage(reason, w, h);
        return failPng(png, info, file, nullptr, nullptr);
    }

    png_set_strip_16(png);
    png_set_bgr(png);
    png_set_packing(png);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_expand(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_expand(png);
    png_set_filler(png, 255, PNG_FILLER_AFTER);
    // Grey (with or without alpha) is replicated into the three colour bytes.
    if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const size_t rowBytes = size_t(w) * 4;
    if (png_get_rowbytes(png, info) != rowBytes || png_get_channels(png, info) != 4 ||
        png_get_bit_depth(png, info) != 8) {
        if (reason) std::snprintf(reason, kImageReasonBytes, "unsupported PNG layout");
        return failPng(png, info, file, nullptr, nullptr);
    }

    // Every row is exactly width x 4 bytes, so libpng decodes straight into the result.
    pixels = static_cast<uint8_t*>(std::malloc(rowBytes * h));
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
    if (!pixels || !rows) {
        if (reason) std::snprintf(reason, kImageReasonBytes, "out of memory");
        return failPng(png, info, file, rows, pixels);
    }
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = pixels + rowBytes * y;
    png_read_image(png, rows);

    uint8_t* result = pixels;
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    *width = int32_t(w);
    *height = int32_t(h);
    return result;
}
