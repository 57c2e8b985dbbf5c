// The test binary as a child of its own tests, on both systems: started with kChildHelperFilter
// while kChildModeVariable names a mode, its test ChildProcessHelper.Run does that mode's work
// and exits with a status instead of testing. The modes are described in child_helper.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr const char* kChildModeVariable = "QUILM_TEST_CHILD";
constexpr const char* kChildHelperFilter = "--gtest_filter=ChildProcessHelper.Run";
constexpr int kChildLinesStatus = 7;
constexpr int kChildQuitStatus = 5;

// The bytes the inputs mode expects on input seed (0 or 1).
uint8_t childPatternByte(size_t at, int seed);
std::vector<uint8_t> childPattern(size_t size, int seed);

// This test binary's own path (UTF-8), empty when unknown.
std::string testBinaryPath();

// Sets the helper's mode for the children started while it lives.
struct ChildHelperMode {
    explicit ChildHelperMode(const char* mode);
    ~ChildHelperMode();
};
