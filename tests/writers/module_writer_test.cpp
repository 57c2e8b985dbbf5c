#include "writers/module_writer.h"

#include "platform/music.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using namespace modulewriter;

uint16_t u16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | (b[at + 1] << 8));
}
uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(u16(b, at)) | (uint32_t(u16(b, at + 2)) << 16);
}

// Offsets from the XM 1.04 documentation.
TEST(ModuleWriter, WritesTheDocumentedHeaderPatternAndSampleLayout) {
    Module m = simpleModule(3, 7, 145, 16);
    m.orders = {2, 0, 1, 1};
    m.instruments.resize(1);
    m.instruments[0].pcm = {100, -100, 32767, -32768};
    m.instruments[0].loop = false;
    m.instruments[0].volumeEnvelope.clear();
    m.patterns[2] = makePattern(16, 2); // empty: one flag byte per cell
    for (Pattern& p : m.patterns)
        for (Cell& c : p.cells)
            if (c.instrument == 2) c.instrument = 1;
    const std::vector<uint8_t> b = writeModule(m);
    ASSERT_GT(b.size(), 400u);
    EXPECT_EQ(std::memcmp(b.data(), "Extended Module: ", 17), 0);
    EXPECT_EQ(b[37], 0x1A);
    EXPECT_EQ(u16(b, 58), 0x0104);
    EXPECT_EQ(u32(b, 60), 276u);
    EXPECT_EQ(u16(b, 64), 4);   // song length
    EXPECT_EQ(u16(b, 68), 2);   // channels
    EXPECT_EQ(u16(b, 70), 3);   // patterns
    EXPECT_EQ(u16(b, 72), 1);   // instruments
    EXPECT_EQ(u16(b, 74), 1);   // linear slides
    EXPECT_EQ(u16(b, 76), 7);   // speed
    EXPECT_EQ(u16(b, 78), 145); // tempo
    EXPECT_EQ(b[80], 2);
    EXPECT_EQ(b[83], 1);
    EXPECT_EQ(b[84], 0); // unused order slots
    // Pattern 0 at 336: header length 9, packing 0, 16 rows, then its packed bytes.
    EXPECT_EQ(u32(b, 336), 9u);
    EXPECT_EQ(b[340], 0);
    EXPECT_EQ(u16(b, 341), 16);
    const size_t pattern1 = 336 + 9 + u16(b, 343);
    const size_t pattern2 = pattern1 + 9 + u16(b, pattern1 + 7);
    EXPECT_EQ(u16(b, pattern2 + 7), 32) << "an empty cell is one flag byte";
    // The 16-bit sample: 40-byte header after the 263-byte instrument header, deltas last.
    const size_t instrument = pattern2 + 9 + 32;
    EXPECT_EQ(u32(b, instrument), 263u);
    EXPECT_EQ(u16(b, instrument + 27), 1); // one sample
    const size_t sample = instrument + 263;
    EXPECT_EQ(u32(b, sample), 8u);   // length in bytes
    EXPECT_EQ(b[sample + 14], 0x10); // 16-bit, no loop
    EXPECT_EQ(b.size(), sample + 40 + 8);
    const uint16_t deltas[4] = {100, uint16_t(-200), uint16_t(32867), 1};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(u16(b, sample + 40 + 2 * size_t(i)), deltas[i]) << i;
}

TEST(ModuleWriter, RefusesModulesOutsideTheFormatLimits) {
    const std::function<void(Module&)> breaks[] = {
        [](Module& m) { m.channels = 0; },
        [](Module& m) { m.channels = 33; },
        [](Module& m) { m.orders.clear(); },
        [](Module& m) { m.orders.push_back(9); },
        [](Module& m) { m.patterns[0] = makePattern(0, 2); },
        [](Module& m) { m.patterns[0] = makePattern(257, 2); },
        [](Module& m) { m.patterns[0] = makePattern(64, 3); },
        [](Module& m) { m.patterns[0].at(0, 0).note = 98; },
        [](Module& m) { m.patterns[0].at(0, 0).instrument = 3; },
        [](Module& m) { m.speed = 0; },
        [](Module& m) { m.tempo = 31; },
        [](Module& m) { m.instruments[0].loopStart = 30; },
        [](Module& m) { m.instruments[0].volumeEnvelope[1].tick = 0; },
        [](Module& m) { m.instruments[0].sustainPoint = 4; },
        [](Module& m) { m.instruments[0].volume = 65; },
    };
    EXPECT_FALSE(writeModule(simpleModule(2, 6, 125)).empty());
    int i = 0;
    for (const auto& broken : breaks) {
        Module m = simpleModule(2, 6, 125);
        broken(m);
        EXPECT_TRUE(writeModule(m).empty()) << "case " << i;
        ++i;
    }
}

// The effects a composer uses to shape the order of play, heard through libopenmpt.
TEST(ModuleWriter, EffectsPlayAsWritten) {
    Module m = simpleModule(4, 7, 145);
    m.patterns[0].at(2, 1) = {0, 0, 0, 0xD, 0x10}; // break to row 10 of order 1
    m.patterns[1].at(12, 1) = {0, 0, 0, 0xB, 3};   // then on to order 3
    m.patterns[3].at(0, 1) = {0, 0, 0, 0xF, 14};   // speed 14: rows twice as long
    const std::vector<uint8_t> bytes = writeModule(m);
    ASSERT_EQ(openMusicOutput(MusicOutput::LockStep), MusicOutput::LockStep);
    ASSERT_TRUE(loadMusicMemory(bytes.data(), bytes.size(), "effects"));
    ASSERT_TRUE(playMusic(0, 0));
    static int16_t buffer[2 * 5320];
    renderMusic(buffer, 5320 / 2); // then every check falls mid-row
    int peak = 0;
    const struct {
        int order, row;
    } expected[] = {{0, 0},  {0, 1}, {0, 2}, {1, 10}, {1, 11},
                    {1, 12}, {3, 0}, {3, 0}, {3, 1},  {3, 1}};
    for (const auto& e : expected) { // one row of speed 7 apart
        EXPECT_EQ(musicPosition().order, e.order);
        EXPECT_EQ(musicPosition().row, e.row);
        renderMusic(buffer, 5320);
        for (int16_t v : buffer)
            peak = std::max(peak, std::abs(int(v)));
    }
    EXPECT_GT(peak, 1000) << "the generated instruments are audible";
    releaseMusic();
    closeMusicOutput();
}

} // namespace
