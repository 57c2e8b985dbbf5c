// QW2 decoding: the coefficient coder on hand-made streams, pixel conversion, and refusals.
#include "support/qw2_picture.h"
#include "wavelet/qw2.h"
#include "wavelet/qw2_encoder.h"
#include "wavelet/wavelet_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

std::vector<uint8_t> packBits(std::initializer_list<int> bits) {
    std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
    size_t p = 0;
    for (int b : bits) {
        if (b) bytes[p / 8] |= uint8_t(1u << (p % 8));
        ++p;
    }
    return bytes;
}

struct ChannelFields {
    float scale = 1.0f;
    int32_t budget = 0;
    std::vector<uint8_t> stream;
};

void put16(std::vector<uint8_t>& f, int v) {
    f.push_back(uint8_t(v));
    f.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& f, uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        f.push_back(uint8_t(v >> s));
}

std::vector<uint8_t> makeFile(int width, int height, int filter,
                              const std::vector<ChannelFields>& channels, int version = 1) {
    std::vector<uint8_t> f;
    put16(f, width);
    put16(f, height);
    f.push_back(uint8_t(channels.size()));
    f.push_back(uint8_t(filter));
    put16(f, version);
    for (const ChannelFields& c : channels) {
        uint32_t scaleBits;
        std::memcpy(&scaleBits, &c.scale, 4);
        put32(f, scaleBits);
        put32(f, uint32_t(c.budget));
        put32(f, uint32_t(c.stream.size()));
        f.insert(f.end(), c.stream.begin(), c.stream.end());
    }
    return f;
}

// Decodes one stream on a side x side square; returns the coefficient plane.
std::vector<int32_t> decodeStream(int side, const std::vector<uint8_t>& stream, int32_t budget) {
    Qw2Lists lists;
    EXPECT_TRUE(createQw2Lists(lists, side));
    // The stream sits at the very end of its own heap block: a read past it trips ASan.
    uint8_t* exact = static_cast<uint8_t*>(std::malloc(stream.empty() ? 1 : stream.size()));
    if (!stream.empty()) std::memcpy(exact, stream.data(), stream.size());
    std::vector<int32_t> plane(size_t(side) * side, 12345);
    decodeQw2Coefficients(exact, int32_t(stream.size()), budget, lists, plane.data());
    std::free(exact);
    destroyQw2Lists(lists);
    return plane;
}

bool allZeroFrom(const std::vector<int32_t>& plane, size_t first) {
    for (size_t i = first; i < plane.size(); ++i)
        if (plane[i] != 0) return false;
    return true;
}

} // namespace

TEST(Qw2Square, SideIsTwoOrThePowerOfTwoCoveringTheLargerSide) {
    EXPECT_EQ(qw2SquareSide(640, 480), 1024);
    EXPECT_EQ(qw2SquareSide(256, 256), 256);
    EXPECT_EQ(qw2SquareSide(3, 1), 4);
    EXPECT_EQ(qw2SquareSide(1, 1), 2);
    EXPECT_EQ(qw2SquareSide(2, 2), 2);
    EXPECT_EQ(qw2SquareSide(1, 5), 8);
    EXPECT_EQ(qw2SquareSide(257, 3), 512);
}

TEST(Qw2Coefficients, SignsAreRebuiltAsTwosComplementWithMinusTwiceTheThreshold) {
    // T = 16384: (0,0) significant with the given sign, the other three root pixels and the
    // three root sets insignificant. T = 8192: three pixels and three sets insignificant, then
    // one refinement bit for (0,0).
    for (int sign : {0, 1}) {
        for (int refine : {0, 1}) {
            const auto stream =
                packBits({1, sign, 0, 0, 0, 0, 0, 0, /* T/2 */ 0, 0, 0, 0, 0, 0, refine});
            const auto plane = decodeStream(8, stream, 15);
            const int32_t start = sign ? 16384 : -32768;
            EXPECT_EQ(plane[0], refine ? (start | 8192) : start) << sign << refine;
            EXPECT_TRUE(allZeroFrom(plane, 1));
            // Stopping after the first threshold leaves the starting value.
            EXPECT_EQ(decodeStream(8, stream, 8)[0], start);
        }
    }
    EXPECT_EQ(-32768 | 8192, -24576);
    EXPECT_EQ(16384 | 8192, 24576);
}

