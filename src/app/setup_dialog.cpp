#include "app/setup_dialog.h"

#include <cstdio>

namespace {

// Dialog units of the original template to pixels: wide enough for ImGui's 13-pixel font.
constexpr float kUnitX = 2.0f;
constexpr float kUnitY = 1.75f;
constexpr int kDialogWidthUnits = 142;
constexpr int kDialogHeightUnits = 137;

constexpr int kFixedEntries = 2;
constexpr int kFixedSizes[kFixedEntries][2] = {{640, 480}, {1024, 768}};
constexpr int kWideSizes[2][2] = {{1280, 720}, {1920, 1080}};

bool listed(const ResolutionList& list, int width, int height) {
    for (int i = 0; i < list.count; ++i)
        if (list.sizes[i][0] == width && list.sizes[i][1] == height) return true;
    return false;
}

// Appended in order of width, then height, behind the fixed entries.
void addResolution(ResolutionList& list, int width, int height) {
    if (width <= 0 || height <= 0 || listed(list, width, height)) return;
    if (list.count >= kMaxResolutions) return;
    int at = list.count;
    while (at > kFixedEntries &&
           (list.sizes[at - 1][0] > width ||
            (list.sizes[at - 1][0] == width && list.sizes[at - 1][1] > height)))
        --at;
    for (int i = list.count; i > at; --i) {
        list.sizes[i][0] = list.sizes[i - 1][0];
        list.sizes[i][1] = list.sizes[i - 1][1];
    }
    list.sizes[at][0] = width;
    list.sizes[at][1] = height;
    ++list.count;
}

bool displayShows(const DisplaySizes& display, int width, int height) {
    if (width <= display.desktopWidth && height <= display.desktopHeight) return true;
    for (int i = 0; i < display.modeCount && i < kMaxDisplaySizes; ++i)
        if (display.modes[i][0] == width && display.modes[i][1] == height) return true;
    return false;
}

void recordRect(SetupDialogSession& s, int controlId, const DialogUiRect& r) {
    if (s.rectCount >= kSetupDialogRects) return;
    s.rects[s.rectCount++] = {controlId, r.x, r.y, r.width, r.height};
}

void placeAt(int x, int y) {
    placeDialogUi(x * kUnitX, y * kUnitY);
}

void checkBox(SetupDialogSession& s, int id, const char* text, int x, int y, bool& value) {
    placeAt(x, y);
    DialogUiRect rect;
    dialogUiCheckbox(id, text, value, rect);
    recordRect(s, id, rect);
}

bool pushButton(SetupDialogSession& s, int id, const char* text, int x, int y, int w, int h) {
    placeAt(x, y);
    DialogUiRect rect;
    const bool pressed = dialogUiButton(id, text, w * kUnitX, h * kUnitY, rect);
    recordRect(s, id, rect);
    return pressed;
}

void drawControls(SetupDialogSession& s) {
    SetupDialogControls& c = s.controls;
    placeAt(5, 5);
    DialogUiRect combo;
    DialogUiRect entries[kMaxResolutions];
    const char* names[kMaxResolutions];
    for (int i = 0; i < c.resolutions.count; ++i)
        names[i] = c.resolutions.names[i];
    bool open = false;
    dialogUiCombo(kControlResolution, 129 * kUnitX, names, c.resolutions.count, c.resolution, combo,
                  entries, open);
    if (open)
        for (int i = 0; i < c.resolutions.count; ++i)
            recordRect(s, kControlResolutionEntry0 + i, entries[i]);
    recordRect(s, kControlResolution, combo);
    placeAt(5, 20);
    dialogUiText("Resolution");
    checkBox(s, kControlFullscreen, "Fullscreen", 5, 30, c.fullscreen);
    checkBox(s, kControlDisableConsole, "Disable Console (for WinMe/9x)", 5, 40, c.disableConsole);
    checkBox(s, kControlDisableExtensions, "Disable GL Extensions (for TNT)", 5, 50,
             c.disableExtensions);
    checkBox(s, kControlLowMemory, "Low Memory (for <256MB Ram)", 5, 60, c.lowMemory);
    checkBox(s, kControlAlwaysInFront, "Always In Front", 5, 70, c.alwaysInFront);
    checkBox(s, kControlWideScreen, "16:9 Format", 5, 80, c.wideScreen);
    checkBox(s, kControlUseDxt, "Use DXT Texture Compression", 5, 89, c.useDxt);
    // "Make Hidetrack" (5, 101) is part of the controls but is never drawn.
    if (pushButton(s, kControlRun, "Run!", 5, 116, 75, 14)) s.result = SetupDialogResult::run;
    if (pushButton(s, kControlCancel, "Cancel", 85, 116, 50, 14))
        s.result = SetupDialogResult::cancel;
}

} // namespace

