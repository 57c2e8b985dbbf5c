// Encoder and decoder together, and quilm-tool qw2 from the outside.
#include "wavelet/qw2.h"
#include "wavelet/qw2_encoder.h"
#include "wavelet/wavelet.h"

#include "image/png_writer.h"
#include "support/qw2_picture.h"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Decoded {
    std::vector<uint8_t> pixels;
    int32_t width = 0, height = 0;
};

bool decodeFile(const std::vector<uint8_t>& file, Decoded& out) {
    uint8_t* px = decodeQw2(file.data(), file.size(), out.width, out.height);
    if (!px) return false;
    out.pixels.assign(px, px + size_t(out.width) * out.height * 4);
    std::free(px);
    return true;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF)
        bytes.push_back(uint8_t(c));
    std::fclose(f);
    return bytes;
}

bool fileExists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

} // namespace

TEST(Qw2Encoder, ForwardTransformIsUndoneByTheDecodersInverse) {
    for (int kind = 0; kind < 4; ++kind) {
        const int a = 32;
        std::vector<double> plane(a * a);
        for (int i = 0; i < a * a; ++i)
            plane[i] = std::sin(i * 0.37) * 100 + (i % 7);
        const std::vector<double> original = plane;
        forwardWavelet2D(kind, plane.data(), a);
        std::vector<float> back(plane.begin(), plane.end());
        WaveletFilters f;
        ASSERT_TRUE(setupWaveletFilters(f, kind));
        std::vector<float> work(inverseWaveletWorkFloats(a));
        inverseWavelet2D(f, back.data(), a, work.data());
        double worst = 0;
        for (int i = 0; i < a * a; ++i)
            worst = std::max(worst, std::fabs(back[i] - original[i]));
        EXPECT_LT(worst, 1e-3) << "kind " << kind;
    }
}

TEST(Qw2Encoder, RoundTripKeepsTheSizeTheRateAndAPsnrFloorForEveryKind) {
    const int w = 200, h = 120; // not powers of two: the square is padded to 256
    const auto picture = makeQw2TestPicture(w, h);
    for (int kind = 0; kind < 4; ++kind)
        for (double bpp : {1.0, 3.0}) {
            Qw2EncodeOptions options;
            options.filterKind = kind;
            options.bitsPerPixel = bpp;
            std::vector<uint8_t> file;
            ASSERT_TRUE(encodeQW2(picture.data(), w, h, options, file));
            EXPECT_LE(double(file.size()) * 8, bpp * w * h);
            EXPECT_GT(double(file.size()) * 8, 0.95 * bpp * w * h);
            Decoded d;
            ASSERT_TRUE(decodeFile(file, d));
            ASSERT_EQ(d.width, w);
            ASSERT_EQ(d.height, h);
            const double psnr = picturePsnrDb(picture.data(), d.pixels.data(), w, h, 3);
            EXPECT_GT(psnr, bpp < 2 ? 28.5 : 35.5) << "kind " << kind << " bpp " << bpp;
            for (int i = 0; i < w * h; ++i)
                ASSERT_EQ(d.pixels[i * 4 + 3], 0); // three channels: alpha 0
        }
}

TEST(Qw2Encoder, AlphaChannelSmallPicturesAndRefusals) {
    const auto picture = makeQw2TestPicture(64, 48, 3);
    Qw2EncodeOptions options;
    options.alpha = true;
    options.bitsPerPixel = 6.0;
    std::vector<uint8_t> file;
    ASSERT_TRUE(encodeQW2(picture.data(), 64, 48, options, file));
    EXPECT_EQ(file[4], 4);
    Decoded d;
    ASSERT_TRUE(decodeFile(file, d));
    double alphaError = 0;
    for (int i = 0; i < 64 * 48; ++i)
        alphaError += std::abs(int(d.pixels[i * 4 + 3]) - int(picture[i * 4 + 3]));
    EXPECT_LT(alphaError / (64 * 48), 2.0);
    EXPECT_GT(picturePsnrDb(picture.data(), d.pixels.data(), 64, 48, 4), 33.0);

    // 1 x 1, 2 x 1 and 3 x 1 pictures (the rate counts the headers): close to the same bytes.
    const uint8_t tiny[12] = {200, 30, 90, 255, 10, 250, 128, 255, 77, 77, 77, 255};
    for (int w = 1; w <= 3; ++w) {
        ASSERT_TRUE(encodeQW2(tiny, w, 1, Qw2EncodeOptions{0, 4096.0, false}, file));
        ASSERT_TRUE(decodeFile(file, d));
        for (int i = 0; i < w * 4; ++i) {
            if (i % 4 != 3) {
                EXPECT_NEAR(d.pixels[i], tiny[i], 1) << w << " " << i;
            }
        }
    }

    const char* reason = nullptr;
    EXPECT_FALSE(encodeQW2(tiny, 0, 1, Qw2EncodeOptions{}, file, &reason));
    EXPECT_FALSE(encodeQW2(tiny, 1, 1, Qw2EncodeOptions{4, 2.0, false}, file, &reason));
    EXPECT_FALSE(encodeQW2(tiny, 1, 1, Qw2EncodeOptions{0, 0.0, false}, file, &reason));
    EXPECT_NE(reason, nullptr);
}

