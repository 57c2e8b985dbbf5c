#include "app/headless.h"
#include "app/setup_dialog.h"

#include "image/png_writer.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

SetupOptions optionsFrom(const SetupDialogControls& controls) {
    SetupOptions options;
    options.width = options.height = -1;
    readSetupDialog(controls, options);
    return options;
}

TEST(SetupDialogRules, DefaultsGiveFullScreen1024WithExtensionsAndConsoleOff) {
    SetupDialogControls c;
    initSetupDialog(c);
    const SetupOptions o = optionsFrom(c);
    EXPECT_EQ(o.width, 1024);
    EXPECT_EQ(o.height, 768);
    EXPECT_TRUE(o.fullscreen);
    EXPECT_FALSE(o.consoleEnabled);
    EXPECT_TRUE(o.useExtensions);
    EXPECT_TRUE(o.useDxt);
    EXPECT_TRUE(o.wideScreen);
    EXPECT_TRUE(o.alwaysInFront);
    EXPECT_FALSE(o.lowMemory);
    EXPECT_FALSE(o.makeHidetrack);
}

TEST(SetupDialogRules, AnySelectionButTheSecondGives640x480AndNoExtensionsMeansNoDxt) {
    SetupDialogControls c;
    initSetupDialog(c);
    for (int selection : {0, -1, 2, 7}) {
        c.resolution = selection;
        const SetupOptions o = optionsFrom(c);
        EXPECT_EQ(o.width, 640) << selection;
        EXPECT_EQ(o.height, 480) << selection;
    }
    c.disableExtensions = true;
    c.useDxt = true;
    EXPECT_FALSE(optionsFrom(c).useDxt);
    EXPECT_FALSE(optionsFrom(c).useExtensions);
    c.disableExtensions = false;
    c.useDxt = false;
    EXPECT_FALSE(optionsFrom(c).useDxt);
}

TEST(SetupDialogRules, CommandLineOptionsPresetTheControls) {
    SetupDialogControls c;
    initSetupDialog(c);
    const SetupDialogControls defaults = c;
    CommandLine line;
    presetSetupDialog(c, line);
    EXPECT_EQ(std::memcmp(&c, &defaults, sizeof c), 0) << "no options, no change";

    line.console = line.windowed = line.noExtensions = line.noDxt = line.lowMemory = true;
    line.noWideScreen = line.makeHidetrack = true;
    presetSetupDialog(c, line);
    EXPECT_FALSE(c.disableConsole);
    EXPECT_FALSE(c.fullscreen);
    EXPECT_TRUE(c.disableExtensions);
    EXPECT_FALSE(c.useDxt);
    EXPECT_TRUE(c.lowMemory);
    EXPECT_FALSE(c.wideScreen);
    EXPECT_TRUE(c.makeHidetrack);
    EXPECT_TRUE(c.alwaysInFront);

    struct Size {
        int width, height, resolution;
    };
    for (const Size& size : {Size{640, 480, 0}, Size{1024, 768, 1}, Size{800, 600, -1},
                             Size{640, 768, -1}, Size{1024, 480, -1}}) {
        line.sizeGiven = true;
        line.width = size.width;
        line.height = size.height;
        presetSetupDialog(c, line);
        EXPECT_EQ(c.resolution, size.resolution) << size.width << "x" << size.height;
    }
}

