// The runner of the binaries: a child that ends is waited for, one that hangs is killed at its
// limit and fails the test that ran it.
#include "e2e/run_binary.h"
#include "support/child_helper.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace {

TEST(RunBinary, WaitsForAChildThatEndsAndKillsOneThatOutlivesItsLimit) {
    const std::string self = testBinaryPath();
    ASSERT_FALSE(self.empty());
    static BinaryRun run; // static: the failure check below cannot see locals
    static std::string path;
    path = self;
    {
        const ChildHelperMode mode("lines");
        run = runBinary(path.c_str(), {kChildHelperFilter}, {}, {}, "", 30);
    }
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, kChildLinesStatus);
    EXPECT_NE(run.err.find("error line\n"), std::string::npos) << run.err;

    const ChildHelperMode mode("hang");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NONFATAL_FAILURE(run = runBinary(path.c_str(), {kChildHelperFilter}, {}, {}, "", 1),
                            "still ran after 1 s and was killed");
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.status, -1);
    EXPECT_LT(seconds, 20.0) << "killed, not waited for";
    EXPECT_NE(run.err.find("timed out: " + path), std::string::npos) << run.err;
}

TEST(RunBinary, LimitIsTheCallersElseTheEnvironmentsElseTwoMinutes) {
    const char* saved = std::getenv("QUILM_TEST_RUN_SECONDS");
    const std::string restore = saved ? saved : "";
    const struct {
        const char* variable; // null: unset
        int asked, limit;
    } cases[] = {{nullptr, 0, 120}, {nullptr, 5, 5}, {"600", 0, 600}, {"600", 7, 7},
                 {"0", 0, 120},     {"-3", 0, 120},  {"x", 0, 120},   {"1", 0, 1}};
    for (const auto& c : cases) {
        if (c.variable)
            setenv("QUILM_TEST_RUN_SECONDS", c.variable, 1);
        else
            unsetenv("QUILM_TEST_RUN_SECONDS");
        EXPECT_EQ(runBinaryTimeoutSeconds(c.asked), c.limit)
            << (c.variable ? c.variable : "unset") << " " << c.asked;
    }
    if (saved)
        setenv("QUILM_TEST_RUN_SECONDS", restore.c_str(), 1);
    else
        unsetenv("QUILM_TEST_RUN_SECONDS");
}

} // namespace
