#include "app/headless.h"
#include "app/setup_dialog.h"

#include "image/png_writer.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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
        SDL_GL_GetDrawableSize(static_cast<SDL_Window*>(session.ui.window.window), &w, &h);
        std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4);
        glReadBuffer(GL_FRONT);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        std::vector<uint8_t> flipped(pixels.size());
        for (int y = 0; y < h; ++y)
            std::copy_n(&pixels[static_cast<size_t>(h - 1 - y) * w * 4], w * 4,
                        &flipped[static_cast<size_t>(y) * w * 4]);
        writePngRgba(path, w, h, flipped.data());
    }
}

} // namespace
