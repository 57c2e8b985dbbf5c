#include "platform/clock.h"

#include <chrono>

namespace {
bool fixedStep = false;
uint64_t stepUs = 0;
uint64_t elapsedUs = 0;
uint32_t virtualStartMs = 0;
uint64_t framesPerSecond = 0; // 0: steps in microseconds
uint64_t frameIndex = 0;
} // namespace

uint32_t timeGetTime() {
    if (fixedStep && framesPerSecond > 0)
        return virtualStartMs + static_cast<uint32_t>(frameIndex * 1000u / framesPerSecond);
    if (fixedStep) return virtualStartMs + static_cast<uint32_t>(elapsedUs / 1000u);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void useFixedStepClock(uint64_t stepMicroseconds, uint32_t startMs) {
    fixedStep = true;
    stepUs = stepMicroseconds;
    elapsedUs = 0;
    virtualStartMs = startMs;
    framesPerSecond = 0;
}

void useFixedRateClock(int rate, uint32_t startMs) {
    useFixedStepClock(rate > 0 ? (1000000u + uint64_t(rate) / 2) / uint64_t(rate) : 1, startMs);
    framesPerSecond = rate > 0 ? uint64_t(rate) : 0;
    frameIndex = 0;
}

void useRealClock() {
    fixedStep = false;
}

bool fixedStepClockActive() {
    return fixedStep;
}

void advanceFixedStepClock() {
    if (!fixedStep) return;
    elapsedUs += stepUs;
    ++frameIndex;
}
