// The PNG and JPEG adapters: byte layout of every colour type, and refusal of bad files with
// the stream closed exactly once.
#include "image/image_loaders.h"

#include "support/test_images.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Decoded {
    std::vector<uint8_t> bytes; // empty when the adapter refused the file
    int32_t width = -7;         // -7: not written
    int32_t height = -7;
    int closes = 0;
    std::string reason;
};

using Adapter = uint8_t* (*)(FILE*, int32_t*, int32_t*, char*);

Decoded runAdapter(Adapter adapter, const std::vector<uint8_t>& file) {
    Decoded result;
    FILE* stream = openCountingStream(file, &result.closes);
    if (!stream) return result;
    char reason[kImageReasonBytes] = "untouched";
    uint8_t* pixels = adapter(stream, &result.width, &result.height, reason);
    result.reason = reason;
    if (pixels) {
        result.bytes.assign(pixels, pixels + size_t(result.width) * size_t(result.height) * 4);
        std::free(pixels);
    }
    return result;
}

Decoded decodePng(const TestPng& png) {
    return runAdapter(loadPng, encodePng(png));
}

TEST(PngAdapter, ColourTypesComeOutAsBlueGreenRedAlpha) {
    TestPng rgba;
    rgba.width = 2;
    rgba.colorType = 6;
    rgba.samples = {10, 20, 30, 40, 1, 2, 3, 4};
    Decoded d = decodePng(rgba);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{30, 20, 10, 40, 3, 2, 1, 4}));
    EXPECT_EQ(d.width, 2);
    EXPECT_EQ(d.height, 1);
    EXPECT_EQ(d.closes, 1);

    TestPng rgb;
    rgb.width = 1;
    rgb.height = 2; // rows stay top to bottom
    rgb.colorType = 2;
    rgb.samples = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(decodePng(rgb).bytes, (std::vector<uint8_t>{3, 2, 1, 255, 6, 5, 4, 255}));

    TestPng palette;
    palette.width = 3;
    palette.colorType = 3;
    palette.palette = {200, 100, 50, 7, 8, 9, 60, 70, 80};
    palette.alphas = {0, 128}; // the third entry has none: opaque
    palette.samples = {1, 0, 2};
    EXPECT_EQ(decodePng(palette).bytes,
              (std::vector<uint8_t>{9, 8, 7, 128, 50, 100, 200, 0, 80, 70, 60, 255}));

    TestPng deep;
    deep.width = 1;
    deep.colorType = 2;
    deep.bitDepth = 16;
    deep.samples = {0x12, 0x34, 0xab, 0xcd, 0xff, 0x01};
    EXPECT_EQ(decodePng(deep).bytes, (std::vector<uint8_t>{0xff, 0xab, 0x12, 255}));

    TestPng deepAlpha = deep;
    deepAlpha.colorType = 6;
    deepAlpha.samples = {1, 0, 2, 0, 3, 0, 0x80, 0xff};
    EXPECT_EQ(decodePng(deepAlpha).bytes, (std::vector<uint8_t>{3, 2, 1, 0x80}));
}

TEST(PngAdapter, GreyIsReplicatedIntoColourWithAlphaKept) {
    TestPng grey;
    grey.width = 2;
    grey.colorType = 0;
    grey.samples = {17, 230};
    EXPECT_EQ(decodePng(grey).bytes, (std::vector<uint8_t>{17, 17, 17, 255, 230, 230, 230, 255}));

    TestPng greyAlpha;
    greyAlpha.width = 2;
    greyAlpha.colorType = 4;
    greyAlpha.samples = {40, 0, 90, 200};
    EXPECT_EQ(decodePng(greyAlpha).bytes, (std::vector<uint8_t>{40, 40, 40, 0, 90, 90, 90, 200}));

    TestPng bits;
    bits.width = 3;
    bits.colorType = 0;
    bits.bitDepth = 2; // 0, 1, 3 scale to 0, 85, 255
    bits.samples = {0b00011100};
    EXPECT_EQ(decodePng(bits).bytes,
              (std::vector<uint8_t>{0, 0, 0, 255, 85, 85, 85, 255, 255, 255, 255, 255}));

    TestPng keyed = grey;
    keyed.transparentGrey = 230;
    EXPECT_EQ(decodePng(keyed).bytes, (std::vector<uint8_t>{17, 17, 17, 255, 230, 230, 230, 0}));

    TestPng deepGrey;
    deepGrey.width = 1;
    deepGrey.colorType = 4;
    deepGrey.bitDepth = 16;
    deepGrey.samples = {0x99, 0x11, 0x42, 0x00};
    EXPECT_EQ(decodePng(deepGrey).bytes, (std::vector<uint8_t>{0x99, 0x99, 0x99, 0x42}));
}