TEST(Qw2Coefficients, BitBudgetsZeroAndOneAndEmptyStreams) {
    const std::vector<uint8_t> ones(64, 0xFF);
    // Budget 0: the threshold loop never starts.
    EXPECT_TRUE(allZeroFrom(decodeStream(16, ones, 0), 0));
    // Budget 1: the first entry completes (significance and sign), the next one is not begun;
    // the refinement pass still gives the new entry its value.
    auto plane = decodeStream(16, ones, 1);
    EXPECT_EQ(plane[0], 16384);
    EXPECT_TRUE(allZeroFrom(plane, 1));
    // A first bit of 0 leaves p at 1, which is not beyond the budget: (0,1) is still read.
    plane = decodeStream(16, packBits({0, 1, 1, 1, 1, 1, 1, 1}), 1);
    EXPECT_EQ(plane[0], 0);
    EXPECT_EQ(plane[1], 16384);
    EXPECT_TRUE(allZeroFrom(plane, 2));
    // Empty streams decode to zeros whatever the budget.
    EXPECT_TRUE(allZeroFrom(decodeStream(16, {}, 1000000), 0));
    EXPECT_TRUE(allZeroFrom(decodeStream(2, {}, 1000000), 0));
}

TEST(Qw2Coefficients, ASignificantRootSetSplitsIntoItsChildrenInOrder) {
    // T = 16384 on a 4 x 4 square: root pixels 0; set A(0,1) significant, its children
    // (0,2) + , (0,3) -, (1,2) insignificant, (1,3) +; the other two sets insignificant.
    const auto stream = packBits({0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0});
    auto plane = decodeStream(4, stream, 14);
    EXPECT_EQ(plane[2], 16384);
    EXPECT_EQ(plane[3], -32768);
    EXPECT_EQ(plane[4 + 2], 0);
    EXPECT_EQ(plane[4 + 3], 16384);
    // Running out of bits in the middle of the children: (1,2) and (1,3) have no bit.
    plane = decodeStream(4, packBits({0, 0, 0, 0, 1, 1, 1, 1}), 1000);
    EXPECT_EQ(plane[2], 16384);
    EXPECT_EQ(plane[3], -32768);
    EXPECT_EQ(plane[7], 0);
}

TEST(Qw2Coefficients, TwoByTwoSquareNeverFollowsMissingChildren) {
    // Every bit 1: all root pixels become significant and positive; the root sets claim to
    // be significant but have no children, so nothing else is touched.
    const std::vector<uint8_t> ones(16, 0xFF);
    const auto plane = decodeStream(2, ones, 1 << 30);
    for (int i = 0; i < 4; ++i)
        EXPECT_GT(plane[i], 16384);
    const std::vector<uint8_t> bigOnes(4096, 0xFF);
    const auto full = decodeStream(2, bigOnes, 1 << 30);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(full[i], 32767);
}

TEST(Qw2Decode, EmptyChannelsGiveZeroLumaAndMinus128ChromaAndThreeChannelsAlphaZero) {
    int32_t w = 0, h = 0;
    auto file = makeFile(3, 1, 1, {{}, {}, {}});
    uint8_t* px = decodeQw2(file.data(), file.size(), w, h);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 1);
    // red = 0 + 1.4022 * -128 -> 0; green = 0 + 44.2368 + 91.456 -> 135; blue -> 0.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(px[i * 4 + 0], 0);
        EXPECT_EQ(px[i * 4 + 1], 135);
        EXPECT_EQ(px[i * 4 + 2], 0);
        EXPECT_EQ(px[i * 4 + 3], 0);
    }
    std::free(px);
}

TEST(Qw2Decode, OnePixelImageFromRootCoefficientsOnly) {
    // a = 2: no transform; every root coefficient ends at 32767, i.e. the channel's scale.
    const std::vector<uint8_t> ones(16, 0xFF);
    auto file = makeFile(1, 1, 3,
                         {{128.0f, 1 << 30, ones},
                          {228.0f, 1 << 30, ones},
                          {100.0f, 1 << 30, ones},
                          {200.0f, 1 << 30, ones}});
    int32_t w = 0, h = 0;
    uint8_t* px = decodeQw2(file.data(), file.size(), w, h);
    ASSERT_NE(px, nullptr);
    // Y 100, Cb 0, Cr 100: red 100 + 140.22, green 100 - 71.45, blue 100.
    EXPECT_NEAR(px[0], 240, 1);
    EXPECT_NEAR(px[1], 28, 1);
    EXPECT_NEAR(px[2], 99, 1);
    EXPECT_NEAR(px[3], 199, 1);
    std::free(px);
}

