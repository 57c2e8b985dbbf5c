#include "support/test_images.h"

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

void appendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// No destructible locals: libpng may longjmp back here.
bool encodePngInto(const TestPng& picture, std::vector<uint8_t>* out, png_bytep* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendToVector, nullptr);
    png_set_IHDR(png, info, png_uint_32(picture.width), png_uint_32(picture.height),
                 picture.bitDepth, picture.colorType,
                 picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[256];
    if (!picture.palette.empty()) {
        const int count = int(picture.palette.size() / 3);
        for (int i = 0; i < count; ++i)
            palette[i] = {picture.palette[3 * i], picture.palette[3 * i + 1],
                          picture.palette[3 * i + 2]};
        png_set_PLTE(png, info, palette, count);
    }
    if (!picture.alphas.empty())
        png_set_tRNS(png, info, picture.alphas.data(), int(picture.alphas.size()), nullptr);
    if (picture.transparentGrey >= 0) {
        png_color_16 grey = {};
        grey.gray = png_uint_16(picture.transparentGrey);
        png_set_tRNS(png, info, nullptr, 0, &grey);
    }
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

std::vector<uint8_t> encodePng(const TestPng& picture) {
    const int channels = picture.colorType == 0 || picture.colorType == 3 ? 1
                         : picture.colorType == 2                         ? 3
                         : picture.colorType == 4                         ? 2
                                                                          : 4;
    const size_t rowBytes = (size_t(picture.width) * channels * picture.bitDepth + 7) / 8;
    std::vector<uint8_t> samples = picture.samples;
    samples.resize(rowBytes * size_t(picture.height));
    std::vector<png_bytep> rows(size_t(picture.height));
    for (int y = 0; y < picture.height; ++y)
        rows[size_t(y)] = samples.data() + rowBytes * size_t(y);
    std::vector<uint8_t> out;
    if (!encodePngInto(picture, &out, rows.data())) out.clear();
    return out;
}

std::vector<uint8_t> encodeRgbaPng(int width, int height, const std::vector<uint8_t>& rgba) {
    TestPng png;
    png.width = width;
    png.height = height;
    png.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    png.samples = rgba;
    return encodePng(png);
}

namespace {

struct JpegErrors {
    jpeg_error_mgr base;
    jmp_buf jump;
};

[[noreturn]] void jpegJump(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// No destructible locals: libjpeg may longjmp back here. *out is malloc'd by libjpeg.
bool encodeJpegInto(int width, int height, int components, const uint8_t* samples, int quality,
                    unsigned char** out, unsigned long* outSize) {
    jpeg_compress_struct cinfo = {};
    JpegErrors errors = {};
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegJump;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples) +
                       size_t(cinfo.next_scanline) * size_t(width) * size_t(components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

std::vector<uint8_t> encodeJpeg(int width, int height, int components,
                                const std::vector<uint8_t>& samples, int quality) {
    std::vector<uint8_t> padded = samples;
    padded.resize(size_t(width) * size_t(height) * size_t(components));
    unsigned char* data = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> out;
    if (encodeJpegInto(width, height, components, padded.data(), quality, &data, &size))
        out.assign(data, data + size);
    std::free(data);
    return out;
}

namespace {

// No destructible locals: libjpeg may longjmp back here. *out is malloc'd.
bool decodeJpegInto(const std::vector<uint8_t>* file, int* width, int* height, int* components,
                    uint8_t** out) {
    jpeg_decompress_struct cinfo = {};
    JpegErrors errors = {};
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegJump;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file->data(), static_cast<unsigned long>(file->size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t(cinfo.output_width) * size_t(cinfo.output_components);
    *out = static_cast<uint8_t*>(std::malloc(stride * cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = *out + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    *width = int(cinfo.output_width);
    *height = int(cinfo.output_height);
    *components = cinfo.output_components;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

bool decodeJpegDefault(const std::vector<uint8_t>& file, int* width, int* height, int* components,
                       std::vector<uint8_t>* samples) {
    uint8_t* out = nullptr;
    const bool ok = decodeJpegInto(&file, width, height, components, &out);
    if (ok) samples->assign(out, out + size_t(*width) * size_t(*height) * size_t(*components));
    std::free(out);
    return ok;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(file);
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

bool decodePngRgba(const std::string& path, int* width, int* height, std::vector<uint8_t>* rgba) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGBA;
    rgba->assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgba->data(), 0, nullptr)) return false;
    *width = int(image.width);
    *height = int(image.height);
    return true;
}

ScratchDirectory::ScratchDirectory() {
    char cwd[4096];
    previous = getcwd(cwd, sizeof cwd) ? cwd : ".";
    std::string pattern = (std::filesystem::temp_directory_path() / "quilm-test-XXXXXX").string();
    if (mkdtemp(pattern.data())) {
        path = pattern;
        if (chdir(path.c_str()) != 0) path.clear();
    }
}

ScratchDirectory::~ScratchDirectory() {
    if (chdir(previous.c_str()) != 0) return;
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

#ifdef _WIN32
// The Windows C runtime has no custom streams: the bytes go through a temporary file, and the
// closes are not counted (the tests that count them are left out there).
FILE* openCountingStream(const std::vector<uint8_t>& bytes, int*) {
    FILE* file = std::tmpfile();
    if (!file) return nullptr;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::fclose(file);
        return nullptr;
    }
    std::rewind(file);
    return file;
}
#else
namespace {

struct CountingStream {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    int* closeCount;
};

ssize_t readCounting(void* cookie, char* buffer, size_t size) {
    auto* stream = static_cast<CountingStream*>(cookie);
    const size_t n = std::min(size, stream->bytes.size() - stream->position);
    if (n > 0) std::memcpy(buffer, stream->bytes.data() + stream->position, n);
    stream->position += n;
    return ssize_t(n);
}

int seekCounting(void* cookie, off64_t* offset, int whence) {
    auto* stream = static_cast<CountingStream*>(cookie);
    const off64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? off64_t(stream->position)
                                              : off64_t(stream->bytes.size());
    const off64_t target = base + *offset;
    if (target < 0) return -1;
    stream->position = std::min(size_t(target), stream->bytes.size());
    *offset = target;
    return 0;
}

int closeCounting(void* cookie) {
    auto* stream = static_cast<CountingStream*>(cookie);
    ++*stream->closeCount;
    delete stream;
    return 0;
}

} // namespace

FILE* openCountingStream(const std::vector<uint8_t>& bytes, int* closeCount) {
    auto* stream = new CountingStream{bytes, 0, closeCount};
    cookie_io_functions_t functions = {readCounting, nullptr, seekCounting, closeCounting};
    FILE* file = fopencookie(stream, "rb", functions);
    if (!file) delete stream;
    return file;
}
#endif
