// The millisecond clock of the main loop and the demo: 32-bit milliseconds that wrap after
// about 49.7 days, so callers subtract in uint32_t. In deterministic runs (--fixed-step) it is
// a virtual clock that moves only when the main loop advances it, by exactly one step per frame.
#pragma once

#include <cstdint>

uint32_t timeGetTime();

// Switches to the virtual clock starting at startMs; stepMicroseconds > 0. The step is kept in
// microseconds so steps that are not whole milliseconds (1/60 s) do not drift.
void useFixedStepClock(uint64_t stepMicroseconds, uint32_t startMs = 0);
// The virtual clock at exactly framesPerSecond: frame k reads startMs + k * 1000 / fps
// milliseconds (rounded down), without the drift of a step rounded to microseconds.
void useFixedRateClock(int framesPerSecond, uint32_t startMs = 0);
// Back to the real clock (tests).
void useRealClock();
bool fixedStepClockActive();
// Moves the virtual clock on by one step; does nothing on the real clock.
void advanceFixedStepClock();