#ifdef __linux__
// Resident bytes at their peak since the last reset (Linux keeps the high-water mark per
// process; writing 5 to clear_refs resets it to the current size).
int64_t peakResidentBytes() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return -1;
    char line[256];
    int64_t kb = -1;
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmHWM: %lld kB", reinterpret_cast<long long*>(&kb)) == 1) break;
    std::fclose(status);
    return kb * 1024;
}

bool resetPeakResident() {
    FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (!refs) return false;
    const bool ok = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && ok;
}
#endif

// A 56-byte file may declare 8192 x 8192: the decoder's memory stays within about twice the
// 256 MB of output (a channel without bits needs no plane; lists grow with the stream, not
// with the declared square), and the picture is the formula's colour. One byte of a stream sets
// the two upper root coefficients: the upper half of the picture gets the scaled value, the
// lower half stays 0, so with every channel carrying bits the two corners differ.
TEST(Qw2Decode, HugeDeclaredPicturesFromTinyFilesStayWithinTwiceTheOutput) {
    const std::vector<uint8_t> oneByte = {0x0F};
    // Scale of a Haar channel whose upper half is v: 16384 / 32767 of it, halved per level.
    const double s = refFilter(0).h[0];
    const auto upper = [&](double v) {
        return ChannelFields{float(v * 32767.0 / 16384.0 / std::pow(s, 24)), 8, oneByte};
    };
    const ChannelFields cb = upper(148.5), cr = upper(158.5), luma = upper(100.5);
    const ChannelFields alpha = upper(200.5);
    const struct {
        const char* what;
        std::vector<ChannelFields> channels;
        uint8_t top[4], bottom[4]; // pixel (0, 0) and the far corner
    } cases[] = {
        {"no bits at all", {{}, {}, {}, {}}, {0, 135, 0, 0}, {0, 135, 0, 0}},
        {"one byte of luma", {{}, {}, {1.0f, 8, oneByte}, {}}, {0, 135, 0, 0}, {0, 135, 0, 0}},
        {"one byte of alpha", {{}, {}, {}, {1.0f, 8, oneByte}}, {0, 135, 0, 0}, {0, 135, 0, 0}},
        // red 100.5 + 1.4022 * 30.5, green 100.5 - 0.3456 * 20.5 - 0.7145 * 30.5,
        // blue 100.5 + 1.771 * 20.5
        {"one byte in each colour channel", {cb, cr, luma}, {143, 71, 136, 0}, {0, 135, 0, 0}},
        {"one byte in every channel", {cb, cr, luma, alpha}, {143, 71, 136, 200}, {0, 135, 0, 0}},
    };
    const size_t outputBytes = size_t(8192) * 8192 * 4;
    for (const auto& c : cases) {
        const std::vector<uint8_t> file = makeFile(8192, 8192, 0, c.channels);
        if (c.channels[2].stream.empty() && c.channels.back().stream.empty()) {
            ASSERT_EQ(file.size(), 56u);
        }
#ifdef __linux__
        const bool measured = resetPeakResident();
        const int64_t before = peakResidentBytes();
#endif
        int32_t w = 0, h = 0;
        uint8_t* px = decodeQw2(file.data(), file.size(), w, h);
        ASSERT_NE(px, nullptr) << c.what;
#ifdef __linux__
        if (measured && before > 0) {
            const int64_t grown = peakResidentBytes() - before;
            EXPECT_LE(grown, int64_t(2 * outputBytes) + (int64_t(16) << 20)) << c.what;
        }
#endif
        EXPECT_EQ(w, 8192);
        EXPECT_EQ(h, 8192);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(px[i], c.top[i]) << c.what << " byte " << i;
            EXPECT_EQ(px[outputBytes - 4 + i], c.bottom[i]) << c.what << " byte " << i;
        }
        std::free(px);
    }
}

