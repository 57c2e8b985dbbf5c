// The demo's generated content: the five logos and the tune (read back from its bytes).
#include "content/demo_tune.h"
#include "content/logos.h"
#include "support/module_files.h"
#include "platform/music.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

bool isPowerOfTwo(int v) {
    return v > 0 && (v & (v - 1)) == 0;
}

TEST(DemoLogos, EveryLogoIsAnRgbaPictureWithLettersOutlineAndClearGround) {
    ScratchDirectory first;
    ASSERT_TRUE(writeDemoLogos(first.path));
    const char* names[] = {"quilm.png", "logo1.png", "logo2.png", "logo3.png", "logo4.png"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        int width = 0, height = 0;
        std::vector<uint8_t> rgba;
        ASSERT_TRUE(decodePngRgba(first.path + "/" + name, &width, &height, &rgba));
        EXPECT_TRUE(isPowerOfTwo(width) && isPowerOfTwo(height));
        // Sharp in the boxes the demo draws them in (about 800 x 460 screen pixels at most).
        EXPECT_GE(width, 800);
        EXPECT_GE(height, 460);
        int clear = 0, light = 0, dark = 0;
        for (size_t p = 0; p + 3 < rgba.size(); p += 4) {
            if (rgba[p + 3] == 0) ++clear;
            if (rgba[p + 3] < 224) continue;
            const int sum = rgba[p] + rgba[p + 1] + rgba[p + 2];
            if (sum > 3 * 200 && rgba[p + 3] == 255) ++light; // letters read on dark scenes
            if (sum < 3 * 40) ++dark;                         // their outline on bright ones
        }
        const int total = width * height;
        EXPECT_GT(clear, total / 2); // transparent ground around the text
        EXPECT_GT(light, total / 100);
        EXPECT_GT(dark, total / 200);
        // Nothing touches the border, so the repeat wrap cannot bleed text onto the edge.
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(rgba[size_t(x) * 4 + 3], 0);
            EXPECT_EQ(rgba[(size_t(height - 1) * width + size_t(x)) * 4 + 3], 0);
        }
    }
    ScratchDirectory second;
    ASSERT_TRUE(writeDemoLogos(second.path));
    for (const char* name : names)
        EXPECT_EQ(readBytes(first.path + "/" + name), readBytes(second.path + "/" + name)) << name;
}

TEST(DemoLogos, MissingFontFailsWithoutWritingFiles) {
    ScratchDirectory scratch;
    EXPECT_FALSE(writeDemoLogos(scratch.path, scratch.path + "/no-fonts"));
    EXPECT_FALSE(std::filesystem::exists(scratch.path + "/quilm.png"));
}

// The module read back from its XM bytes, independently of the writer.
struct ParsedCell {
    uint8_t note = 0, instrument = 0, volume = 0, effect = 0, parameter = 0;
};
struct ParsedSample {
    bool sixteenBit = false;
    bool looped = false;
    size_t loopStart = 0, loopLength = 0; // in samples
    std::vector<int16_t> pcm;
};
struct ParsedModule {
    int orderCount = 0, channels = 0, patternCount = 0, instrumentCount = 0;
    std::vector<int> orders;
    std::vector<std::vector<ParsedCell>> patterns; // rows * channels each
    std::vector<ParsedSample> samples;
};

uint32_t readLe(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint32_t(b.at(at + size_t(i))) << (8 * i);
    return v;
}