TEST(Qw2Encoder, CutStreamsDecodeCoarserInsteadOfFailing) {
    const int w = 96, h = 64;
    const auto picture = makeQw2TestPicture(w, h);
    std::vector<uint8_t> file;
    ASSERT_TRUE(encodeQW2(picture.data(), w, h, Qw2EncodeOptions{2, 4.0, false}, file));
    Decoded full;
    ASSERT_TRUE(decodeFile(file, full));
    // Keep a tenth of every stream (budget left as it is) and rebuild the file.
    std::vector<uint8_t> cut(file.begin(), file.begin() + kQw2HeaderBytes);
    size_t offset = kQw2HeaderBytes;
    for (int c = 0; c < 3; ++c) {
        int32_t n;
        std::memcpy(&n, &file[offset + 8], 4);
        const int32_t kept = n / 10;
        cut.insert(cut.end(), file.begin() + offset, file.begin() + offset + 8);
        for (int s = 0; s < 32; s += 8)
            cut.push_back(uint8_t(uint32_t(kept) >> s));
        cut.insert(cut.end(), file.begin() + offset + 12, file.begin() + offset + 12 + kept);
        offset += 12 + size_t(n);
    }
    Decoded coarse;
    ASSERT_TRUE(decodeFile(cut, coarse));
    const double fullPsnr = picturePsnrDb(picture.data(), full.pixels.data(), w, h, 3);
    const double coarsePsnr = picturePsnrDb(picture.data(), coarse.pixels.data(), w, h, 3);
    EXPECT_LT(coarsePsnr, fullPsnr - 3);
    EXPECT_GT(coarsePsnr, 20.0);
}

TEST(Qw2Tool, EncodeThenDecodeWritesTheDecodersPixelsAndRefusalsLeaveNoFile) {
    const std::string dir = ::testing::TempDir();
    const std::string png = dir + "qw2_tool_in.png";
    const std::string qw2 = dir + "qw2_tool_out.qw2";
    const std::string back = dir + "qw2_tool_back.png";
    std::remove(qw2.c_str());
    std::remove(back.c_str());
    const auto picture = makeQw2TestPicture(80, 60);
    ASSERT_TRUE(writePngRgba(png.c_str(), 80, 60, picture.data()));
    const std::string tool = QUILM_TOOL_BIN;
    ASSERT_EQ(
        std::system(
            (tool + " qw2 encode " + png + " " + qw2 + " --filter 1 --bpp 3 > /dev/null").c_str()),
        0);
    const auto file = readFile(qw2);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[5], 1);
    EXPECT_LE(file.size() * 8, size_t(3 * 80 * 60));
    ASSERT_EQ(std::system((tool + " qw2 decode " + qw2 + " " + back).c_str()), 0);

    Decoded expected;
    ASSERT_TRUE(decodeFile(file, expected));
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, back.c_str()));
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> written(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, written.data(), 0, nullptr));
    EXPECT_EQ(written, expected.pixels); // alpha 0 kept, nothing premultiplied

    // A refused file: status 1, one line on standard error, no output.
    const std::string bad = dir + "qw2_tool_bad.qw2";
    const std::string badOut = dir + "qw2_tool_bad.png";
    const std::string errors = dir + "qw2_tool_err.txt";
    std::vector<uint8_t> broken = file;
    broken[6] = 2; // version 2
    FILE* f = std::fopen(bad.c_str(), "wb");
    std::fwrite(broken.data(), 1, broken.size(), f);
    std::fclose(f);
    std::remove(badOut.c_str());
    const int status =
        std::system((tool + " qw2 decode " + bad + " " + badOut + " 2> " + errors).c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_FALSE(fileExists(badOut));
    const auto message = readFile(errors);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    EXPECT_EQ(message.back(), '\n');
}