void buildResolutionList(const DisplaySizes* display, ResolutionList& list) {
    list = ResolutionList{};
    for (const auto& size : kFixedSizes)
        addResolution(list, size[0], size[1]);
    if (display) {
        addResolution(list, display->desktopWidth, display->desktopHeight);
        for (const auto& size : kWideSizes)
            if (displayShows(*display, size[0], size[1])) addResolution(list, size[0], size[1]);
    }
    for (int i = 0; i < list.count; ++i)
        std::snprintf(list.names[i], kResolutionNameBytes, "%dx%d", list.sizes[i][0],
                      list.sizes[i][1]);
}

void initSetupDialog(SetupDialogControls& c) {
    c = SetupDialogControls{};
    buildResolutionList(nullptr, c.resolutions);
    c.resolution = 1;
    c.fullscreen = true;
    c.disableConsole = true;
    c.alwaysInFront = true;
    c.wideScreen = true;
    c.useDxt = true;
}

void readSetupDialog(const SetupDialogControls& c, SetupOptions& o) {
    o.fullscreen = c.fullscreen;
    o.consoleEnabled = !c.disableConsole;
    o.useExtensions = !c.disableExtensions;
    o.makeHidetrack = c.makeHidetrack;
    o.lowMemory = c.lowMemory;
    o.alwaysInFront = c.alwaysInFront;
    o.wideScreen = c.wideScreen;
    o.useDxt = c.useDxt && o.useExtensions;
    if (c.resolution >= 0 && c.resolution < c.resolutions.count) {
        o.width = c.resolutions.sizes[c.resolution][0];
        o.height = c.resolutions.sizes[c.resolution][1];
    } else {
        o.width = 640;
        o.height = 480;
    }
}

void presetSetupDialog(SetupDialogControls& c, const CommandLine& line) {
    if (line.windowed) c.fullscreen = false;
    if (line.fullscreen) c.fullscreen = true;
    if (line.console) c.disableConsole = false;
    if (line.noExtensions) c.disableExtensions = true;
    if (line.forceDxt) c.useDxt = true;
    if (line.noDxt) c.useDxt = false;
    if (line.lowMemory) c.lowMemory = true;
    if (line.noWideScreen) c.wideScreen = false;
    if (line.alwaysInFront) c.alwaysInFront = true;
    if (line.makeHidetrack) c.makeHidetrack = true;
    if (line.sizeGiven) {
        c.resolution = -1;
        for (int i = 0; i < c.resolutions.count; ++i)
            if (line.width == c.resolutions.sizes[i][0] && line.height == c.resolutions.sizes[i][1])
                c.resolution = i;
    }
}

bool beginSetupDialog(SetupDialogSession& s) {
    s = SetupDialogSession{};
    initSetupDialog(s.controls);
    DisplaySizes display;
    queryDisplaySizes(display);
    buildResolutionList(&display, s.controls.resolutions);
    return openDialogUi(s.ui, "Quilm Demo Theater", static_cast<int>(kDialogWidthUnits * kUnitX),
                        static_cast<int>(kDialogHeightUnits * kUnitY));
}

SetupDialogResult stepSetupDialog(SetupDialogSession& s) {
    // Enter presses the focused button, or Run! (the default button) when no button has the
    // focus; Escape and the close box mean Cancel.
    switch (pumpDialogUi(s.ui)) {
    case DialogUiInput::enter:
        s.result = dialogUiFocusedControl(s.ui) == kControlCancel ? SetupDialogResult::cancel
                                                                  : SetupDialogResult::run;
        break;
    case DialogUiInput::escape:
    case DialogUiInput::close:
        s.result = SetupDialogResult::cancel;
        break;
    case DialogUiInput::none:
        break;
    }
    if (s.result != SetupDialogResult::running) return s.result;

    beginDialogUiFrame(s.ui, "Quilm Demo Theater");
    s.rectCount = 0;
    drawControls(s);
    endDialogUiFrame(s.ui);
    return s.result;
}

void endSetupDialog(SetupDialogSession& s) {
    readSetupDialog(s.controls, setupOptions);
    closeDialogUi(s.ui);
}

bool findSetupDialogRect(const SetupDialogSession& s, int controlId, SetupDialogRect& rect) {
    for (int i = 0; i < s.rectCount; ++i)
        if (s.rects[i].controlId == controlId) {
            rect = s.rects[i];
            return true;
        }
    return false;
}

bool showSetupDialog(const CommandLine& line) {
    SetupDialogSession session;
    if (!beginSetupDialog(session)) return false;
    presetSetupDialog(session.controls, line);
    SetupDialogResult result = SetupDialogResult::running;
    while ((result = stepSetupDialog(session)) == SetupDialogResult::running)
        waitPlatformEvent(100); // idle until something happens
    const bool sizeOutsideList = session.controls.resolution < 0 && line.sizeGiven;
    endSetupDialog(session);
    if (sizeOutsideList) {
        setupOptions.width = line.width;
        setupOptions.height = line.height;
    }
    return result == SetupDialogResult::run;
}
