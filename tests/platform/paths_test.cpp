#include "platform/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

TEST(Paths, LastSeparatorIsTheSystemsOwn) {
#ifdef _WIN32
    const bool backslashSeparates = true;
#else
    const bool backslashSeparates = false; // a file name character on Linux
#endif
    const struct {
        const char* path;
        int expected; // index of the separator, -1 for none
    } cases[] = {
        {"quilm", -1},
        {"", -1},
        {"/quilm", 0},
        {"a/b/quilm", 3},
        {"a/b\\quilm", backslashSeparates ? 3 : 1},
        {"C:\\games\\quilm.exe", backslashSeparates ? 8 : -1},
        {"dir/", 3},
    };
    for (const auto& c : cases) {
        const char* found = lastPathSeparator(c.path);
        EXPECT_EQ(found ? int(found - c.path) : -1, c.expected) << c.path;
    }
    EXPECT_EQ(kPathSeparator, backslashSeparates ? '\\' : '/');
}

TEST(Paths, ProgramPathNamesThisExecutableOrNothing) {
    char path[4096];
    ASSERT_TRUE(programPath(path, sizeof path));
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    EXPECT_NE(std::string(path).find("quilm_tests"), std::string::npos) << path;
    EXPECT_NE(lastPathSeparator(path), nullptr) << "a full path";
    const int length = int(std::string(path).size());
    char tight[4096];
    EXPECT_TRUE(programPath(tight, length + 1));
    EXPECT_FALSE(programPath(tight, length)) << "no room for the terminator";
    EXPECT_STREQ(tight, "");
}

TEST(Paths, SiblingProgramIsBesideThisOneWithTheSystemsSuffix) {
    char self[4096], sibling[4096];
    ASSERT_TRUE(programPath(self, sizeof self));
    // This binary is its own sibling by its plain name.
    ASSERT_TRUE(siblingProgramPath("quilm_tests", sibling, sizeof sibling));
    EXPECT_STREQ(sibling, self);
    ASSERT_TRUE(siblingProgramPath("quilm", sibling, sizeof sibling));
    const std::string dir(self, size_t(lastPathSeparator(self) - self + 1));
#ifdef _WIN32
    EXPECT_EQ(std::string(sibling), dir + "quilm.exe");
#else
    EXPECT_EQ(std::string(sibling), dir + "quilm");
#endif
    const int fits = int(std::string(sibling).size()) + 1;
    EXPECT_TRUE(siblingProgramPath("quilm", sibling, fits));
    EXPECT_FALSE(siblingProgramPath("quilm", sibling, fits - 1));
    EXPECT_STREQ(sibling, "");
}

} // namespace
