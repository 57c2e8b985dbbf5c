#include "platform/music.h"

#include "platform/clock.h"
#include "support/console_capture.h"
#include "support/module_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// The console text cut into lines, each with its "\n".
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        const size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}

// A 33-order module at speed 7, tempo 145, played in lock-step.
struct LockStepMusic : ::testing::Test {
    void SetUp() override {
        static const std::string path =
            writeTestModule("lockstep.xm", modulewriter::simpleModule(33, 7, 145));
        ASSERT_FALSE(path.empty());
        ASSERT_EQ(openMusicOutput(MusicOutput::LockStep), MusicOutput::LockStep);
        ASSERT_TRUE(loadMusicFile(path.c_str()));
    }
    void TearDown() override {
        setMusicQueueDepth(-1);
        releaseMusic();
        closeMusicOutput();
    }
    // Renders up to the given frame count since playMusic.
    static void renderTo(uint64_t frame) {
        static int16_t buffer[2 * 4096];
        while (musicFramesRendered() < frame) {
            const uint64_t left = frame - musicFramesRendered();
            renderMusic(buffer, left < 4096 ? int(left) : 4096);
        }
    }
    static uint64_t middleOfRow(int order, int row) {
        return uint64_t((order * 64 + row + 0.5) * kRowFrames);
    }
};

TEST_F(LockStepMusic, ReportsTheModuleFacts) {
    EXPECT_EQ(musicOrderCount(), 33);
    EXPECT_EQ(musicPatternRowsAt(0), 64);
    EXPECT_EQ(musicPatternRowsAt(32), 64);
    EXPECT_EQ(musicPatternRowsAt(33), 0);
    EXPECT_EQ(musicPatternRowsAt(-1), 0);
    EXPECT_EQ(musicInitialSpeed(), 7);
    EXPECT_EQ(musicInitialTempo(), 145);
}

TEST_F(LockStepMusic, PositionFollowsTheRowLengthOfSpeedAndTempo) {
    ASSERT_TRUE(playMusic(0, 0));
    const MusicPosition start = musicPosition();
    EXPECT_TRUE(start.valid);
    EXPECT_EQ(start.order, 0);
    EXPECT_EQ(start.row, 0);
    // Mid-row samples: the position must be that row although libopenmpt's whole ticks make
    // rows 2.4 frames short (still well inside half a row after ten orders).
    const struct {
        int order, row;
    } expected[] = {{0, 0}, {0, 1}, {0, 2}, {0, 63}, {1, 0}, {1, 1}, {2, 37}, {9, 63}, {10, 0}};
    for (const auto& e : expected) {
        renderTo(middleOfRow(e.order, e.row));
        const MusicPosition p = musicPosition();
        EXPECT_EQ(p.order, e.order) << "row " << e.row;
        EXPECT_EQ(p.row, e.row) << "order " << e.order;
    }
    // The row boundary to the frame, as libopenmpt renders it.
    ASSERT_TRUE(playMusic(0, 0));
    renderTo(uint64_t(kRowFramesRendered) - kMusicMarkBlockFrames);
    EXPECT_EQ(musicPosition().row, 0);
    renderTo(uint64_t(kRowFramesRendered) + kMusicMarkBlockFrames);
    EXPECT_EQ(musicPosition().row, 1);
}

TEST_F(LockStepMusic, AdvanceCarriesTheFractionOfAFrame) {
    const struct {
        uint64_t stepMicroseconds;
        int steps;
        uint64_t frames; // floor(steps * step * 0.0441): a 10 us step is 0.441 frames
    } cases[] = {{16667, 1, 735}, {16667, 60, 44100}, {10, 1, 0},         {10, 3, 1},
                 {10, 100, 44},   {10, 1000, 441},    {1000000, 2, 88200}};
    for (const auto& c : cases) {
        ASSERT_TRUE(playMusic(0, 0));
        for (int i = 0; i < c.steps; ++i)
            advanceMusic(c.stepMicroseconds);
        EXPECT_EQ(musicFramesRendered(), c.frames) << c.stepMicroseconds << " x " << c.steps;
    }
}

