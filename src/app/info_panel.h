// What the F1 overlay shows: the keys of the current mode, frames per second, the music
// position (demo) or scene time, camera, speed and pause (viewer), objects drawn and hidden
// by the hidetrack, and the profiling counters of the last second. The drawing itself is the
// platform's info overlay; the counters are only read here, never reset.
#pragma once

#include "platform/info_overlay.h"

#include <cstdint>

struct MainLoop;

// The panel's lines, filled without GL so tests can read them; lines past the last are
// dropped.
constexpr int kInfoPanelLines = 96;
struct InfoPanelText {
    char lines[kInfoPanelLines][kInfoOverlayLineBytes];
    bool heading[kInfoPanelLines];
    int count = 0;
};

// Up to kDemoScenesAtOnce distinct scenes (DemoScene) the cues active at a cue position draw,
// in script order; returns how many.
constexpr int kDemoScenesAtOnce = 6;
int activeDemoScenes(int32_t cuePosition, int32_t* scenes);

// The panel's text for the loop's mode; the demo's cues are those active at cuePosition.
void fillInfoPanel(const MainLoop& loop, int32_t cuePosition, InfoPanelText& text);

// Called for every frame while the overlay is shown: counts the frame and, once a second,
// takes the counters' figures for that second.
void noteInfoFrame(double nowSeconds);
// Draws the overlay over the finished frame of the loop's mode.
void drawInfoPanel(const MainLoop& loop, int width, int height);

// A one-line notice (a screenshot's name) at the bottom left of the finished frame.
constexpr uint32_t kScreenNoticeMs = 2000;
void drawScreenNotice(const char* text, int width, int height);