TEST(SetupDialogRules, ResolutionListAddsTheDesktopAndTheWideSizesItCanShow) {
    struct Case {
        int desktopWidth, desktopHeight;
        std::vector<std::pair<int, int>> modes;
        const char* list; // the names, space-separated
    };
    const Case cases[] = {
        {0, 0, {}, "640x480 1024x768"},                 // nothing known
        {1024, 768, {{1024, 768}}, "640x480 1024x768"}, // SDL's offscreen display
        {640, 480, {}, "640x480 1024x768"},
        {800, 600, {{800, 600}, {640, 480}}, "640x480 1024x768 800x600"},
        {1279, 720, {}, "640x480 1024x768 1279x720"},
        {1280, 719, {}, "640x480 1024x768 1280x719"},
        {1280, 720, {}, "640x480 1024x768 1280x720"},
        {1366, 768, {}, "640x480 1024x768 1280x720 1366x768"},
        {1920, 1080, {{1920, 1080}, {1280, 720}}, "640x480 1024x768 1280x720 1920x1080"},
        {1920, 1079, {}, "640x480 1024x768 1280x720 1920x1079"},
        {2560, 1440, {}, "640x480 1024x768 1280x720 1920x1080 2560x1440"},
        {1280, 1024, {{1920, 1080}}, "640x480 1024x768 1280x720 1280x1024 1920x1080"},
        {1024,
         768,
         {{1920, 1080}, {1280, 720}, {1920, 1080}}, // a mode beyond the desktop
         "640x480 1024x768 1280x720 1920x1080"},
    };
    for (const Case& c : cases) {
        DisplaySizes display;
        display.desktopWidth = c.desktopWidth;
        display.desktopHeight = c.desktopHeight;
        for (const auto& [w, h] : c.modes) {
            display.modes[display.modeCount][0] = w;
            display.modes[display.modeCount++][1] = h;
        }
        SetupDialogControls controls;
        initSetupDialog(controls);
        buildResolutionList(&display, controls.resolutions);
        std::string names;
        for (int i = 0; i < controls.resolutions.count; ++i)
            names += (i ? " " : "") + std::string(controls.resolutions.names[i]);
        EXPECT_EQ(names, c.list) << c.desktopWidth << "x" << c.desktopHeight;

        // Every entry is what it says; a position past the list is 640x480; a --size on the
        // list selects it.
        for (int i = -1; i <= controls.resolutions.count; ++i) {
            controls.resolution = i;
            const SetupOptions o = optionsFrom(controls);
            const bool inside = i >= 0 && i < controls.resolutions.count;
            char name[32];
            std::snprintf(name, sizeof name, "%dx%d", o.width, o.height);
            EXPECT_STREQ(name, inside ? controls.resolutions.names[i] : "640x480") << i;
            if (!inside) continue;
            CommandLine line;
            line.sizeGiven = true;
            line.width = o.width;
            line.height = o.height;
            controls.resolution = -1;
            presetSetupDialog(controls, line);
            EXPECT_EQ(controls.resolution, i) << name;
        }
    }
}

// Drives a live dialog on the offscreen driver with injected events.
class SetupDialogSessionTest : public ::testing::Test {
  protected:
    SetupDialogSession session;
    void SetUp() override {
        ASSERT_TRUE(useHeadlessVideo());
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        ASSERT_TRUE(beginSetupDialog(session));
        ASSERT_EQ(stepSetupDialog(session), SetupDialogResult::running);
    }
    void TearDown() override {
        if (session.ui.window.window) endSetupDialog(session);
    }
    SetupDialogResult stepUntilDone(int maxFrames = 20) {
        SetupDialogResult r = SetupDialogResult::running;
        for (int i = 0; i < maxFrames && r == SetupDialogResult::running; ++i)
            r = stepSetupDialog(session);
        return r;
    }
    // A key press and release, then frames to settle.
    void tap(SDL_Keycode key, SDL_Scancode code, Uint16 mod = KMOD_NONE) {
        pushKey(key, code, true, mod);
        pushKey(key, code, false, mod);
        for (int i = 0; i < 3; ++i)
            stepSetupDialog(session);
    }
    int focused() const { return dialogUiFocusedControl(session.ui); }
    bool listOpen() const {
        SetupDialogRect rect;
        return findSetupDialogRect(session, kControlResolutionEntry0, rect);
    }
    // The dialog's pixels as last presented, rows top-down, RGBA.
    std::vector<uint8_t> readDialog(int& w, int& h) {
        SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(session.ui.window.window), &w, &h);
        std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
        glReadBuffer(GL_FRONT);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        std::vector<uint8_t> flipped(pixels.size());
        for (int y = 0; y < h; ++y)
            std::copy_n(&pixels[static_cast<size_t>(h - 1 - y) * w * 4], w * 4,
                        &flipped[static_cast<size_t>(y) * w * 4]);
        return flipped;
    }
    // A full click: press and release in separate frames, then one frame to settle.
    void click(int controlId) {
        SetupDialogRect rect;
        ASSERT_TRUE(findSetupDialogRect(session, controlId, rect)) << controlId;
        const float x = rect.x + rect.height * 0.5f;
        const float y = rect.y + rect.height * 0.5f;
        pushMouseButton(x, y, true);
        pushMouseButton(x, y, false);
        for (int i = 0; i < 3; ++i)
            stepSetupDialog(session);
    }
};

