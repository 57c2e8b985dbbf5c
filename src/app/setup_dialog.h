// The setup dialog: resolution and switches in a small window of its own ("Quilm Demo
// Theater"), drawn with Dear ImGui, closed before the main window opens. The controls are a
// plain record so the rules (defaults, what Run! stores) are testable without a window; the
// session runs frame by frame so tests can drive it with injected events. The window, the UI
// library and the event feed are the platform's (platform/dialog_ui.h).
#pragma once

#include "app/options_parse.h"
#include "platform/dialog_ui.h"
#include "platform/options.h"

// Control identifiers of the dialog's template.
enum SetupControl : int {
    kControlRun = 1,
    kControlCancel = 2,
    kControlResolution = 1000,
    kControlFullscreen = 1001,
    kControlDisableExtensions = 1002,
    kControlDisableConsole = 1004,
    kControlMakeHidetrack = 1007,
    kControlLowMemory = 1008,
    kControlAlwaysInFront = 1041,
    kControlWideScreen = 1042,
    kControlUseDxt = 1043,
    // The entries of the open resolution list, for tests that click them: Entry0 + position.
    kControlResolutionEntry0 = 2000,
    kControlResolutionEntry1 = 2001,
};

// The resolution list: "640x480" and "1024x768" first, always; then, smallest first, the
// desktop's own size and the 16:9 sizes 1280x720 and 1920x1080 where the display shows them
// (within the desktop, or as one of its full-screen modes); no size twice.
constexpr int kMaxResolutions = 5;
constexpr int kResolutionNameBytes = 24;
struct ResolutionList {
    int count = 0;
    int sizes[kMaxResolutions][2] = {}; // width, height
    char names[kMaxResolutions][kResolutionNameBytes] = {};
};
// display null: the two fixed entries only.
void buildResolutionList(const DisplaySizes* display, ResolutionList& list);

struct SetupDialogControls {
    ResolutionList resolutions; // the two fixed entries until the dialog asks the display
    int resolution = -1;        // list position: 0 "640x480", 1 "1024x768", -1 nothing selected
    bool fullscreen = false;
    bool disableConsole = false;
    bool disableExtensions = false;
    bool lowMemory = false;
    bool alwaysInFront = false;
    bool wideScreen = false;
    bool useDxt = false;
    bool makeHidetrack = false; // exists but is never shown, so nothing can check it
};

// The state the dialog opens with.
void initSetupDialog(SetupDialogControls& controls);
// Stores the controls into options (whichever button closed the dialog). A position outside
// the list, none included, gives 640x480.
void readSetupDialog(const SetupDialogControls& controls, SetupOptions& options);
// Options given with the dialog set its initial state, so it shows what the run will do and the
// user's choices in it stand. A size outside the list leaves nothing selected.
void presetSetupDialog(SetupDialogControls& controls, const CommandLine& line);

enum class SetupDialogResult { running, run, cancel };

constexpr int kSetupDialogRects = 24;

struct SetupDialogRect {
    int controlId = 0;
    float x = 0, y = 0, width = 0, height = 0; // window pixels, as last drawn
};

struct SetupDialogSession {
    DialogUi ui;
    SetupDialogControls controls;
    SetupDialogResult result = SetupDialogResult::running;
    SetupDialogRect rects[kSetupDialogRects];
    int rectCount = 0;
};

// Opens the dialog window. False (with one console line) when it cannot be created.
bool beginSetupDialog(SetupDialogSession& session);
// Takes pending events (stopping after a button or key change, so a press and its release
// land in different frames) and draws one frame. Enter presses the focused button, Run! when no
// button has the focus; Escape and the close box mean Cancel; Tab moves the focus.
SetupDialogResult stepSetupDialog(SetupDialogSession& session);
// Fills setupOptions from the controls and closes the window.
void endSetupDialog(SetupDialogSession& session);
// Where a control was last drawn; false when it was not drawn in the last frame.
bool findSetupDialogRect(const SetupDialogSession& session, int controlId, SetupDialogRect& rect);

// The whole modal dialog, preset from the command line: true only when it ended with Run!.
// A size given outside the list holds unless the user picks one.
bool showSetupDialog(const CommandLine& line);
