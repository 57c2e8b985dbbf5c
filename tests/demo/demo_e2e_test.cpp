#include "demo/demo_fixture.h"
#include "e2e/run_binary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> headless(std::vector<std::string> more) {
    std::vector<std::string> args = {"--headless", "--console", "--size", "160x120"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(DemoEndToEnd, Smoke) {
    ASSERT_FALSE(demoFixture().empty());
    const BinaryRun run = runBinary(
        QUILM_BIN, headless({"--fixed-step", "0.04", "--frames", "3", "--data", demoFixture()}));
    EXPECT_EQ(run.status, 0) << run.err;
    std::printf("%s\n---\n%s\n", run.out.c_str(), run.err.c_str());
}

} // namespace
