#include "app/frame_stats.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

double frameClockSeconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count();
}

void startFrameTimes(FrameTimes& t, double now) {
    t.milliseconds.assign(kFrameTimeCapacity, 0.0f);
    t.frames = 0;
    t.startSeconds = now;
    t.lastSeconds = now;
}

void recordFrameTime(FrameTimes& t, double now) {
    if (t.milliseconds.empty()) return;
    t.milliseconds[static_cast<size_t>(t.frames % kFrameTimeCapacity)] =
        static_cast<float>((now - t.lastSeconds) * 1000.0);
    t.lastSeconds = now;
    ++t.frames;
}

int formatFrameSummary(const FrameTimes& t, char* out, int outBytes) {
    if (t.frames <= 0) return std::snprintf(out, outBytes, "0 frames\n");
    const size_t kept = static_cast<size_t>(std::min<int64_t>(t.frames, kFrameTimeCapacity));
    // Once, at the end of the run: a sorted copy.
    std::vector<float> sorted(t.milliseconds.begin(), t.milliseconds.begin() + kept);
    std::sort(sorted.begin(), sorted.end());
    const float median =
        kept % 2 == 1 ? sorted[kept / 2] : 0.5f * (sorted[kept / 2 - 1] + sorted[kept / 2]);
    // Nearest rank: the smallest time that at least 95 % of the frames do not exceed.
    const size_t rank = static_cast<size_t>(std::ceil(0.95 * static_cast<double>(kept)));
    const float p95 = sorted[std::max<size_t>(rank, 1) - 1];
    const double seconds = t.lastSeconds - t.startSeconds;
    const double perSecond = seconds > 0.0 ? static_cast<double>(t.frames) / seconds : 0.0;
    return std::snprintf(out, outBytes,
                         "%lld frames, %.1f frames per second, frame time median %.2f ms, 95th "
                         "percentile %.2f ms\n",
                         static_cast<long long>(t.frames), perSecond, median, p95);
}
