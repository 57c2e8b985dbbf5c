#include "e2e/run_binary.h"
#include "writers/scene_writer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace sw = scenewriter;

const std::vector<std::string> kRun = {"--headless", "--no-dialog", "--console", "--fixed-step",
                                       "0.04",       "--frames",    "5"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Two boxes over one second, two cameras; the second camera looks away from both.
sw::Scene twoBoxes(double seconds) {
    sw::Scene s;
    sw::setStartEnd(s, 0.0, seconds);
    s.tracks.push_back(sw::materialTrack("grey", sw::MaterialDesc{}));
    for (int i = 0; i < 2; ++i) {
        sw::Mesh box = sw::boxMesh(0.5f, 0.5f, 0.5f);
        box.transform = sw::translation(float(i) * 2.0f - 1.0f, 0, 0);
        s.tracks.push_back(sw::objectTrack("box", {sw::meshKey(0, box)}));
    }
    const float eye[3] = {0, -8, 2}, origin[3] = {0, 0, 0}, away[3] = {0, -20, 2};
    s.tracks.push_back(sw::cameraTrack("front", {sw::cameraLookAtKey(0, eye, origin, 1.2f)}));
    s.tracks.push_back(sw::cameraTrack("back", {sw::cameraLookAtKey(0, eye, away, 1.2f)}));
    const float lightPos[3] = {0, -20, 20}, white[3] = {1, 1, 1};
    s.tracks.push_back(sw::lightTrack("light", {sw::lightKey(0, lightPos, white, 0)}));
    return s;
}

TEST(HidetrackEndToEnd, GeneratedTrackLoadsOnTheNextRun) {
    const std::string dir = scratchDirectory("hidetrack_made");
    ASSERT_TRUE(sw::writeSceneFile(dir + "/boxes.q3d", twoBoxes(1.0)));
    BinaryRun run =
        runBinary(QUILM_BIN, with(kRun, {"--make-hidetrack", "boxes.q3d"}), {}, {}, dir);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(" 2 cameras there! Start: 0 End: 1000 \n"
                           "Now tracking camera: 0 \n30 frames tested. \n"
                           "Now tracking camera: 1 \n30 frames tested. \n"
                           "Writing .hid file\n"),
              std::string::npos)
        << run.out;
    // Generation ends the program: no hidetrack is looked for and no frame is played.
    EXPECT_EQ(run.out.find("hidetrack!"), std::string::npos) << run.out;
    const std::vector<uint8_t> hid = fileBytes(dir + "/boxes.q3d.hid");
    ASSERT_EQ(hid.size(), 28u + 2 * (2 * 4)) << "two objects, blocks of two cameras x 4 bytes";
    // Both boxes: bits 1 to 30 from the front camera, nothing from the one looking away.
    for (int o = 0; o < 2; ++o) {
        const uint8_t* block = hid.data() + 28 + 8 * o;
        EXPECT_EQ(std::vector<uint8_t>(block, block + 8),
                  (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0}))
            << "object " << o;
    }

    run = runBinary(QUILM_BIN, with(kRun, {"boxes.q3d"}), {}, {}, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Hidetrack loaded.\n"), std::string::npos) << run.out;

    // Only the compressed copy present: found under the name with ".gz" appended.
    ASSERT_TRUE(sw::writeBytesFile(dir + "/boxes.q3d.hid.gz", sw::gzipBytes(hid)));
    ASSERT_EQ(std::remove((dir + "/boxes.q3d.hid").c_str()), 0);
    run = runBinary(QUILM_BIN, with(kRun, {"boxes.q3d"}), {}, {}, dir);
    EXPECT_NE(run.out.find("Hidetrack loaded.\n"), std::string::npos) << run.out;
}

TEST(HidetrackEndToEnd, RefusedAndMissingTracksPlayWithout) {
    const std::string dir = scratchDirectory("hidetrack_refused");
    ASSERT_TRUE(sw::writeSceneFile(dir + "/long.q3d", twoBoxes(2.0)));
    ASSERT_TRUE(sw::writeSceneFile(dir + "/short.q3d", twoBoxes(1.0)));
    BinaryRun run = runBinary(QUILM_BIN, with(kRun, {"long.q3d"}), {}, {}, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Could not load hidetrack!\n"), std::string::npos) << run.out;

    // A track made for the one-second version of the scene does not fit the two-second one.
    run = runBinary(QUILM_BIN, with(kRun, {"--make-hidetrack", "short.q3d"}), {}, {}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(std::rename((dir + "/short.q3d.hid").c_str(), (dir + "/long.q3d.hid").c_str()), 0);
    run = runBinary(QUILM_BIN, with(kRun, {"long.q3d"}), {}, {}, dir);
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Hide track is incompatible with scene. Please regenerate it! \n"
                           "  Failed. \n"),
              std::string::npos)
        << run.out;
}

TEST(HidetrackEndToEnd, UnwritableTrackFailsTheRun) {
    const std::string dir = scratchDirectory("hidetrack_unwritable");
    ASSERT_TRUE(sw::writeSceneFile(dir + "/boxes.q3d", twoBoxes(0.2)));
    // A directory in the file's place cannot be opened for writing, whoever runs the test.
    ASSERT_EQ(mkdir((dir + "/boxes.q3d.hid").c_str(), 0755), 0);
    const BinaryRun run =
        runBinary(QUILM_BIN, with(kRun, {"--make-hidetrack", "boxes.q3d"}), {}, {}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Writing .hid file\nCould not create boxes.q3d.hid \n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.err, "quilm: could not write the hidetrack for boxes.q3d\n");
}

} // namespace
