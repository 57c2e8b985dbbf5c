// Hot reload on a headless context: a changed cue and a changed scene file show in the next
// frame, the music does not move, and a wrong manifest leaves the demo as it was.
#include "app/demo_reload.h"
#include "app/gl_window.h"
#include "app/headless.h"
#include "app/player.h"
#include "demo/builtin_demo.h"
#include "demo/demo_fixture.h"
#include "demo/demo_frames.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "e2e/run_binary.h"
#include "platform/clock.h"
#include "platform/keys.h"
#include "platform/music.h"
#include "platform/options.h"
#include "render/render_fixture.h"
#include "support/console_capture.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using rendertest::near;
using rendertest::Rgba;

Rgba background(DemoScene scene) {
    const FixtureColour& c = kFixtureBackgrounds[scene];
    return {c.r, c.g, c.b};
}

std::string manifest(const char* window, const char* scene) {
    return std::string("[demo]\nmusic = \"tune.mo3\"\n[scenes]\nfirst = \"eiche.q3d\"\n"
                       "second = \"fluss.q3d\"\ncues = [\n  { timer = 5, from = \"0:0\", to = ") +
           window + ", rows = 64, scene = \"" + scene + "\" },\n]\n";
}

// The test data set in dir, played from a manifest of one cue on the first scene, watched.
void loadWatched(const std::string& dir, const std::string& path, DemoWatch& watch) {
    ASSERT_EQ(std::system(("cp -r '" + demoFixture() + "/.' '" + dir + "'").c_str()), 0);
    std::ofstream(path) << manifest("\"3:63\"", "first");
    static DemoManifest first;
    char text[1024] = "";
    ManifestErrors errors{text, int(sizeof text)};
    ASSERT_TRUE(readDemoManifest(path.c_str(), first, errors)) << text;
    DemoLoadRequest request;
    request.dataDirectory = dir.c_str();
    request.manifest = &first;
    ASSERT_TRUE(loadDemoData(request));
    watchDemo(watch, path.c_str());
}

using DemoReload = DemoFrameTest;

TEST_F(DemoReload, ChangedCuesAndScenesShowNextFrameWithTheMusicWhereItWas) {
    const std::string dir = scratchDirectory("reload");
    const std::string path = dir + "/demo.toml";
    DemoWatch watch;
    ASSERT_NO_FATAL_FAILURE(loadWatched(dir, path, watch));
    for (int i = 0; i < 10; ++i)
        frame();
    EXPECT_TRUE(near(pixel(2, 2), background(Eiche)));
    EXPECT_FALSE(demoChangedOnDisk(watch, 0)) << "nothing changed yet";
    const Scene* kept = demoData.scenes[0];

    // The cue's window and scene change, and the second scene's file now holds another scene.
    std::ofstream(path) << manifest("\"3:62\"", "second");
    ASSERT_EQ(std::system(("cp '" + dir + "/kraniche.q3d' '" + dir + "/fluss.q3d'").c_str()), 0);
    EXPECT_FALSE(demoChangedOnDisk(watch, 999)) << "at most one look a second";
    EXPECT_TRUE(demoChangedOnDisk(watch, 1000));
    const int32_t position = cuePosition();
    ConsoleCapture log;
    char notice[64] = "";
    ASSERT_TRUE(reloadPlayingDemo(watch, notice, sizeof notice)) << log.text;
    EXPECT_EQ(log.text.find("Reloading scene eiche.q3d"), std::string::npos) << "unchanged: kept";
    EXPECT_NE(log.text.find("Reloading scene fluss.q3d\n"), std::string::npos) << log.text;
    EXPECT_EQ(demoData.scenes[0], kept);
    EXPECT_EQ(cuePosition(), position);
    EXPECT_EQ(cueTimers()[5], kCueNotStarted) << "its window changed: it starts again";
    log.text.clear();
    frame();
    EXPECT_EQ(log.text.rfind("timer 5 started at ", 0), 0u) << log.text;
    EXPECT_TRUE(near(pixel(2, 2), background(Kraniche))) << "the new file, not the old fluss";
    EXPECT_FALSE(demoChangedOnDisk(watch, 3000)) << "what was reloaded is the new baseline";

    // Reloading the same again restarts nothing; a wrong manifest changes nothing.
    const float started = cueTimers()[5];
    ASSERT_TRUE(reloadPlayingDemo(watch, notice, sizeof notice));
    EXPECT_EQ(cueTimers()[5], started);
    const DemoManifest* playing = demoData.manifest;
    std::ofstream(path) << manifest("\"3:62\"", "thrid");
    EXPECT_FALSE(reloadPlayingDemo(watch, notice, sizeof notice));
    EXPECT_STREQ(notice, "manifest errors: the demo plays on");
    EXPECT_EQ(demoData.manifest, playing);
    frame();
    EXPECT_TRUE(near(pixel(2, 2), background(Kraniche)));
}

// In the player's loop: F5 reloads at once; --watch notices a saved manifest by itself, and
// without it a change waits for F5.
TEST(DemoReloadKeys, F5AndWatchReloadInTheMainLoop) {
    ASSERT_TRUE(useHeadlessVideo());
    setupOptions = SetupOptions{};
    setupOptions.width = 160;
    setupOptions.height = 120;
    ASSERT_TRUE(createGLWindow(160, 120, 32, false));
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    useFixedStepClock(40000);
    useMusicLockStep(40000);
    const std::string dir = scratchDirectory("reload_keys");
    const std::string path = dir + "/demo.toml";
    DemoWatch watch;
    ASSERT_NO_FATAL_FAILURE(loadWatched(dir, path, watch));
    MainLoop loop;
    loop.demoWatch = &watch;
    const auto run = [&](int frames) {
        loop.notice[0] = '\0';
        loop.frameLimit = loop.framesDrawn + frames;
        runMainLoop(loop);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    };
    const struct {
        const char* what;
        bool f5, watching;
        const char* window; // written before the run; null: no change
        const char* notice;
    } steps[] = {
        {"nothing changed, no key", false, false, nullptr, ""},
        {"F5 with nothing changed", true, false, nullptr, "reloaded"},
        {"a change without --watch", false, false, "\"3:61\"", ""},
        {"--watch sees it", false, true, nullptr, "reloaded"},
        {"--watch, a change", false, true, "\"3:60\"", "reloaded"},
        {"--watch, a wrong manifest", false, true, "\"3:6o\"",
         "manifest errors: the demo plays on"},
    };
    for (const auto& step : steps) {
        if (step.window) std::ofstream(path) << manifest(step.window, "second");
        loop.watchFiles = step.watching;
        if (step.f5) {
            pushKey(SDLK_F5, SDL_SCANCODE_F5, true);
            pushKey(SDLK_F5, SDL_SCANCODE_F5, false);
        }
        run(30); // 1.2 s of frames: --watch looks once a second
        EXPECT_STREQ(loop.notice, step.notice) << step.what;
    }
    EXPECT_EQ(demoData.manifest->cues[0].last, 3 * 256 + 60) << "the last good manifest plays";
    releaseDemoData();
    closeMusicOutput();
    useMusicLockStep(0);
    useRealClock();
    clearKeyTable();
    destroyGLWindow();
}

} // namespace
