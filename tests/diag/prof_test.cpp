#include "diag/prof.h"
#include "support/console_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ProfTest : ::testing::Test {
    void SetUp() override { profResetAll(); }
    void TearDown() override { profResetAll(); }
    static std::string report(const char* name) {
        char line[kProfReportBytes];
        profReport(profSlot(name), line);
        return line;
    }
};

TEST_F(ProfTest, KeysSelectFixedSlots) {
    EXPECT_EQ(profSlot("00main"), 48 + 96);
    EXPECT_EQ(profSlot("12Swapping"), 149);
    EXPECT_EQ(profSlot("31anything"), 149);
    // Two names with the same key share one slot; the first name used is the label.
    profStart("12Swapping");
    profStop("31Other");
    EXPECT_STREQ(profCounter(149).name, "12Swapping");
    EXPECT_EQ(profCounter(149).count, 1);
    EXPECT_FALSE(profCounter(149).running);
}

TEST_F(ProfTest, MisuseLatchesTheErrorState) {
    profStart("00main");
    profStart("00main");
    EXPECT_EQ(report("00main"), "Counter main in error state.\n");
    profStop("00main");
    profStart("00main");
    EXPECT_EQ(profCounter(profSlot("00main")).count, 1);
    EXPECT_TRUE(profCounter(profSlot("00main")).error);

    profStop("87Scene Render"); // stop without start
    EXPECT_EQ(report("87Scene Render"), "Counter  in error state.\n");
}

TEST_F(ProfTest, ReportLines) {
    EXPECT_EQ(report("04Object update"), "Counter  never ran.\n");
    profCount("07Polys", 100);
    EXPECT_EQ(report("07Polys"), "Polys: #100 (no main) \n");
    profStart("89Super8 Render");
    EXPECT_EQ(report("89Super8 Render"), "Counter Super8 Render still running.\n");
    profStop("89Super8 Render");
    EXPECT_EQ(report("89Super8 Render").find("Super8 Render: #1, Avg:"), 0u);
    EXPECT_NE(report("89Super8 Render").find("(no main) \n"), std::string::npos);

    for (int frame = 0; frame < 3; ++frame) {
        profStart("00main");
        profStart("12Swapping");
        profStop("12Swapping");
        profStop("00main");
    }
    profCount("07Polys", 50);
    EXPECT_EQ(report("07Polys"), "Polys: #150, APM:50 \n");
    const std::string swap = report("12Swapping");
    EXPECT_EQ(swap.find("Swapping: #3, Avg:"), 0u) << swap;
    EXPECT_NE(swap.find(" ACPM:1 Mpercent:"), std::string::npos) << swap;
    // Event counters ignore timer calls once they own the slot.
    profStart("07Polys");
    EXPECT_FALSE(profCounter(profSlot("07Polys")).running);
}

TEST_F(ProfTest, ReportAllLogsUsedSlotsInOrder) {
    profCount("09Vertices", 9);
    profCount("07Polys", 3);
    ConsoleCapture capture;
    profReportAll();
    EXPECT_EQ(capture.text, "Polys: #3 (no main) \nVertices: #9 (no main) \n");
}

} // namespace