TEST_F(SetupDialogSessionTest, WindowIsTitledAndHidetrackBoxIsNeverDrawn) {
    EXPECT_STREQ(SDL_GetWindowTitle(static_cast<SDL_Window*>(session.ui.window.window)),
                 "Quilm Demo Theater");
    SetupDialogRect rect;
    EXPECT_FALSE(findSetupDialogRect(session, kControlMakeHidetrack, rect));
    // The display's sizes follow the two fixed entries.
    ASSERT_GE(session.controls.resolutions.count, 2);
    EXPECT_STREQ(session.controls.resolutions.names[0], "640x480");
    EXPECT_STREQ(session.controls.resolutions.names[1], "1024x768");
    for (int id : {kControlResolution, kControlFullscreen, kControlDisableConsole,
                   kControlDisableExtensions, kControlLowMemory, kControlAlwaysInFront,
                   kControlWideScreen, kControlUseDxt, kControlRun, kControlCancel})
        EXPECT_TRUE(findSetupDialogRect(session, id, rect)) << id;
    // Controls must not overlap, or a click would hit two of them.
    SetupDialogRect a, b;
    ASSERT_TRUE(findSetupDialogRect(session, kControlUseDxt, a));
    ASSERT_TRUE(findSetupDialogRect(session, kControlWideScreen, b));
    EXPECT_LE(b.y + b.height, a.y);
}

TEST_F(SetupDialogSessionTest, EnterRunsWithTheDefaults) {
    setupOptions = SetupOptions{};
    setupOptions.width = 1;
    pushKey(SDLK_RETURN, SDL_SCANCODE_RETURN, true);
    EXPECT_EQ(stepUntilDone(), SetupDialogResult::run);
    endSetupDialog(session);
    EXPECT_EQ(setupOptions.width, 1024);
    EXPECT_EQ(setupOptions.height, 768);
    EXPECT_TRUE(setupOptions.fullscreen);
    EXPECT_FALSE(setupOptions.consoleEnabled);
    EXPECT_TRUE(setupOptions.useDxt);
    EXPECT_FALSE(setupOptions.makeHidetrack);
}

