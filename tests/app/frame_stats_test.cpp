#include "app/frame_stats.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string summary(const FrameTimes& t) {
    char out[256];
    formatFrameSummary(t, out, sizeof out);
    return out;
}

// Frames presented at the given gaps in milliseconds after a start at 100 s.
FrameTimes framesAt(std::initializer_list<double> gaps) {
    FrameTimes t;
    startFrameTimes(t, 100.0);
    double now = 100.0;
    for (double gap : gaps) {
        now += gap / 1000.0;
        recordFrameTime(t, now);
    }
    return t;
}

TEST(FrameSummary, CountsRateMedianAndNinetyFifthPercentile) {
    EXPECT_EQ(summary(framesAt({})), "0 frames\n");
    EXPECT_EQ(summary(framesAt({40})),
              "1 frames, 25.0 frames per second, frame time median 40.00 ms, 95th percentile "
              "40.00 ms\n");
    // Even count: the median lies between the middle two; one slow frame in twenty stays above
    // the 95th percentile.
    FrameTimes t;
    startFrameTimes(t, 0.0);
    double now = 0.0;
    for (int i = 0; i < 20; ++i) {
        now += i == 8 ? 0.1 : (i % 2 ? 0.010 : 0.020);
        recordFrameTime(t, now);
    }
    EXPECT_EQ(summary(t), "20 frames, 52.6 frames per second, frame time median 15.00 ms, 95th "
                          "percentile 20.00 ms\n");
}

TEST(FrameSummary, ALongRunKeepsItsLastFramesForThePercentiles) {
    FrameTimes t;
    startFrameTimes(t, 0.0);
    double now = 0.0;
    for (int i = 0; i < kFrameTimeCapacity + 10; ++i) {
        now += i < 10 ? 1.0 : 0.004; // ten slow frames that fall out of the table
        recordFrameTime(t, now);
    }
    const std::string line = summary(t);
    EXPECT_EQ(line.rfind(std::to_string(kFrameTimeCapacity + 10) + " frames, ", 0), 0u) << line;
    EXPECT_NE(line.find("median 4.00 ms, 95th percentile 4.00 ms"), std::string::npos) << line;
}

} // namespace
