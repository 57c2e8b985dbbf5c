// Frame times for --profile's closing line: how many frames, how many per second, and the
// median and 95th-percentile time between presented frames, on the real clock (a fixed-step
// run still shows what the machine managed). The table is sized once before the loop; a run
// longer than it keeps its last kFrameTimeCapacity frames for the percentiles.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kFrameTimeCapacity = 1 << 16;

struct FrameTimes {
    std::vector<float> milliseconds; // ring of intervals, kFrameTimeCapacity entries
    int64_t frames = 0;
    double startSeconds = 0.0;
    double lastSeconds = 0.0;
};

// Seconds on a steady clock, for the calls below.
double frameClockSeconds();

void startFrameTimes(FrameTimes& times, double nowSeconds);
// Called once per presented frame.
void recordFrameTime(FrameTimes& times, double nowSeconds);

// "N frames, F frames per second, frame time median M ms, 95th percentile P ms\n"; a run without
// frames says so. Returns the length written (always zero-terminated).
int formatFrameSummary(const FrameTimes& times, char* out, int outBytes);