TEST_F(SetupDialogSessionTest, EscapeCloseBoxAndQuitCancel) {
    pushKey(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, true);
    EXPECT_EQ(stepUntilDone(), SetupDialogResult::cancel);
    endSetupDialog(session);

    ASSERT_TRUE(beginSetupDialog(session));
    pushWindowEvent(session.ui.window.window, SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(stepUntilDone(), SetupDialogResult::cancel);
    endSetupDialog(session);

    ASSERT_TRUE(beginSetupDialog(session));
    pushQuit();
    EXPECT_EQ(stepUntilDone(), SetupDialogResult::cancel);
}

TEST_F(SetupDialogSessionTest, ClickingButtonsAndBoxes) {
    click(kControlFullscreen);
    click(kControlDisableConsole);
    click(kControlDisableExtensions);
    EXPECT_FALSE(session.controls.fullscreen);
    EXPECT_FALSE(session.controls.disableConsole);
    EXPECT_TRUE(session.controls.disableExtensions);
    EXPECT_TRUE(session.controls.useDxt); // the box still shows it; the stored option does not
    click(kControlRun);
    EXPECT_EQ(session.result, SetupDialogResult::run);
    endSetupDialog(session);
    EXPECT_FALSE(setupOptions.fullscreen);
    EXPECT_TRUE(setupOptions.consoleEnabled);
    EXPECT_FALSE(setupOptions.useExtensions);
    EXPECT_FALSE(setupOptions.useDxt);
}

TEST_F(SetupDialogSessionTest, ChoosingTheFirstResolutionThenCancelStillStoresIt) {
    click(kControlResolution);
    SetupDialogRect entry;
    ASSERT_TRUE(findSetupDialogRect(session, kControlResolutionEntry0, entry));
    click(kControlResolutionEntry0);
    EXPECT_EQ(session.controls.resolution, 0);
    click(kControlCancel);
    EXPECT_EQ(session.result, SetupDialogResult::cancel);
    endSetupDialog(session);
    EXPECT_EQ(setupOptions.width, 640);
    EXPECT_EQ(setupOptions.height, 480);
}

TEST_F(SetupDialogSessionTest, KeyboardNavigationTogglesAFocusedBox) {
    // Arrows move the focus, Space acts on the focused control and never closes the dialog.
    const SetupDialogControls before = session.controls;
    auto tap = [&](SDL_Keycode key, SDL_Scancode code) {
        pushKey(key, code, true);
        pushKey(key, code, false);
        for (int i = 0; i < 3; ++i)
            stepSetupDialog(session);
    };
    tap(SDLK_DOWN, SDL_SCANCODE_DOWN);
    tap(SDLK_DOWN, SDL_SCANCODE_DOWN);
    tap(SDLK_SPACE, SDL_SCANCODE_SPACE);
    EXPECT_EQ(session.result, SetupDialogResult::running);
    const SetupDialogControls& after = session.controls;
    const int changed = (after.fullscreen != before.fullscreen) +
                        (after.disableConsole != before.disableConsole) +
                        (after.disableExtensions != before.disableExtensions) +
                        (after.lowMemory != before.lowMemory);
    EXPECT_EQ(changed, 1);
    if (const char* path = std::getenv("QUILM_DIALOG_PNG")) {
        int w = 0, h = 0;
        const std::vector<uint8_t> pixels = readDialog(w, h);
        writePngRgba(path, w, h, pixels.data());
    }
}

TEST_F(SetupDialogSessionTest, TabWalksTheControlsInOrderAndEnterPressesTheFocusedButton) {
    const int order[] = {kControlResolution,
                         kControlFullscreen,
                         kControlDisableConsole,
                         kControlDisableExtensions,
                         kControlLowMemory,
                         kControlAlwaysInFront,
                         kControlWideScreen,
                         kControlUseDxt,
                         kControlRun,
                         kControlCancel,
                         kControlResolution};
    EXPECT_EQ(focused(), 0);
    for (int id : order) {
        tap(SDLK_TAB, SDL_SCANCODE_TAB);
        EXPECT_EQ(focused(), id);
    }
    tap(SDLK_TAB, SDL_SCANCODE_TAB, KMOD_LSHIFT);
    EXPECT_EQ(focused(), kControlCancel) << "Shift+Tab goes back, wrapping";
    EXPECT_EQ(session.result, SetupDialogResult::running) << "moving the focus presses nothing";
    pushKey(SDLK_RETURN, SDL_SCANCODE_RETURN, true);
    EXPECT_EQ(stepUntilDone(), SetupDialogResult::cancel);
    endSetupDialog(session);

    // On a box, Enter still means the default button.
    ASSERT_TRUE(beginSetupDialog(session));
    stepSetupDialog(session);
    tap(SDLK_TAB, SDL_SCANCODE_TAB);
    tap(SDLK_TAB, SDL_SCANCODE_TAB);
    tap(SDLK_SPACE, SDL_SCANCODE_SPACE);
    EXPECT_FALSE(session.controls.fullscreen);
    pushKey(SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, true);
    EXPECT_EQ(stepUntilDone(), SetupDialogResult::run);
}

TEST_F(SetupDialogSessionTest, TheOpenListTakesEnterAndEscapeAndHidesWhatIsBelow) {
    click(kControlResolution);
    ASSERT_TRUE(listOpen());
    // Nothing of the labels below may show through the list, away from its entries' texts.
    int w = 0, h = 0;
    const std::vector<uint8_t> pixels = readDialog(w, h);
    SetupDialogRect first, second;
    ASSERT_TRUE(findSetupDialogRect(session, kControlResolutionEntry0, first));
    ASSERT_TRUE(findSetupDialogRect(session, kControlResolutionEntry1, second));
    if (const char* path = std::getenv("QUILM_DIALOG_LIST_PNG"))
        writePngRgba(path, w, h, pixels.data());
    // "Resolution" and "Fullscreen" lie under the list and reach further right than the
    // entries' texts; each entry's row right of its text is one flat colour.
    for (const SetupDialogRect& entry : {first, second}) {
        const int top = static_cast<int>(entry.y) + 2;
        const int left = static_cast<int>(entry.x) + 66;
        const uint8_t* flat = &pixels[(static_cast<size_t>(top) * w + left) * 4];
        for (int y = top; y < static_cast<int>(entry.y + entry.height) - 2; ++y)
            for (int x = left; x < static_cast<int>(entry.x + entry.width) - 6; ++x)
                ASSERT_EQ(std::memcmp(&pixels[(static_cast<size_t>(y) * w + x) * 4], flat, 3), 0)
                    << x << "," << y;
    }

    // Escape closes the list only; Enter picks the entry the keyboard moved to.
    tap(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
    EXPECT_FALSE(listOpen());
    EXPECT_EQ(session.result, SetupDialogResult::running);
    EXPECT_EQ(focused(), kControlResolution) << "the click left the focus on the list";
    click(kControlResolution);
    ASSERT_TRUE(listOpen());
    tap(SDLK_TAB, SDL_SCANCODE_TAB);
    EXPECT_FALSE(listOpen()) << "Tab leaves the list closed";
    EXPECT_EQ(focused(), kControlFullscreen);
    tap(SDLK_TAB, SDL_SCANCODE_TAB, KMOD_RSHIFT);
    ASSERT_EQ(focused(), kControlResolution);
    tap(SDLK_SPACE, SDL_SCANCODE_SPACE);
    ASSERT_TRUE(listOpen());
    tap(SDLK_UP, SDL_SCANCODE_UP);
    tap(SDLK_RETURN, SDL_SCANCODE_RETURN);
    EXPECT_FALSE(listOpen());
    EXPECT_EQ(session.controls.resolution, 0);
    EXPECT_EQ(session.result, SetupDialogResult::running);
    pushKey(SDLK_RETURN, SDL_SCANCODE_RETURN, true);
    EXPECT_EQ(stepUntilDone(), SetupDialogResult::run);
    endSetupDialog(session);
    EXPECT_EQ(setupOptions.width, 640);
}

TEST_F(SetupDialogSessionTest, APresetIsWhatTheUserSeesAndChanges) {
    CommandLine line;
    line.console = true;
    line.windowed = true;
    presetSetupDialog(session.controls, line);
    stepSetupDialog(session);
    click(kControlDisableConsole);
    click(kControlRun);
    endSetupDialog(session);
    EXPECT_FALSE(setupOptions.consoleEnabled) << "the user's tick stands";
    EXPECT_FALSE(setupOptions.fullscreen);
}

} // namespace