// A header declaring more pixels than the decode budget is refused before decoding, with a
// line that names the budget and its option; the option moves the boundary.
TEST(Qw2Tool, PicturesBeyondTheDecodeBudgetAreRefusedFromTheirHeader) {
    const std::string dir = ::testing::TempDir();
    const std::string tool = QUILM_TOOL_BIN;
    // Header and three or four channel fields without streams: 44 or 56 bytes.
    auto writeHeader = [&](int w, int h, int channels) {
        std::vector<uint8_t> file = {
            uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), uint8_t(channels), 0, 1, 0};
        file.resize(file.size() + size_t(channels) * 12, 0);
        const std::string path =
            dir + "qw2_budget_" + std::to_string(w) + "x" + std::to_string(h) + ".qw2";
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
        return path;
    };
    const std::string huge = writeHeader(8192, 8192, 4);
    EXPECT_EQ(readFile(huge).size(), 56u);
    const struct {
        std::string in;
        std::string options;
        int status;
        const char* line; // expected on standard error; "" for none
    } runs[] = {
        {huge, "", 1,
         "8192x8192 pixels is more than the decode budget of 16777216 pixels (--max-pixels N "
         "raises it)\n"},
        {writeHeader(4097, 4096, 3), "", 1, "4097x4096 pixels is more than the decode budget"},
        {writeHeader(4096, 4096, 3), "", 0, ""},
        {writeHeader(100, 100, 3), " --max-pixels 9999", 1, "budget of 9999 pixels"},
        {writeHeader(100, 100, 3), " --max-pixels 10000", 0, ""},
        {writeHeader(100, 100, 3), " --max-pixels 0", 2, "--max-pixels takes"},
        {writeHeader(100, 100, 3), " --max-pixels 12x", 2, "--max-pixels takes"},
        {writeHeader(100, 100, 3), " --max-size 10", 2, "unknown option '--max-size'"},
    };
    const std::string out = dir + "qw2_budget_out.png";
    const std::string errors = dir + "qw2_budget_err.txt";
    for (const auto& run : runs) {
        std::remove(out.c_str());
        const int status = std::system(
            (tool + " qw2 decode " + run.in + " " + out + run.options + " 2> " + errors).c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), run.status) << run.in << run.options;
        EXPECT_EQ(fileExists(out), run.status == 0) << run.in << run.options;
        const auto text = readFile(errors);
        const std::string message(text.begin(), text.end());
        if (*run.line) {
            EXPECT_NE(message.find(run.line), std::string::npos) << message;
        } else {
            EXPECT_EQ(message, "");
        }
    }
    std::remove(out.c_str());
}

TEST(Qw2Tool, JpegInputIsEncodedAndUnreadableInputIsRefused) {
    const std::string dir = ::testing::TempDir();
    const std::string jpg = dir + "qw2_tool_in.jpg";
    const std::string qw2 = dir + "qw2_tool_jpg.qw2";
    const int w = 48, h = 32;
    const auto picture = makeQw2TestPicture(w, h, 4);
    {
        FILE* f = std::fopen(jpg.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        jpeg_compress_struct info;
        jpeg_error_mgr error;
        info.err = jpeg_std_error(&error);
        jpeg_create_compress(&info);
        jpeg_stdio_dest(&info, f);
        info.image_width = w;
        info.image_height = h;
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 95, TRUE);
        jpeg_start_compress(&info, TRUE);
        std::vector<uint8_t> row(w * 3);
        while (info.next_scanline < info.image_height) {
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    row[x * 3 + c] = picture[(info.next_scanline * w + x) * 4 + c];
            JSAMPROW rows[1] = {row.data()};
            jpeg_write_scanlines(&info, rows, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        std::fclose(f);
    }
    const std::string tool = QUILM_TOOL_BIN;
    std::remove(qw2.c_str());
    ASSERT_EQ(
        std::system(
            (tool + " qw2 encode " + jpg + " " + qw2 + " --bpp 8 --alpha > /dev/null").c_str()),
        0);
    Decoded d;
    ASSERT_TRUE(decodeFile(readFile(qw2), d));
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_GT(picturePsnrDb(picture.data(), d.pixels.data(), w, h, 3), 24.0); // JPEG loss too
    EXPECT_GE(d.pixels[3], 254); // JPEG pictures are opaque

    // Neither PNG nor JPEG, and a bad option: refused, nothing written.
    const std::string out = dir + "qw2_tool_never.qw2";
    std::remove(out.c_str());
    int status = std::system((tool + " qw2 encode " + qw2 + " " + out + " 2> /dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    status =
        std::system((tool + " qw2 encode " + jpg + " " + out + " --filter 7 2> /dev/null").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_FALSE(fileExists(out));
}
