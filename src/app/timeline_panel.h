// The demo's F2 timeline: the cue sheet as bars in lanes over the music's orders, the play
// head and the cues drawing now; a click there seeks the music, a drag loops the orders it
// covers. The lanes and the view are worked out without GL so tests can read them; the platform's
// timeline overlay draws them and reports the mouse. Nothing is allocated per frame.
#pragma once

#include "demo/demo_manifest.h"
#include "platform/timeline_overlay.h"

#include <cstdint>

struct MainLoop;

// Greedy lanes: cues in order of their first position (then sheet order), each into the
// lowest lane whose cues have all ended before it begins. lanes gets one entry per cue of the
// sheet; returns the number of lanes used.
int32_t assignCueLanes(const DemoManifest& manifest, int32_t* lanes);

// A cue's bar label: its scene and camera ("landschaft 15"), or its overlay's name when it
// draws no scene.
void formatCueLabel(const DemoManifest& manifest, const Cue& cue, char* out, int bytes);

// The view at a cue position: orders and rows of the loaded music, one bar per cue (those
// whose window holds the position highlighted), the play head, the loop and the status line.
void fillTimelineView(const DemoManifest& manifest, const MainLoop& loop, int32_t position,
                      float clockSeconds, TimelineView& view);

// A click seeks (and ends a loop it lies outside of, which would take the music straight
// back); a drag makes the orders it covers the loop, as --loop does.
void applyTimelineAction(MainLoop& loop, const TimelineAction& action);

// Draws the timeline of the playing demo over the finished frame and acts on the mouse.
void drawTimelinePanel(MainLoop& loop, int width, int height);
