// The texture manager's second folder: files are found in the working directory first, then in
// the folder the viewer names; a folder too long for a path is refused rather than cut.
#include "image/texture.h"
#include "scene/scene_test_util.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

struct SearchFolderReset {
    ~SearchFolderReset() { setImageSearchFolder(nullptr); }
};

TEST(ImageSearch, WorkingDirectoryFirstThenTheSearchFolderAndNothingElse) {
    scenetest::TempDir cwd;
    SearchFolderReset reset;
    const std::filesystem::path folder = cwd.path / "scene";
    std::filesystem::create_directory(folder);
    std::ofstream(folder / "both.png") << "x";
    std::ofstream(cwd.path / "both.png") << "x";
    std::ofstream(folder / "beside.png") << "x";
    char found[512];

    EXPECT_FALSE(findImageFile("beside.png", found, sizeof found)) << "no folder set";
    ASSERT_TRUE(setImageSearchFolder(folder.string().c_str()));
    ASSERT_TRUE(findImageFile("both.png", found, sizeof found));
    EXPECT_STREQ(found, "both.png");
    ASSERT_TRUE(findImageFile("beside.png", found, sizeof found));
    // Joined with the platform's separator or "/", which Windows takes as well.
    EXPECT_EQ(std::filesystem::path(found).lexically_normal(),
              (folder / "beside.png").lexically_normal());
    EXPECT_FALSE(findImageFile("nowhere.png", found, sizeof found));
    EXPECT_FALSE(findImageFile("beside.png", found, 8)) << "a path that does not fit";

    const std::string tooLong(5000, 'd');
    EXPECT_FALSE(setImageSearchFolder(tooLong.c_str()));
    EXPECT_FALSE(findImageFile("beside.png", found, sizeof found)) << "refused, nothing searched";
    EXPECT_TRUE(setImageSearchFolder(""));
    EXPECT_FALSE(findImageFile("beside.png", found, sizeof found));
}

} // namespace
