#include "scene/scene_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

namespace sw = scenewriter;
using scenetest::TempDir;

// Runs quilm-tool with the arguments; returns standard output, and the exit status.
std::string runTool(const std::string& args, int* status = nullptr) {
    const std::string command = std::string(QUILM_TOOL_BIN) + " " + args + " 2>stderr.txt";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    const int rc = pipe ? pclose(pipe) : -1;
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// Three objects (morph with a Hold, a flipped textured quad without material, one without
// topology at the start), two cameras, two lights, one material.
sw::Scene smallScene() {
    sw::Scene s;
    sw::setStartEnd(s, 0, 2);
    // Meshes spelled out so the report does not follow changes of the writer's ready-made ones.
    sw::Mesh tri;
    tri.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    tri.faces = {{0, 1, 2}};
    std::vector<sw::Vertex> moved = tri.vertices;
    for (sw::Vertex& v : moved)
        v.x += 1;
    sw::Mesh quad;
    quad.materialIndex = 5;
    quad.hasUV = true;
    quad.flipNormals = true;
    quad.vertices = {{-1, -1, 0, 0, 1}, {1, -1, 0, 1, 1}, {1, 1, 0, 1, 0}, {-1, 1, 0, 0, 0}};
    quad.faces = {{0, 1, 2}, {0, 2, 3}};
    s.tracks.push_back(
        sw::objectTrack("tri", {sw::meshKey(0, tri), sw::holdKey(0.25),
                                sw::morphKey(1, sw::translation(0, 0, 1), moved, false)}));
    s.tracks.push_back(
        sw::cameraTrack("cam0", {sw::cameraKey(0, sw::translation(0, -10, 0), 1.0f),
                                 sw::cameraKey(1, sw::translation(0, -20, 0), 0.5f)}));
    s.tracks.push_back(sw::objectTrack("quad", {sw::meshKey(0, quad)}));
    const float p0[3] = {1, 2, 3}, c0[3] = {1, 0.5f, 0.25f};
    const float p1[3] = {4, 5, 6}, c1[3] = {1, 1, 1};
    s.tracks.push_back(sw::lightTrack("lamp0", {sw::lightKey(0, p0, c0, 100)}));
    s.tracks.push_back(sw::materialTrack("mat", sw::MaterialDesc{}));
    s.tracks.push_back(sw::objectTrack("late", {sw::meshKey(1.5, tri)}));
    s.tracks.push_back(sw::cameraTrack("cam1", {sw::cameraKey(1, sw::translation(0, 0, 5), 2.0f)}));
    s.tracks.push_back(sw::lightTrack("lamp1", {sw::lightKey(1, p1, c1, 0)}));
    return s;
}

const char* const kGolden = R"(Time starts at 0 
Time ends at 9600 
Specular: 0 Shininess: 10 
Scene has 3 objects, 2 lights, 2 cams 1 materials 
Scene does not have an environment map! 
Error: object has no topology to use at this timecode. 
at 0
object 0 visible 1 vertices 3 faces 1 mesh 0 vertexkey 0 material 0 uv 0 flip 0
 transform 1 0 0 0 1 0 0 0 1 0 0 0
 vertex 0 0 0 0 0 0 1 0 0 0
 vertex 1 1 0 0 0 0 1 0 0 0
 vertex 2 0 1 0 0 0 1 0 0 0
 face 0 0 1 2 -1 -1 -1 0 0 1
object 1 visible 1 vertices 4 faces 2 mesh 0 vertexkey 0 material -1 uv 1 flip 1
 transform 1 0 0 0 1 0 0 0 1 0 0 0
 vertex 0 -1 -1 0 0 0 -1 0 -1 0
 vertex 1 1 -1 0 0 0 -1 1 -1 0
 vertex 2 1 1 0 0 0 -1 1 -0 0
 vertex 3 -1 1 0 0 0 -1 0 -0 0
 face 0 0 1 2 -1 -1 -1 -0 -0 -1
 face 1 0 2 3 -1 -1 -1 -0 -0 -1
object 2 visible 1 vertices 0 faces 0 mesh -1 vertexkey -1 material -1 uv 0 flip 0
 transform 1 0 0 0 1 0 0 0 1 0 0 0
camera 0 rotation 1 0 0 0 1 0 0 0 1 position 0 -10 0 fov 1
camera 1 rotation 1 0 0 0 1 0 0 0 1 position 0 0 0 fov 1.57079637
light 0 position 1 2 3 color 1 0.5 0.25 range 100
light 1 position 0 0 0 color 0 0 0 range 0
at 0.5
object 0 visible 1 vertices 3 faces 1 mesh 0 vertexkey 0 material 0 uv 0 flip 0
 transform 1 0 0 0 1 0 0 0 1 0 0 0.333333343
 vertex 0 0.333333343 0 0 0 0 1 0 0 0
 vertex 1 1.33333337 0 0 0 0 1 0 0 0
 vertex 2 0.333333343 1 0 0 0 1 0 0 0
 face 0 0 1 2 -1 -1 -1 0 0 1
object 1 visible 1 vertices 4 faces 2 mesh 0 vertexkey 0 material -1 uv 1 flip 1
 transform 1 0 0 0 1 0 0 0 1 0 0 0
 vertex 0 -1 -1 0 0 0 -1 0 -1 0
 vertex 1 1 -1 0 0 0 -1 1 -1 0
 vertex 2 1 1 0 0 0 -1 1 -0 0
 vertex 3 -1 1 0 0 0 -1 0 -0 0
 face 0 0 1 2 -1 -1 -1 -0 -0 -1
 face 1 0 2 3 -1 -1 -1 -0 -0 -1
object 2 visible 1 vertices 0 faces 0 mesh -1 vertexkey -1 material -1 uv 0 flip 0
 transform 1 0 0 0 1 0 0 0 1 0 0 0
camera 0 rotation 1 0 0 0 1 0 0 0 1 position 0 -15 0 fov 0.75
camera 1 rotation 1 0 0 0 1 0 0 0 1 position 0 0 0 fov 1.57079637
light 0 position 1 2 3 color 1 0.5 0.25 range 100
light 1 position 0 0 0 color 0 0 0 range 0
at 0.25
object 0 visible 1 vertices 3 faces 1 mesh 0 vertexkey 0 material 0 uv 0 flip 0
 transform 1 0 0 0 1 0 0 0 1 0 0 0
 vertex 0 0 0 0 0 0 1 0 0 0
 vertex 1 1 0 0 0 0 1 0 0 0
 vertex 2 0 1 0 0 0 1 0 0 0
 face 0 0 1 2 -1 -1 -1 0 0 1
object 1 visible 1 vertices 4 faces 2 mesh 0 vertexkey 0 material -1 uv 1 flip 1
 transform 1 0 0 0 1 0 0 0 1 0 0 0
 vertex 0 -1 -1 0 0 0 -1 0 -1 0
 vertex 1 1 -1 0 0 0 -1 1 -1 0
 vertex 2 1 1 0 0 0 -1 1 -0 0
 vertex 3 -1 1 0 0 0 -1 0 -0 0
 face 0 0 1 2 -1 -1 -1 -0 -0 -1
 face 1 0 2 3 -1 -1 -1 -0 -0 -1
object 2 visible 1 vertices 0 faces 0 mesh -1 vertexkey -1 material -1 uv 0 flip 0
 transform 1 0 0 0 1 0 0 0 1 0 0 0
camera 0 rotation 1 0 0 0 1 0 0 0 1 position 0 -12.5 0 fov 0.875
camera 1 rotation 1 0 0 0 1 0 0 0 1 position 0 0 0 fov 1.57079637
light 0 position 1 2 3 color 1 0.5 0.25 range 100
light 1 position 0 0 0 color 0 0 0 range 0
)";

