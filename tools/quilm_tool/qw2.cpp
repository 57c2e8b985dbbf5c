// quilm-tool qw2: decode a QW2 file to PNG exactly as the player sees it, or encode a PNG or
// JPEG picture to QW2. Reads its input with libpng's simplified API and libjpeg directly.
#include "quilm_tool/commands.h"

#include "image/png_writer.h"
#include "wavelet/qw2.h"
#include "wavelet/qw2_encoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace {

bool readWholeFile(const char* path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    bytes.clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool readPng(const char* path, std::vector<uint8_t>& rgba, int& width, int& height) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) return false;
    image.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    width = int(image.width);
    height = int(image.height);
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

bool readJpeg(const char* path, std::vector<uint8_t>& rgba, int& width, int& height) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegErrorExit;
    std::vector<uint8_t> row;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB; // grey pictures come out as colour too
    jpeg_start_decompress(&info);
    width = int(info.output_width);
    height = int(info.output_height);
    rgba.assign(size_t(width) * size_t(height) * 4, 255);
    row.resize(size_t(width) * 3);
    while (info.output_scanline < info.output_height) {
        const int y = int(info.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (int x = 0; x < width; ++x)
            std::memcpy(&rgba[(size_t(y) * width + x) * 4], &row[size_t(x) * 3], 3);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return true;
}

bool readPicture(const char* path, std::vector<uint8_t>& rgba, int& width, int& height) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    uint8_t magic[4] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);
    if (got >= 4 && magic[0] == 0x89 && magic[1] == 'P' && magic[2] == 'N' && magic[3] == 'G')
        return readPng(path, rgba, width, height);
    if (got >= 2 && magic[0] == 0xFF && magic[1] == 0xD8)
        return readJpeg(path, rgba, width, height);
    return false;
}

int usage() {
    std::fprintf(stderr, "usage: quilm-tool qw2 decode IN.qw2 OUT.png\n"
                         "       quilm-tool qw2 encode IN OUT.qw2 [--filter 0-3] [--bpp B] "
                         "[--alpha]\n");
    return 2;
}

int runDecode(const char* in, const char* out) {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(in, bytes)) {
        std::fprintf(stderr, "quilm-tool qw2: %s: cannot read the file\n", in);
        return 1;
    }
    int32_t width = 0, height = 0;
    const char* reason = nullptr;
    uint8_t* pixels = decodeQW2(bytes.data(), bytes.size(), width, height, &reason);
    if (!pixels) {
        std::fprintf(stderr, "quilm-tool qw2: %s: %s\n", in, reason ? reason : "refused");
        return 1;
    }
    const bool written = writePngRgba(out, width, height, pixels);
    std::free(pixels);
    if (!written) {
        std::remove(out);
        std::fprintf(stderr, "quilm-tool qw2: %s: cannot write the file\n", out);
        return 1;
    }
    return 0;
}

int runEncode(int argc, char** argv) {
    if (argc < 3) return usage();
    const char* in = argv[1];
    const char* out = argv[2];
    Qw2EncodeOptions options;
    for (int i = 3; i < argc; ++i) {
        char* end = nullptr;
        if (std::strcmp(argv[i], "--alpha") == 0) {
            options.alpha = true;
        } else if (std::strcmp(argv[i], "--filter") == 0 && i + 1 < argc) {
            options.filterKind = int(std::strtol(argv[++i], &end, 10));
            if (*end || end == argv[i] || options.filterKind < 0 || options.filterKind > 3) {
                std::fprintf(stderr, "quilm-tool qw2: --filter takes 0, 1, 2 or 3\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "--bpp") == 0 && i + 1 < argc) {
            options.bitsPerPixel = std::strtod(argv[++i], &end);
            if (*end || end == argv[i] || !(options.bitsPerPixel > 0.0)) {
                std::fprintf(stderr, "quilm-tool qw2: --bpp takes a positive number\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "quilm-tool qw2: unknown option '%s'\n", argv[i]);
            return usage();
        }
    }
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    if (!readPicture(in, rgba, width, height)) {
        std::fprintf(stderr, "quilm-tool qw2: %s: not a readable PNG or JPEG picture\n", in);
        return 1;
    }
    std::vector<uint8_t> file;
    const char* reason = nullptr;
    if (!encodeQW2(rgba.data(), width, height, options, file, &reason)) {
        std::fprintf(stderr, "quilm-tool qw2: %s: %s\n", in, reason);
        return 1;
    }
    FILE* output = std::fopen(out, "wb");
    bool written = output && std::fwrite(file.data(), 1, file.size(), output) == file.size();
    if (output && std::fclose(output) != 0) written = false;
    if (!written) {
        if (output) std::remove(out);
        std::fprintf(stderr, "quilm-tool qw2: %s: cannot write the file\n", out);
        return 1;
    }
    std::printf("%s: %dx%d, %zu bytes, %.3f bits per pixel\n", out, width, height, file.size(),
                8.0 * double(file.size()) / (double(width) * double(height)));
    return 0;
}

} // namespace

int runQw2Command(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "decode") == 0) {
        if (argc != 4) return usage();
        return runDecode(argv[2], argv[3]);
    }
    if (argc >= 2 && std::strcmp(argv[1], "encode") == 0) return runEncode(argc - 1, argv + 1);
    return usage();
}
