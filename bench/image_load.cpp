// PNG and JPEG loading through the texture manager's file path beside bare libpng / libjpeg
// decoding of the same files, one core: the manager's own overhead (stream set-up, byte
// order, channel exchange, transparent-black rule) in per cent.
//   bench_image_load [repetitions]
#include "bench_timing.h"
#include "writers/picture_writer.h"
#include "image/png_writer.h"
#include "image/texture.h"
#include "support/qw2_picture.h"

#include <cstdio> // before jpeglib.h, which needs FILE and size_t
#include <png.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Plain libpng into 8-bit RGBA rows: what any program would do with the same file.
void barePng(const char* path) {
    FILE* file = std::fopen(path, "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_filler(png, 255, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(rowBytes * h));
    std::vector<png_bytep> rows(h);
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = pixels + rowBytes * y;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    std::free(pixels);
}

// Plain libjpeg-turbo into packed RGB, several lines per call.
void bareJpeg(const char* path) {
    FILE* file = std::fopen(path, "rb");
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t(cinfo.output_width) * size_t(cinfo.output_components);
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(stride * cinfo.output_height));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[8];
        for (int i = 0; i < 8; ++i)
            rows[i] = pixels + stride * std::min<size_t>(cinfo.output_scanline + size_t(i),
                                                         cinfo.output_height - 1);
        jpeg_read_scanlines(&cinfo, rows, 8);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    std::free(pixels);
}

void managerLoad(const char* name) {
    Texture texture;
    std::string working = name;
    if (!loadImageFile(&texture, working.data())) std::fprintf(stderr, "load failed: %s\n", name);
    std::free(texture.pixels);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    char scratch[] = "/tmp/quilm-bench-XXXXXX";
    if (!mkdtemp(scratch) || chdir(scratch) != 0) return 1;

    struct Size {
        int w, h;
    } sizes[] = {{1024, 1024}, {640, 480}};
    std::printf("%-22s %10s %10s %10s\n", "picture", "bare ms", "manager ms", "overhead");
    for (const Size& s : sizes) {
        const std::vector<uint8_t> picture = makeQw2TestPicture(s.w, s.h);
        const std::string png = "pic" + std::to_string(s.w) + ".png";
        const std::string jpg = "pic" + std::to_string(s.w) + ".jpg";
        if (!writePngRgba(png.c_str(), s.w, s.h, picture.data()) ||
            !pictures::writeJpeg(jpg, s.w, s.h, picture, 90))
            return 1;
        const double barePngMs = bench::medianMs(repetitions, [&] { barePng(png.c_str()); });
        const double managerPngMs = bench::medianMs(repetitions, [&] { managerLoad(png.c_str()); });
        const double bareJpegMs = bench::medianMs(repetitions, [&] { bareJpeg(jpg.c_str()); });
        const double managerJpegMs =
            bench::medianMs(repetitions, [&] { managerLoad(jpg.c_str()); });
        const std::string size = std::to_string(s.w) + "x" + std::to_string(s.h);
        std::printf("%-22s %10.2f %10.2f %9.1f%%\n", ("PNG RGBA " + size).c_str(), barePngMs,
                    managerPngMs, (managerPngMs / barePngMs - 1.0) * 100.0);
        std::printf("%-22s %10.2f %10.2f %9.1f%%\n", ("JPEG q90 " + size).c_str(), bareJpegMs,
                    managerJpegMs, (managerJpegMs / bareJpegMs - 1.0) * 100.0);
        std::remove(png.c_str());
        std::remove(jpg.c_str());
    }
    if (chdir("/") == 0) rmdir(scratch);
    return 0;
}
