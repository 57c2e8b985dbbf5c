// QW2 encoder quality: PSNR (red, green, blue) at 1, 2 and 4 bits per pixel for every filter
// kind, beside libjpeg at the quality whose file is the largest not above the QW2 file.
//   bench_qw2_quality [width height]
#include "writers/picture_writer.h"
#include "support/qw2_picture.h"
#include "wavelet/qw2.h"
#include "wavelet/qw2_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace {

std::vector<uint8_t> decodeJpeg(const std::vector<uint8_t>& file, int w, int h) {
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::vector<uint8_t> rgba(size_t(w) * h * 4, 255), row(size_t(w) * 3);
    while (info.output_scanline < info.output_height) {
        const size_t y = info.output_scanline;
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                rgba[(y * w + x) * 4 + c] = row[size_t(x) * 3 + c];
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return rgba;
}

} // namespace

int main(int argc, char** argv) {
    const int w = argc > 2 ? std::atoi(argv[1]) : 768;
    const int h = argc > 2 ? std::atoi(argv[2]) : 512;
    const auto picture = makeQw2TestPicture(w, h);
    std::printf("PSNR (dB, red green blue) on a %dx%d test picture; bpp = file bits per pixel\n", w,
                h);
    std::printf("target | QW2 Haar | QW2 D4 | QW2 D6 | QW2 D8 (bpp)  | libjpeg q (bpp)\n");
    for (double bpp : {1.0, 2.0, 4.0}) {
        std::printf("%4.0f   |", bpp);
        size_t largest = 0;
        for (int kind = 0; kind < 4; ++kind) {
            std::vector<uint8_t> file;
            encodeQW2(picture.data(), w, h, {kind, bpp, false}, file);
            int32_t dw, dh;
            uint8_t* pixels = decodeQw2(file.data(), file.size(), dw, dh);
            std::printf(" %6.2f ", picturePsnrDb(picture.data(), pixels, w, h, 3));
            if (kind == 3) std::printf("(%.2f) ", 8.0 * double(file.size()) / (double(w) * h));
            std::printf("|");
            std::free(pixels);
            largest = std::max(largest, file.size());
        }
        // The best JPEG quality whose file is not larger than the QW2 file.
        int quality = 1;
        std::vector<uint8_t> jpeg = pictures::encodeJpeg(w, h, picture, 1, true);
        for (int q = 2; q <= 100; ++q) {
            std::vector<uint8_t> candidate = pictures::encodeJpeg(w, h, picture, q, true);
            if (candidate.size() > largest) break;
            quality = q;
            jpeg = std::move(candidate);
        }
        const auto decoded = decodeJpeg(jpeg, w, h);
        std::printf(" %6.2f q%d (%.2f)\n", picturePsnrDb(picture.data(), decoded.data(), w, h, 3),
                    quality, 8.0 * double(jpeg.size()) / (double(w) * h));
        std::fflush(stdout);
    }
    return 0;
}
