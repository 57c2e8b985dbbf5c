// A small immediate-mode dialog in a window of its own, drawn with Dear ImGui: the platform
// owns the window, the UI context and the event feed; the caller lays out its controls each
// frame at fixed pixel positions and keeps every rule (texts, defaults, what a control sets).
// One dialog at a time. The record is the caller's; its handles are opaque above the platform.
#pragma once

#include "platform/video.h"

// Controls that take the keyboard focus, in drawing order, which is also the Tab order.
constexpr int kDialogUiFocusables = 16;

struct DialogUi {
    PlatformWindow window;
    void* context = nullptr; // the UI library's
    float mouseX = -1.0f, mouseY = -1.0f;
    bool mouseHeld = false;
    bool mousePressedThisFrame = false;
    // Keyboard: Tab moves the focus along the controls of the last frame; while the drop-down
    // list is open, Enter picks its highlighted entry and Escape closes it.
    int focusControls[kDialogUiFocusables] = {};   // the caller's ids, as last drawn
    unsigned focusItems[kDialogUiFocusables] = {}; // the UI library's ids of the same controls
    int focusCount = 0;
    unsigned focusRequest = 0; // the UI library's id of the control to focus when drawn
    bool listOpen = false;     // as last drawn
    unsigned listItem = 0;     // the UI library's id of the list's own control
    bool enterInList = false;
    bool escapeInList = false;
};

// Where a control was drawn, in window pixels.
struct DialogUiRect {
    float x = 0, y = 0, width = 0, height = 0;
};

// What the pending events mean to a dialog as a whole; everything else goes to the controls.
enum class DialogUiInput { none, enter, escape, close };

// Opens a fixed-size window with the UI. False (with one console line) when it cannot.
bool openDialogUi(DialogUi& ui, const char* title, int width, int height);
// Takes pending events without waiting. Stops at the first one that ends the batch of this
// frame (a button or a key, so that a press and its release land in different frames) or that
// means something to the dialog as a whole, which it returns. Enter and Escape while the
// drop-down list is open belong to the list, and Tab to the focus: neither is returned.
DialogUiInput pumpDialogUi(DialogUi& ui);
// The caller's id of the control that has the keyboard focus, 0 when none has.
int dialogUiFocusedControl(const DialogUi& ui);
// Starts a frame: one borderless panel named panelName fills the window.
void beginDialogUiFrame(DialogUi& ui, const char* panelName);
// Draws the frame and presents it.
void endDialogUiFrame(DialogUi& ui);
// Closes the window and drops the events still queued for it.
void closeDialogUi(DialogUi& ui);

// Controls, drawn at the cursor set by placeDialogUi (pixels from the panel's top left). Each
// reports where it was drawn.
void placeDialogUi(float x, float y);
void dialogUiText(const char* text);
void dialogUiCheckbox(int id, const char* text, bool& value, DialogUiRect& rect);
bool dialogUiButton(int id, const char* text, float width, float height, DialogUiRect& rect);
// A drop-down list: the entries are drawn only while it is open; entryRects gets one rect per
// entry then (entryCount of them). Returns true when an entry was picked into selected.
bool dialogUiCombo(int id, float width, const char* const* entries, int entryCount, int& selected,
                   DialogUiRect& rect, DialogUiRect* entryRects, bool& open);