TEST(PngAdapter, InterlacedAndOddSizedPicturesMatchTheirPlainTwin) {
    TestPng plain;
    plain.width = 13;
    plain.height = 7;
    plain.colorType = 6;
    for (int i = 0; i < 13 * 7 * 4; ++i)
        plain.samples.push_back(uint8_t(i * 37 + 5));
    TestPng interlaced = plain;
    interlaced.interlaced = true;
    Decoded a = decodePng(plain);
    Decoded b = decodePng(interlaced);
    ASSERT_EQ(a.bytes.size(), size_t(13 * 7 * 4));
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(b.width, 13);
    EXPECT_EQ(b.height, 7);
    EXPECT_EQ(a.bytes[0], plain.samples[2]); // blue first
}

// Patches the IHDR size of a valid PNG and fixes its checksum, so only the claim is wrong.
std::vector<uint8_t> withClaimedSize(std::vector<uint8_t> file, uint32_t w, uint32_t h) {
    const uint8_t size[8] = {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w),
                             uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h)};
    std::copy(size, size + 8, file.begin() + 16);
    const uLong crc = crc32(0, file.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
        file[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    return file;
}

// Every bad file: null, sizes untouched, stream closed once (ASan reports a second close),
// and a reason that contains the expected words.
void expectRefused(Adapter adapter, const std::vector<uint8_t>& file, const char* what,
                   const char* reason = "") {
    SCOPED_TRACE(what);
    Decoded d = runAdapter(adapter, file);
    EXPECT_TRUE(d.bytes.empty());
    EXPECT_EQ(d.width, -7);
    EXPECT_EQ(d.height, -7);
    EXPECT_EQ(d.closes, 1);
    EXPECT_FALSE(d.reason.empty());
    EXPECT_NE(d.reason, "untouched");
    EXPECT_NE(d.reason.find(reason), std::string::npos) << d.reason;
}

TEST(PngAdapter, BadFilesAreRefusedAndClosedOnce) {
    TestPng png;
    png.width = 16;
    png.height = 16;
    png.colorType = 2;
    for (int i = 0; i < 16 * 16 * 3; ++i)
        png.samples.push_back(uint8_t(i * 7));
    const std::vector<uint8_t> good = encodePng(png);
    ASSERT_FALSE(runAdapter(loadPng, good).bytes.empty());

    expectRefused(loadPng, {}, "empty", "empty file (0 bytes)");
    expectRefused(loadPng, {0x89, 'P', 'N', 'G'}, "signature only", "file ends early, after 4");
    for (size_t cut : {size_t(8), size_t(20), size_t(33), good.size() / 2, good.size() - 13}) {
        expectRefused(loadPng, std::vector<uint8_t>(good.begin(), good.begin() + long(cut)),
                      "truncated", "file ends early");
    }
    std::vector<uint8_t> corrupt = good;
    corrupt[corrupt.size() / 2] ^= 0x5a; // inside the image data: checksum fails
    expectRefused(loadPng, corrupt, "flipped byte", "IDAT");
    expectRefused(loadPng, std::vector<uint8_t>(300, 0xab), "not a PNG", "Not a PNG file");
    expectRefused(loadPng, withClaimedSize(good, 0, 16), "zero width", "IHDR");
    // Past our limits the reason gives the size; the largest allowed sizes pass that check.
    const char* tooLarge = "is outside the size allowed (1 to 65536 a side, 67108864 in all)";
    expectRefused(loadPng, withClaimedSize(good, 70000, 1), "too wide", "70000x1 pixels");
    expectRefused(loadPng, withClaimedSize(good, 65537, 1), "one too wide", tooLarge);
    expectRefused(loadPng, withClaimedSize(good, 20000, 20000), "too many pixels", tooLarge);
    expectRefused(loadPng, withClaimedSize(good, 8193, 8192), "one row too many", tooLarge);
    expectRefused(loadPng, withClaimedSize(good, 0x7fffffff, 1), "format's largest", tooLarge);
    for (const auto& allowed : {std::pair<uint32_t, uint32_t>{65536, 1}, {8192, 8192}}) {
        const Decoded d = runAdapter(loadPng, withClaimedSize(good, allowed.first, allowed.second));
        EXPECT_TRUE(d.bytes.empty()); // the rows are missing, but the size was accepted
        EXPECT_EQ(d.reason.find("size allowed"), std::string::npos) << d.reason;
    }
}

TEST(JpegAdapter, ColourAndGreyComeOutAsBlueGreenRed) {
    // Flat colour survives JPEG almost exactly; each pixel has its own row or column.
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 6; ++i)
        rgb.insert(rgb.end(), {200, 100, 40});
    Decoded d = runAdapter(loadJpeg, encodeJpeg(3, 2, 3, rgb));
    ASSERT_EQ(d.bytes.size(), 24u);
    EXPECT_EQ(d.width, 3);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(d.closes, 1);
    for (int k = 0; k < 6; ++k) {
        EXPECT_NEAR(d.bytes[size_t(4 * k)], 40, 3);
        EXPECT_NEAR(d.bytes[size_t(4 * k + 1)], 100, 3);
        EXPECT_NEAR(d.bytes[size_t(4 * k + 2)], 200, 3);
    }

    Decoded grey = runAdapter(loadJpeg, encodeJpeg(2, 1, 1, {77, 77}));
    ASSERT_EQ(grey.bytes.size(), 8u);
    for (int k = 0; k < 2; ++k)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(grey.bytes[size_t(4 * k + c)], 77);
}