bool parseXm(const std::vector<uint8_t>& b, ParsedModule* m) {
    if (b.size() < 336 || std::string(b.begin(), b.begin() + 17) != "Extended Module: ")
        return false;
    m->orderCount = int(readLe(b, 64, 2));
    m->channels = int(readLe(b, 68, 2));
    m->patternCount = int(readLe(b, 70, 2));
    m->instrumentCount = int(readLe(b, 72, 2));
    for (int i = 0; i < m->orderCount; ++i)
        m->orders.push_back(b.at(80 + size_t(i)));
    size_t at = 60 + readLe(b, 60, 4);
    for (int p = 0; p < m->patternCount; ++p) {
        const int rows = int(readLe(b, at + 5, 2));
        const size_t size = readLe(b, at + 7, 2);
        at += readLe(b, at, 4);
        std::vector<ParsedCell> cells;
        for (size_t end = at + size; at < end;) {
            ParsedCell c;
            uint8_t* fields[5] = {&c.note, &c.instrument, &c.volume, &c.effect, &c.parameter};
            const uint8_t first = b.at(at++);
            const uint8_t flags = first & 0x80 ? first : 0x1f;
            if (!(first & 0x80)) --at; // an unpacked cell: five bytes
            for (int f = 0; f < 5; ++f)
                if (flags & (1 << f)) *fields[f] = b.at(at++);
            cells.push_back(c);
        }
        if (cells.size() != size_t(rows) * size_t(m->channels)) return false;
        m->patterns.push_back(std::move(cells));
    }
    for (int i = 0; i < m->instrumentCount; ++i) {
        const size_t start = at;
        const int sampleCount = int(readLe(b, start + 27, 2));
        at = start + readLe(b, start, 4);
        std::vector<ParsedSample> headers(static_cast<size_t>(sampleCount));
        std::vector<size_t> lengths;
        for (ParsedSample& sample : headers) {
            const uint8_t type = b.at(at + 14);
            sample.sixteenBit = type & 0x10;
            const size_t unit = sample.sixteenBit ? 2 : 1;
            lengths.push_back(readLe(b, at, 4));
            sample.looped = (type & 3) != 0;
            sample.loopStart = readLe(b, at + 4, 4) / unit;
            sample.loopLength = readLe(b, at + 8, 4) / unit;
            at += 40;
        }
        for (size_t k = 0; k < headers.size(); ++k) {
            ParsedSample& sample = headers[k];
            int16_t value = 0;
            for (size_t n = 0; n < lengths[k] / 2 && sample.sixteenBit; ++n) {
                value = int16_t(uint16_t(value) + uint16_t(readLe(b, at + 2 * n, 2)));
                sample.pcm.push_back(value);
            }
            at += lengths[k];
            m->samples.push_back(std::move(sample));
        }
    }
    return at == b.size();
}

class DemoTune : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bytes = new std::vector<uint8_t>(makeDemoTune());
        parsed = new ParsedModule;
        parsedOk = parseXm(*bytes, parsed);
    }
    static void TearDownTestSuite() {
        delete bytes;
        delete parsed;
    }
    static std::vector<uint8_t>* bytes;
    static ParsedModule* parsed;
    static bool parsedOk;
};
std::vector<uint8_t>* DemoTune::bytes = nullptr;
ParsedModule* DemoTune::parsed = nullptr;
bool DemoTune::parsedOk = false;

// The tune as the player hears it: loaded and rendered through the platform's music module.
class DemoTuneHeard : public ::testing::Test {
  protected:
    void SetUp() override {
        bytes = makeDemoTune();
        ASSERT_EQ(openMusicOutput(MusicOutput::LockStep), MusicOutput::LockStep);
        ASSERT_TRUE(loadMusicMemory(bytes.data(), bytes.size(), "tune.mo3"));
    }
    void TearDown() override {
        releaseMusic();
        closeMusicOutput();
    }
    std::vector<uint8_t> bytes;
};

TEST_F(DemoTuneHeard, Has33OrdersOf64RowsAtSpeed7Tempo145AndTheSameBytesEveryTime) {
    EXPECT_EQ(musicOrderCount(), 33);
    EXPECT_EQ(musicInitialSpeed(), 7);
    EXPECT_EQ(musicInitialTempo(), 145); // 7 ticks of 2.5/145 s: rows of 3500/29 ms
    for (int order = 0; order < 33; ++order)
        EXPECT_EQ(musicPatternRowsAt(order), 64) << order;
    EXPECT_EQ(makeDemoTune(), bytes);

    ScratchDirectory scratch;
    ASSERT_TRUE(writeDemoTune(scratch.path + "/tune.mo3"));
    EXPECT_EQ(readBytes(scratch.path + "/tune.mo3"), bytes);
    EXPECT_FALSE(writeDemoTune(scratch.path + "/missing/tune.mo3"));
}