TEST(SceneTool, GoldenReportOfASmallScene) {
    TempDir dir;
    ASSERT_TRUE(sw::writeSceneFile("small.q3d", smallScene()));
    int status = -1;
    const std::string out = runTool("scene small.q3d --camera 1 --at -1,0.5,2.25", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, kGolden);
}

std::string lineOf(const std::string& text, const std::string& prefix) {
    return scenetest::linesStartingWith(text, {prefix});
}

std::vector<uint8_t> hidFile(int objects, float end, const std::vector<uint8_t>& perObjectFill) {
    // Two cameras, 0..end s at 30 samples: F = 60 and S = 61 for two seconds.
    const int32_t header[7] = {objects, 2, 0, 0, 30, 60, 61};
    std::vector<uint8_t> out(sizeof header);
    std::memcpy(out.data(), header, sizeof header);
    std::memcpy(out.data() + 12, &end, 4);
    for (uint8_t fill : perObjectFill)
        out.insert(out.end(), 16, fill);
    return out;
}

TEST(SceneTool, HidetrackAndCameraOptions) {
    TempDir dir;
    ASSERT_TRUE(sw::writeSceneFile("small.q3d", smallScene()));
    ASSERT_TRUE(sw::writeBytesFile("good.hid", hidFile(3, 2.0f, {0xff, 0x00, 0xff})));
    ASSERT_TRUE(sw::writeBytesFile("old.hid", hidFile(2, 2.0f, {0xff, 0xff})));

    std::string out = runTool("scene small.q3d --hid good.hid --camera 0 --at 0.5");
    EXPECT_NE(out.find("Scene does not have an environment map! \nHidetrack loaded.\n"
                       "Error: object has no topology"),
              std::string::npos)
        << out;
    EXPECT_EQ(lineOf(out, "object 1 "),
              "object 1 visible 0 vertices 0 faces 0 mesh -1 vertexkey -1 material -1 uv 1 "
              "flip 0\n"); // hasUV comes from decoding the keys, before any update
    EXPECT_EQ(lineOf(out, "object 0 ").substr(0, 27), "object 0 visible 1 vertices");

    // The same bits do not hide anything from the interactive camera.
    out = runTool("scene small.q3d --hid good.hid --camera -1 --at 0.5");
    EXPECT_EQ(lineOf(out, "object 1 ").substr(0, 27), "object 1 visible 1 vertices");

    out = runTool("scene small.q3d --camera 7");
    EXPECT_NE(out.find("Scene does not have an environment map! \n"
                       "Wrong cam id 7, switching to interactive cam. \n"),
              std::string::npos)
        << out;
    // A hidetrack that was asked for and does not load ends the run with status 1.
    int status = 0;
    out = runTool("scene small.q3d --hid old.hid", &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(
        out.find("Hide track is incompatible with scene. Please regenerate it! \n  Failed. \n"),
        std::string::npos)
        << out;
    EXPECT_EQ(out.find("\nat "), std::string::npos);
}

TEST(SceneTool, CompressedScenesReportIdentically) {
    TempDir dir;
    ASSERT_TRUE(sw::writeSceneFile("plain.q3d", smallScene()));
    ASSERT_TRUE(sw::writeSceneFile("packed.q3d.gz", smallScene(), true));
    const std::string plain = runTool("scene plain.q3d --at 0.1,1.9,7");
    EXPECT_EQ(runTool("scene packed.q3d.gz --at 0.1,1.9,7"), plain);
    EXPECT_NE(plain.find("at 1\n"), std::string::npos); // 7 wraps to 0 + fmod(7, 2)
}

TEST(SceneTool, BadArgumentsAndFilesFail) {
    TempDir dir;
    int status = 0;
    EXPECT_EQ(runTool("scene", &status), "");
    EXPECT_EQ(status, 2);
    runTool("scene a.q3d --at 1,x", &status);
    EXPECT_EQ(status, 2);
    runTool("scene a.q3d --camera", &status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(runTool("scene missing.q3d", &status), "");
    EXPECT_EQ(status, 1);
    // A truncated scene: the loader's lines, then failure.
    std::vector<uint8_t> bytes = sw::writeScene(smallScene());
    bytes.resize(bytes.size() - 5);
    ASSERT_TRUE(sw::writeBytesFile("cut.q3d", bytes));
    const std::string out = runTool("scene cut.q3d", &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out.find("Time starts at 0 \n"), 0u);
    EXPECT_EQ(out.find("\nat "), std::string::npos);
}

} // namespace
