#include "support/console_capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

std::string fmt(const char* format, auto... args) {
    char buffer[kConsoleLineBytes];
    formatConsoleTextF(buffer, sizeof buffer, format, args...);
    return buffer;
}

TEST(ConsoleFormatter, IntegersInEachBase) {
    EXPECT_EQ(fmt("%i %i %i", 0, -42, 2147483647), "0 -42 2147483647");
    EXPECT_EQ(fmt("%x %x %x", 255, 0, -1), "ff 0 -1");
    EXPECT_EQ(fmt("%b %b %b", 5, 0, -5), "101 0 -101");
    // No two's-complement form, and the most negative value keeps its full magnitude.
    EXPECT_EQ(fmt("%i", std::numeric_limits<int>::min()), "-2147483648");
    EXPECT_EQ(fmt("%x", std::numeric_limits<int>::min()), "-80000000");
}

TEST(ConsoleFormatter, StringsAndNulls) {
    EXPECT_EQ(fmt("[%s]", "abc"), "[abc]");
    EXPECT_EQ(fmt("[%s]", static_cast<const char*>(nullptr)), "[<NULL>]");
    EXPECT_EQ(fmt(nullptr), "NULL");
}

TEST(ConsoleFormatter, FloatDumpShowsRawParts) {
    const auto e = [](float f) { return fmt("%e", floatBits(f)); };
    EXPECT_EQ(e(1.0f), "+0.8388608E0");
    EXPECT_EQ(e(-0.5f), "-0.8388608E-1");
    EXPECT_EQ(e(3.0f), "+0.12582912E1");
    EXPECT_EQ(e(0.0f), "+0");
    EXPECT_EQ(e(-0.0f), "-0");
    EXPECT_EQ(e(std::numeric_limits<float>::infinity()), "+INF");
    EXPECT_EQ(e(-std::numeric_limits<float>::infinity()), "-INF");
    EXPECT_EQ(e(std::numeric_limits<float>::quiet_NaN()), "+NAN");
    EXPECT_EQ(e(-std::numeric_limits<float>::denorm_min()), "-DENORMAL");
}

TEST(ConsoleFormatter, UnknownConversionsAreLiteralAndConsumeNothing) {
    // The argument meant for %d is taken by the following %i.
    EXPECT_EQ(fmt("%d %c %u %3d = %i", 7), "%d %c %u %3d = 7");
    EXPECT_EQ(fmt("100%% %i", 3), "100%% 3");
    EXPECT_EQ(fmt("%f%i", 1, 2), "2");
    EXPECT_EQ(fmt("end%"), "end");
}

TEST(ConsoleFormatter, LongOutputIsCutAt1023) {
    std::string big(3000, 'x');
    char buffer[kConsoleLineBytes + 16];
    std::memset(buffer, '#', sizeof buffer);
    const int n = formatConsoleTextF(buffer, kConsoleLineBytes, "%s%s", big.c_str(), "tail");
    EXPECT_EQ(n, 1023);
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(buffer[1024], '#'); // nothing written past the buffer
    char tiny[4];
    EXPECT_EQ(formatConsoleTextF(tiny, sizeof tiny, "%i", 123456), 3);
    EXPECT_STREQ(tiny, "123");
}

TEST(ConsolePrint, WritesOnlyWhenEnabled) {
    {
        ConsoleCapture capture;
        EXPECT_TRUE(consolePrint("Setting camera: %i \n", 2));
        consolePrint(nullptr);
        EXPECT_EQ(capture.text, "Setting camera: 2 \nNULL");
        setupOptions.consoleEnabled = false;
        EXPECT_FALSE(consolePrint("hidden\n"));
        EXPECT_EQ(capture.text, "Setting camera: 2 \nNULL");
    }
}

} // namespace
