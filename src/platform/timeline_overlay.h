// A timeline strip drawn over the finished frame with Dear ImGui: labelled bars in lanes over a
// range of orders, a play head, a shaded loop and a status line; it reports what the mouse did
// on it (a click or a drag). It knows nothing of cues or music: the caller fills a TimelineView
// (its own memory) each frame and acts on the returned TimelineAction. Mouse events reach it
// from the platform's event pump. GL state is left as found, as the info overlay leaves it.
#pragma once

#include <cstdint>

constexpr int kTimelineMaxBars = 512;
constexpr int kTimelineMaxOrders = 256;
constexpr int kTimelineLabelBytes = 48;
constexpr int kTimelineStatusBytes = 128;
// A press and release closer than this (in pixels) is a click, not a drag.
constexpr float kTimelineDragPixels = 4.0f;
// The strip spans the drawable's width less this on either side (the panel's margin and
// padding); its panel sits at the bottom.
constexpr float kTimelineInset = 14.0f;

// Positions are order * 256 + row, as in a cue sheet.
struct TimelineBar {
    int32_t lane = 0;            // 0 is the top lane
    int32_t first = 0, last = 0; // both inclusive
    bool highlighted = false;
    char label[kTimelineLabelBytes] = {};
};

struct TimelineView {
    int32_t orderCount = 0; // orders 0 to orderCount - 1, each as wide as the others
    int32_t orderRows[kTimelineMaxOrders] = {}; // rows of each order; 0 counts as 1
    int32_t laneCount = 0;
    int32_t barCount = 0;
    TimelineBar bars[kTimelineMaxBars];
    int32_t playHead = -1; // a position; negative: none
    bool loop = false;     // orders loopFirst to loopLast are shaded
    int32_t loopFirst = 0, loopLast = 0;
    char status[kTimelineStatusBytes] = {};
};

enum class TimelineActionKind { none, seek, loop };
struct TimelineAction {
    TimelineActionKind kind = TimelineActionKind::none;
    int32_t order = 0, row = 0;            // seek
    int32_t firstOrder = 0, lastOrder = 0; // loop, first <= last
};

// Pure, for the strip's own use and for tests: the position under x pixels from the strip's
// left edge of a strip width pixels wide, clamped to the first and last row.
int32_t timelinePositionAt(float x, float width, const int32_t* orderRows, int32_t orderCount);
// The left edge, in pixels from the strip's left, of a position's row; past the last order
// (or a row past its order's end) gives the right edge of that order.
float timelineXOf(int32_t position, float width, const int32_t* orderRows, int32_t orderCount);
// A press at pressX released at releaseX: a click seeks to the pressed row, a drag loops the
// orders it covers, in either direction.
TimelineAction timelineGestureAction(float pressX, float releaseX, float width,
                                     const int32_t* orderRows, int32_t orderCount);

// The left mouse button and its moves, in drawable pixels; fed by the event pump. Only a press
// on the strip as last drawn starts a gesture; nothing is taken while it is hidden.
enum class TimelinePointer { move, press, release };
void feedTimelinePointer(TimelinePointer what, float x, float y);

// Draws the strip along the bottom of a drawable of width x height pixels into the current
// framebuffer, and gives the gesture finished since the last call. False (nothing drawn, no
// action) when the UI cannot be set up.
bool drawTimelineOverlay(const TimelineView& view, int width, int height, float seconds,
                         TimelineAction& action);
// The strip is no longer shown: a gesture under way and one not yet reported are dropped.
void hideTimelineOverlay();
// Frees the UI context and its font texture; the GL context must still be current.
void releaseTimelineOverlay();