TEST_F(LockStepMusic, PlaysFromAnOrderAndRowOnlyInsideTheModule) {
    const struct {
        int order, row;
        bool plays;
    } cases[] = {{5, 10, true},  {32, 63, true}, {0, 0, true},  {33, 0, false},
                 {0, 64, false}, {-1, 0, false}, {0, -1, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(playMusic(c.order, c.row), c.plays) << c.order << ":" << c.row;
        if (!c.plays) continue;
        EXPECT_EQ(musicPosition().order, c.order);
        EXPECT_EQ(musicPosition().row, c.row);
        renderTo(uint64_t(kRowFrames * 1.5));
        const MusicPosition next = musicPosition(); // past the last row: past the last order
        EXPECT_EQ(next.order * 64 + next.row, c.order * 64 + c.row + 1);
    }
}

TEST_F(LockStepMusic, HeardPositionLagsByTheQueuedFrames) {
    ASSERT_TRUE(playMusic(0, 0));
    renderTo(middleOfRow(1, 2));
    const struct {
        int queueRows; // fake depth in rows
        int order, row;
    } cases[] = {{0, 1, 2}, {1, 1, 1}, {3, 0, 63}, {66, 0, 0}, {1000, 0, 0}};
    for (const auto& c : cases) {
        setMusicQueueDepth(int(c.queueRows * kRowFrames));
        const MusicHeard heard = musicHeard();
        EXPECT_EQ(heard.position.order, c.order) << c.queueRows;
        EXPECT_EQ(heard.position.row, c.row) << c.queueRows;
    }
    // Across a jump the queue still holds the old order.
    setMusicQueueDepth(-1);
    jumpMusicToOrder(20);
    renderTo(musicFramesRendered() + uint64_t(kRowFrames / 2));
    setMusicQueueDepth(int(kRowFrames));
    EXPECT_EQ(musicPosition().order, 1);
    setMusicQueueDepth(int(kRowFrames / 4));
    EXPECT_EQ(musicPosition().order, 20);
    EXPECT_EQ(musicPosition().row, 0);
}

TEST_F(LockStepMusic, EndsInSilenceAndSurvivesJumpsPastTheEnd) {
    ASSERT_TRUE(playMusic(32, 60));
    static int16_t buffer[2 * 4096];
    int filled = 0;
    for (int i = 0; i < 20; ++i)
        filled += renderMusic(buffer, 4096);
    EXPECT_LT(filled, 20 * 4096) << "played once, not looped";
    EXPECT_EQ(renderMusic(buffer, 4096), 0);
    for (int v : buffer)
        ASSERT_EQ(v, 0);
    EXPECT_EQ(musicPosition().order, 33) << "ended: past the last order, not back at 0";
    EXPECT_EQ(musicPosition().row, 0);
    jumpMusicToOrder(40);
    EXPECT_EQ(musicPosition().order, 33);
    EXPECT_EQ(renderMusic(buffer, 4096), 0);
    EXPECT_EQ(musicPosition().order, 33);
    jumpMusicToOrder(3); // back into the module: it plays again
    EXPECT_GT(renderMusic(buffer, 4096), 0);
    EXPECT_EQ(musicPosition().order, 3);
}

// Two loads of the same module render the same bytes: a capture's sound must not change from
// run to run (dither noise from a randomly seeded generator would).
TEST(MusicRender, SameModuleAndSpanGiveTheSameSamples) {
    const std::vector<uint8_t> bytes =
        modulewriter::writeModule(modulewriter::simpleModule(4, 6, 125));
    ASSERT_EQ(openMusicOutput(MusicOutput::LockStep), MusicOutput::LockStep);
    constexpr int kFrames = 2 * kMusicSampleRate; // eight rows: two notes on each channel
    std::vector<int16_t> runs[2];
    for (std::vector<int16_t>& samples : runs) {
        ASSERT_TRUE(loadMusicMemory(bytes.data(), bytes.size(), "notes.xm"));
        ASSERT_TRUE(playMusic(1, 0));
        samples.assign(2 * kFrames, 0);
        EXPECT_EQ(renderMusic(samples.data(), kFrames), kFrames);
        releaseMusic();
    }
    closeMusicOutput();
    int loud = 0;
    for (const int16_t v : runs[0])
        loud += v > 1000 || v < -1000;
    EXPECT_GT(loud, kFrames / 4) << "real notes, not silence";
    size_t differing = 0;
    for (size_t i = 0; i < runs[0].size(); ++i)
        differing += runs[0][i] != runs[1][i];
    EXPECT_EQ(differing, 0u);
}

// A module the library loads with warnings plays on; its warnings become one line that names
// the file, on stderr and the console.
TEST(MusicLoad, WarningsBecomeOneLineNamingTheFile) {
    const std::string longWarning(2000, 'w');
    const struct {
        const char* warnings;
        std::string line; // "" for none
    } cases[] = {
        {"", ""},
        {"Sample 3: data is truncated", "tune.it: libopenmpt warns: Sample 3: data is truncated\n"},
        {"first\nsecond\r\nthird\n", "tune.it: libopenmpt warns: first; second; third\n"},
        {longWarning.c_str(), "tune.it: libopenmpt warns: www"},
    };
    for (const auto& c : cases) {
        ConsoleCapture console;
        ::testing::internal::CaptureStderr();
        reportMusicLoadWarnings("tune.it", c.warnings);
        const std::string errors = ::testing::internal::GetCapturedStderr();
        const std::vector<std::string> lines = linesOf(console.text);
        if (c.line.empty()) {
            EXPECT_TRUE(lines.empty());
            EXPECT_EQ(errors, "");
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << c.warnings;
        EXPECT_EQ(lines[0].rfind(c.line, 0), 0u) << lines[0];
        EXPECT_LT(lines[0].size(), 1024u);
        EXPECT_EQ(errors, "quilm: " + lines[0]);
    }
    reportMusicLoadWarnings("tune.it", nullptr); // the library may give none at all
}

// Linux opens a folder and fails to read it; Windows refuses to open one.
#ifdef _WIN32
constexpr const char* kFolderReason = "cannot open";
#else
constexpr const char* kFolderReason = "cannot read";
#endif

TEST(MusicLoad, BadFilesGiveFalseAndOneLine) {
    ConsoleCapture console;
    const std::string dir = scratchDirectory("music-bad");
    const std::vector<uint8_t> good =
        modulewriter::writeModule(modulewriter::simpleModule(2, 6, 125));
    auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    };
    const std::string text = "This is not a module, just a few words of text.\n";
    std::vector<uint8_t> damaged = good;
    for (size_t i = 0; i < 64; ++i)
        damaged[i] = uint8_t(i * 37);
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {
        {dir + "/missing.xm", "cannot open"},
        {dir, kFolderReason},
        {write("empty.xm", {}), "empty"},
        {write("text.xm", std::vector<uint8_t>(text.begin(), text.end())), "not a module"},
        {write("header.xm", std::vector<uint8_t>(good.begin(), good.begin() + 40)), "not a module"},
        {write("damaged.xm", damaged), "not a module"},
    };
    for (const auto& c : cases) {
        console.text.clear();
        EXPECT_FALSE(loadMusicFile(c.path.c_str())) << c.path;
        const std::vector<std::string> lines = linesOf(console.text);
        EXPECT_FALSE(musicLoaded());
        ASSERT_EQ(lines.size(), 1u) << c.path;
        EXPECT_NE(lines[0].find(c.path), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].back(), '\n');
    }
    // One byte over the cap, as a sparse file.
    const std::string huge = dir + "/huge.xm";
    FILE* f = std::fopen(huge.c_str(), "wb");
    std::fseek(f, long(kMusicFileMaxBytes), SEEK_SET);
    std::fputc(0, f);
    std::fclose(f);
    console.text.clear();
    EXPECT_FALSE(loadMusicFile(huge.c_str()));
    const std::vector<std::string> lines = linesOf(console.text);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("64 MB"), std::string::npos) << lines[0];
    std::remove(huge.c_str());
    // A module cut short after its patterns still loads or fails cleanly; never a crash.
    for (size_t cut = 60; cut < good.size(); cut += 97)
        loadMusicMemory(good.data(), cut, "cut");
    releaseMusic();
}

