// The demo's two time bases: the cue position read from the music (order and row) and the
// demo clock (seconds since loading began), plus the cue timer table the script fills and the
// skip operations of the main loop. Process-wide state, created once; the music itself lives
// in platform/music. Nothing here draws or loads anything but the module.
//
// Output mode: by default startMusic plays through the audio device (silent, paced by the
// clock, when there is none). A deterministic run calls useMusicLockStep with its frame step
// before startMusic: then no device is opened and every updateDemoClock moves the music on by
// exactly one step, so runs repeat frame for frame.
#pragma once

#include "demo/demo_manifest.h"

#include <cstdint>

constexpr float kCueNotStarted = -1.0f;
// What the demo script expects of the module.
constexpr int kDemoOrderCount = 33;
constexpr int kDemoPatternRows = 64;

// 0 (the default) = real time; otherwise the fixed frame step in microseconds.
void useMusicLockStep(uint64_t stepMicroseconds);
// Capture: lock-step output whose sound the caller takes itself, frame by frame, through
// renderMusic (exactly the samples each frame covers); updateDemoClock then only reads.
void useMusicLockStepRenderedByCaller();

// Loading begins: all cue timers not started, start tick = now, demo clock = 0.
void beginDemoClock();
// Loads the module by name and plays it once from order/row. False plus "BASS music load
// failed.\n" (after a line naming the file and the reason) or "BASS play failed.\n" (a start
// outside the module): the caller treats that as fatal. No audio device is not fatal: "BASS init
// failed.\n" and one line saying that the music runs silent, and it does, paced by the clock.
// checkLayout: say so when the module lacks the built-in demo's 33 orders of 64 rows.
bool startMusic(const char* name, int order, int row, bool checkLayout = true);
// First step of every demo frame: the demo clock and the music position.
void updateDemoClock();
// The main loop's skip keys: to row 0 of the next order (unchecked) or of the previous one
// (only from order 2 on); both clear the cue timers when they jump.
void seekMusicForward();
void seekMusicBack();
// To a row of an order (the timeline's click), clearing the cue timers. The module restarts
// there in the output it has, so lock-step and capture runs stay in step, and a tune that has
// ended plays again. False (nothing changes) when the module has no such row.
bool seekMusicTo(int order, int row);
void resetCueTimers();
// Rehearsal: once the music leaves orders first to last, updateDemoClock takes it back to
// row 0 of first and clears the cue timers, as a seek does. first < 0 ends the loop.
void setMusicLoop(int first, int last);
int musicLoopRepeats(); // times the music came round from past last

float demoClock();
int32_t musicOrder();
int32_t musicRow();
// order * 256 + row: the unit of the script's cue windows.
int32_t cuePosition();
// The 1024 cue timers: -1.0 = not started, else the demo clock when the cue was first active.
float* cueTimers();

// The position word as the demo reads it: order in the low 16 bits, row in the high 16 bits;
// all ones when nothing plays. decodeMusicPosition keeps the row's sign (arithmetic shift).
uint32_t packMusicPosition(bool valid, int32_t order, int32_t row);
void decodeMusicPosition(uint32_t position, int32_t* order, int32_t* row);