// Densely coded pictures: the coder's lists, not the declared size, are what could grow here.
TEST(Qw2Decode, DenseRealPicturesStayWithinTwiceTheOutput) {
    for (const int side : {1024, 2048})
        for (const bool alpha : {false, true}) {
            const std::vector<uint8_t> picture = makeQw2TestPicture(side, side);
            Qw2EncodeOptions options;
            options.bitsPerPixel = 4.0;
            options.alpha = alpha;
            std::vector<uint8_t> file;
            ASSERT_TRUE(encodeQW2(picture.data(), side, side, options, file));
#ifdef __linux__
            const bool measured = resetPeakResident();
            const int64_t before = peakResidentBytes();
#endif
            int32_t w = 0, h = 0;
            uint8_t* px = decodeQw2(file.data(), file.size(), w, h);
            ASSERT_NE(px, nullptr) << side << " alpha " << alpha;
#ifdef __linux__
            if (measured && before > 0) {
                const int64_t outputBytes = int64_t(side) * side * 4;
                EXPECT_LE(peakResidentBytes() - before, 2 * outputBytes + (int64_t(16) << 20))
                    << side << " alpha " << alpha;
            }
#endif
            EXPECT_GT(picturePsnrDb(picture.data(), px, side, side, alpha ? 4 : 3), 30.0);
            std::free(px);
        }
}

TEST(Qw2Decode, MalformedHeadersAreRefusedWithoutTouchingTheOutputs) {
    const std::vector<ChannelFields> three = {{1.0f, 8, {0x0F}}, {}, {2.0f, 0, {1, 2, 3}}};
    struct Case {
        std::vector<uint8_t> file;
        const char* why;
    } cases[] = {
        {makeFile(4, 4, 0, three, 2), "version 2"},
        {makeFile(4, 4, 0, three, 0), "version 0"},
        {makeFile(4, 4, 0, {{}, {}}), "two channels"},
        {makeFile(4, 4, 0, {{}, {}, {}, {}, {}}), "five channels"},
        {makeFile(4, 4, 4, three), "filter 4"},
        {makeFile(4, 4, 255, three), "filter -1"},
        {makeFile(0, 4, 0, three), "width 0"},
        {makeFile(4, 0, 0, three), "height 0"},
        {makeFile(0xFFFF, 4, 0, three), "width -1"},
        {makeFile(4, 0x8000, 0, three), "height -32768"},
        {makeFile(9000, 4, 0, three), "width beyond the limit"},
        {{}, "empty"},
    };
    for (Case& c : cases) {
        int32_t w = -7, h = -7;
        const char* reason = nullptr;
        EXPECT_EQ(decodeQw2(c.file.data(), c.file.size(), w, h, &reason), nullptr) << c.why;
        EXPECT_NE(reason, nullptr) << c.why;
        EXPECT_EQ(w, -7);
        EXPECT_EQ(h, -7);
    }
    // A negative stream length.
    auto negative = makeFile(4, 4, 0, three);
    negative[8 + 8 + 3] = 0x80;
    int32_t w, h;
    EXPECT_EQ(decodeQw2(negative.data(), negative.size(), w, h), nullptr);
}

TEST(Qw2Decode, EveryCutThroughAHeaderOrStreamIsRefusedInsideTheData) {
    const auto file = makeFile(5, 3, 2, {{1.0f, 8, {0x0F}}, {}, {2.0f, 64, {1, 2, 3}}});
    int32_t w, h;
    ASSERT_NE(file.size(), 0u);
    for (size_t cut = 0; cut < file.size(); ++cut) {
        // Copy into a block of exactly that size so that ASan sees any read beyond it.
        uint8_t* exact = static_cast<uint8_t*>(std::malloc(cut ? cut : 1));
        std::memcpy(exact, file.data(), cut);
        const char* reason = nullptr;
        EXPECT_EQ(decodeQw2(exact, cut, w, h, &reason), nullptr) << "cut at " << cut;
        EXPECT_NE(reason, nullptr);
        std::free(exact);
    }
    uint8_t* px = decodeQw2(file.data(), file.size(), w, h);
    EXPECT_NE(px, nullptr);
    std::free(px);
    Qw2Header header;
    EXPECT_EQ(checkQw2File(nullptr, 100, header), checkQw2File(file.data(), 3, header));
}