struct DriverEnvironment : ::testing::Test {
    std::string saved;
    bool had = false;
    void SetUp() override {
        const char* v = std::getenv("SDL_AUDIODRIVER");
        had = v != nullptr;
        if (had) saved = v;
    }
    void TearDown() override {
        releaseMusic();
        closeMusicOutput();
        useRealClock();
        if (had)
            setenv("SDL_AUDIODRIVER", saved.c_str(), 1);
        else
            unsetenv("SDL_AUDIODRIVER");
    }
};

TEST_F(DriverEnvironment, WithoutADeviceTheMusicRunsSilentOnTheClock) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_EQ(openMusicOutput(MusicOutput::Device), MusicOutput::Silent);
    EXPECT_NE(musicDeviceFailure(), MusicDeviceFailure::None);
    EXPECT_STRNE(musicDeviceError(), "");
    const std::string path = writeTestModule("silent.xm", modulewriter::simpleModule(4, 7, 145));
    ASSERT_TRUE(loadMusicFile(path.c_str()));
    useFixedStepClock(100000); // 0.1 s per step
    ASSERT_TRUE(playMusic(0, 0));
    EXPECT_EQ(musicPosition().row, 0);
    for (int i = 0; i < 10; ++i)
        advanceFixedStepClock();
    const MusicPosition p = musicPosition(); // one second: 44100 / 5320 = 8.3 rows
    EXPECT_TRUE(p.valid);
    EXPECT_EQ(p.order, 0);
    EXPECT_EQ(p.row, 8);
    EXPECT_EQ(musicFramesRendered(), 44100u);
}