TEST(JpegAdapter, SamplesEqualPlainLibjpegOutputExactly) {
    // Odd size, subsampled chroma, low quality: every conversion path has work to do.
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 37 * 21 * 3; ++i)
        rgb.push_back(uint8_t((i * 73) ^ (i / 111)));
    std::vector<uint8_t> grey(rgb.begin(), rgb.begin() + 37 * 21);
    for (int components : {3, 1}) {
        SCOPED_TRACE(components);
        const std::vector<uint8_t> file =
            encodeJpeg(37, 21, components, components == 3 ? rgb : grey, 30);
        int w = 0, h = 0, n = 0;
        std::vector<uint8_t> samples;
        ASSERT_TRUE(decodeJpegDefault(file, &w, &h, &n, &samples));
        ASSERT_EQ(n, components);
        Decoded d = runAdapter(loadJpeg, file);
        ASSERT_EQ(d.bytes.size(), size_t(w) * size_t(h) * 4);
        int mismatches = 0;
        for (size_t k = 0; k < size_t(w) * size_t(h); ++k)
            for (int c = 0; c < 3; ++c)
                mismatches += d.bytes[4 * k + size_t(c)] !=
                              samples[k * size_t(n) + (n == 3 ? size_t(2 - c) : 0)];
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(JpegAdapter, BadFilesAreRefusedAndClosedOnce) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 32 * 32 * 3; ++i)
        rgb.push_back(uint8_t((i * 13) ^ (i >> 5)));
    const std::vector<uint8_t> good = encodeJpeg(32, 32, 3, rgb, 90);
    ASSERT_FALSE(runAdapter(loadJpeg, good).bytes.empty());

    expectRefused(loadJpeg, {}, "empty", "Empty input file");
    expectRefused(loadJpeg, {0xff, 0xd8}, "start marker only", "Premature end");
    for (size_t cut : {size_t(20), size_t(200), good.size() / 2, good.size() - 40}) {
        expectRefused(loadJpeg, std::vector<uint8_t>(good.begin(), good.begin() + long(cut)),
                      "truncated", "Premature end");
    }
    expectRefused(loadJpeg, std::vector<uint8_t>(500, 0x17), "not a JPEG", "Not a JPEG");
    // Height 0 in the frame header (marker FF C0, length, precision, then the height).
    std::vector<uint8_t> flat = good;
    for (size_t i = 0; i + 6 < flat.size(); ++i)
        if (flat[i] == 0xff && flat[i + 1] == 0xc0) {
            flat[i + 5] = flat[i + 6] = 0;
            break;
        }
    expectRefused(loadJpeg, flat, "zero height");
    // Four components (CMYK) do not fit the three-byte copy.
    expectRefused(loadJpeg, encodeJpeg(4, 4, 4, std::vector<uint8_t>(64, 90)), "CMYK", "CMYK");
}

} // namespace
