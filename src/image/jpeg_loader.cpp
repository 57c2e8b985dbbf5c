#include "image/image_loaders.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

// longjmp from the error manager lands in loadJpeg: nothing in it may need a destructor.

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base; // first, so the library's pointer is also ours
    jmp_buf jump;
    void (*standardEmit)(j_common_ptr, int);
    char* reason; // null: the caller does not want one
};

// The library's message for its current code, unless we wrote a reason of our own.
[[noreturn]] void jumpBack(j_common_ptr info) {
    JpegErrorManager* errors = reinterpret_cast<JpegErrorManager*>(info->err);
    if (errors->reason && errors->reason[0] == 0) {
        char message[JMSG_LENGTH_MAX] = {};
        (*info->err->format_message)(info, message);
        std::snprintf(errors->reason, kImageReasonBytes, "%s", message);
    }
    std::longjmp(errors->jump, 1);
}

// Refuses with our own reason (size, layout), not the library's last message.
[[noreturn]] void refuse(j_decompress_ptr cinfo, const char* text) {
    char* reason = reinterpret_cast<JpegErrorManager*>(cinfo->err)->reason;
    if (reason) std::snprintf(reason, kImageReasonBytes, "%s", text);
    jumpBack(reinterpret_cast<j_common_ptr>(cinfo));
}

// libjpeg pads a file that ends early with an end marker and only warns; a picture with a
// grey bottom is a failed load, not a success.
void emitMessage(j_common_ptr info, int level) {
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) jumpBack(info);
    reinterpret_cast<JpegErrorManager*>(info->err)->standardEmit(info, level);
}

} // namespace

uint8_t* loadJpeg(FILE* file, int32_t* width, int32_t* height, char* reason) {
    if (reason) reason[0] = 0;
    jpeg_decompress_struct cinfo = {};
    JpegErrorManager errors = {};
    errors.reason = reason;
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpBack;
    errors.standardEmit = errors.base.emit_message;
    errors.base.emit_message = emitMessage;

    // Assigned after setjmp and read after a longjmp: volatile keeps it out of registers.
    uint8_t* volatile pixels = nullptr;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(pixels);
        std::fclose(file);
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    // Checked before start: a progressive file allocates its whole coefficient store there.
    if (!imageSizeAllowed(cinfo.image_width, cinfo.image_height)) {
        char text[kImageReasonBytes];
        describeOversizedImage(text, cinfo.image_width, cinfo.image_height);
        refuse(&cinfo, text);
    }
#ifdef JCS_EXTENSIONS
    // libjpeg-turbo converts colour and grey straight into blue, green, red, filler with the
    // same arithmetic as its RGB output, so rows decode in place without a copy.
    const bool direct = cinfo.out_color_space == JCS_RGB || cinfo.out_color_space == JCS_GRAYSCALE;
    if (direct) cinfo.out_color_space = JCS_EXT_BGRX;
#else
    const bool direct = false;
#endif
    jpeg_start_decompress(&cinfo);
    const int components = cinfo.output_components;
    if (!(direct && components == 4) && components != 3 && components != 1)
        refuse(&cinfo, "colour components other than 1 or 3 (CMYK) are not supported");

    const JDIMENSION w = cinfo.output_width;
    const JDIMENSION h = cinfo.output_height;
    pixels = static_cast<uint8_t*>(std::malloc(size_t(w) * h * 4));
    if (!pixels) refuse(&cinfo, "out of memory");
    const size_t stride = size_t(w) * 4;

    if (direct) {
        constexpr JDIMENSION kBatch = 16; // the library returns at most one MCU row per call
        while (cinfo.output_scanline < h) {
            JSAMPROW rows[kBatch];
            const JDIMENSION first = cinfo.output_scanline;
            const JDIMENSION count = std::min(kBatch, h - first);
            for (JDIMENSION i = 0; i < count; ++i)
                rows[i] = pixels + stride * (first + i);
            if (jpeg_read_scanlines(&cinfo, rows, count) == 0) jumpBack((j_common_ptr)&cinfo);
        }
    } else {
        JSAMPARRAY line = (*cinfo.mem->alloc_sarray)((j_common_ptr)&cinfo, JPOOL_IMAGE,
                                                     w * JDIMENSION(components), 1);
        uint8_t* out = pixels;
        while (cinfo.output_scanline < h) {
            if (jpeg_read_scanlines(&cinfo, line, 1) != 1) jumpBack((j_common_ptr)&cinfo);
            const JSAMPLE* in = line[0];
            if (components == 3) {
                for (JDIMENSION k = 0; k < w; ++k, in += 3, out += 4) {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
            } else {
                for (JDIMENSION k = 0; k < w; ++k, ++in, out += 4)
                    out[0] = out[1] = out[2] = in[0];
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    *width = int32_t(w);
    *height = int32_t(h);
    return pixels;
}