#ifdef __linux__
// Without a sound card libasound would print lines of its own on stderr; the player's one
// line that the music runs silent is the caller's. With a card the device just opens.
TEST_F(DriverEnvironment, AlsaPrintsNothingOfItsOwn) {
    setenv("SDL_AUDIODRIVER", "alsa", 1);
    setenv("ALSA_CARD", "quilm-no-such-card", 1);
    ::testing::internal::CaptureStderr();
    openMusicOutput(MusicOutput::Device);
    closeMusicOutput();
    const std::string errors = ::testing::internal::GetCapturedStderr();
    unsetenv("ALSA_CARD");
    EXPECT_EQ(errors.find("ALSA lib"), std::string::npos) << errors;
}
#endif

TEST_F(DriverEnvironment, DummyDeviceAdvancesThePositionOnItsOwn) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(openMusicOutput(MusicOutput::Device), MusicOutput::Device);
    const std::string path = writeTestModule("device.xm", modulewriter::simpleModule(4, 7, 145));
    ASSERT_TRUE(loadMusicFile(path.c_str()));
    ASSERT_TRUE(playMusic(1, 5));
    EXPECT_EQ(musicPosition().order, 1);
    // The audio thread moves on by itself; a jump is applied by it, too.
    uint32_t waited = 0;
    while (musicPosition().row < 7 && waited < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        waited += 10;
    }
    EXPECT_GE(musicPosition().row, 7);
    jumpMusicToOrder(3);
    waited = 0;
    while (musicPosition().order != 3 && waited < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        waited += 10;
    }
    EXPECT_EQ(musicPosition().order, 3);
    EXPECT_LT(musicPosition().row, 20);
}

} // namespace