TEST_F(DemoTuneHeard, NeverClipsQuietIntroLoudClimaxAndFadesOut) {
    ASSERT_TRUE(playMusic(0, 0));
    // Mean square per order, and per eighth of the last order (the fade).
    constexpr uint64_t kOrderFrames = 64 * uint64_t(kRowFramesRendered);
    double orderPower[33] = {}, fadePower[8] = {};
    int peak = 0;
    uint64_t filled = 0;
    static int16_t buffer[2 * 4096];
    for (;;) {
        const uint64_t first = musicFramesRendered();
        const int frames = renderMusic(buffer, 4096);
        if (frames == 0) break;
        filled += uint64_t(frames);
        for (int i = 0; i < frames; ++i) {
            const uint64_t frame = first + uint64_t(i);
            const int order = int(std::min<uint64_t>(frame / kOrderFrames, 32));
            for (int c = 0; c < 2; ++c) {
                const double v = buffer[2 * i + c] / 32768.0;
                peak = std::max(peak, std::abs(int(buffer[2 * i + c])));
                orderPower[order] += v * v / double(2 * kOrderFrames);
                if (order == 32) fadePower[(frame % kOrderFrames) * 8 / kOrderFrames] += v * v;
            }
        }
    }
    // It plays to the end of order 32 and no further.
    EXPECT_NEAR(double(filled), 33.0 * kOrderFrames, kRowFramesRendered);
    EXPECT_LT(peak, 29205); // 1 dB of headroom at least
    const auto db = [](double power) { return 10 * std::log10(power + 1e-12); };
    double loudest = -100;
    for (double power : orderPower)
        loudest = std::max(loudest, db(power));
    for (int order = 0; order < 33; ++order)
        EXPECT_GT(db(orderPower[order]), loudest - 12) << "order " << order << " drops out";
    EXPECT_LT(db(orderPower[0]), db(orderPower[10]) - 6); // the fade-in against the climax
    EXPECT_LT(db(orderPower[1]), db(orderPower[10]) - 3);
    EXPECT_LT(db(orderPower[11]), db(orderPower[10]) - 2); // the calm after the flash
    EXPECT_LT(db(fadePower[7]), db(fadePower[3]) - 12);    // the last rows fade away
    for (int eighth = 4; eighth < 8; ++eighth)
        EXPECT_LT(fadePower[eighth], fadePower[eighth - 1]) << eighth;
}

TEST_F(DemoTune, SamplesAre16BitUnclippedAndLoopWithoutAClick) {
    ASSERT_TRUE(parsedOk);
    ASSERT_EQ(parsed->samples.size(), size_t(parsed->instrumentCount));
    for (size_t i = 0; i < parsed->samples.size(); ++i) {
        SCOPED_TRACE(i);
        const ParsedSample& sample = parsed->samples[i];
        ASSERT_TRUE(sample.sixteenBit);
        ASSERT_FALSE(sample.pcm.empty());
        int peak = 0, largestStep = 0;
        for (size_t n = 0; n < sample.pcm.size(); ++n) {
            peak = std::max(peak, std::abs(int(sample.pcm[n])));
            if (n > 0)
                largestStep = std::max(largestStep, std::abs(sample.pcm[n] - sample.pcm[n - 1]));
        }
        EXPECT_LT(peak, 32767); // no flattened tops
        EXPECT_GT(peak, 16384); // and the range is used: quiet samples would raise the noise floor
        if (!sample.looped) continue;
        ASSERT_LE(sample.loopStart + sample.loopLength, sample.pcm.size());
        // Wrapping from the loop's end to its start is no larger a step than the sound makes.
        const int wrap = std::abs(sample.pcm[sample.loopStart] -
                                  sample.pcm[sample.loopStart + sample.loopLength - 1]);
        EXPECT_LE(wrap, largestStep);
    }
}

TEST_F(DemoTune, NoCellChangesSpeedOrTempoOrJumpsAndTheLastOrderFadesToSilence) {
    ASSERT_TRUE(parsedOk);
    const int channels = parsed->channels;
    int lastVolume = 64;
    for (int order = 0; order < parsed->orderCount; ++order) {
        const auto& cells = parsed->patterns[size_t(parsed->orders[size_t(order)])];
        for (int row = 0; row < 64; ++row)
            for (int ch = 0; ch < channels; ++ch) {
                const ParsedCell& c = cells.at(size_t(row * channels + ch));
                SCOPED_TRACE(testing::Message() << order << "/" << row << " ch " << ch);
                // The script counts rows and orders: nothing may break, jump or re-time them.
                EXPECT_NE(c.effect, 0x0B);
                EXPECT_NE(c.effect, 0x0D);
                if (c.effect == 0x0F) {
                    EXPECT_TRUE(c.parameter == 7 || c.parameter == 145);
                }
                if (c.effect == 0x10) { // set global volume: only the fade, never rising
                    EXPECT_EQ(order, 32);
                    EXPECT_GE(row, 32);
                    EXPECT_LE(c.parameter, lastVolume);
                    lastVolume = c.parameter;
                }
            }
    }
    EXPECT_EQ(lastVolume, 0);
}

} // namespace
