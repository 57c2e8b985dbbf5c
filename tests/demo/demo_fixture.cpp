#include "demo/demo_fixture.h"

#include "e2e/run_binary.h"
#include "writers/module_writer.h"
#include "writers/picture_writer.h"
#include "writers/scene_writer.h"
#include "content/super8_pictures.h"

#include <sys/stat.h>

#include <fstream>
#include <vector>

namespace sw = scenewriter;

const FixtureColour kFixtureBackgrounds[6] = {{51, 102, 153}, {25, 127, 76},  {153, 76, 25},
                                              {102, 51, 127}, {178, 153, 51}, {76, 76, 76}};

namespace {

struct FixtureScene {
    const char* file;
    int cameras;
};
// The cameras each scene's cues use (highest camera number + 1).
constexpr FixtureScene kScenes[6] = {{"landschaft.q3d", 20}, {"fluss.q3d", 12},
                                     {"kraniche.q3d", 4},    {"eiche.q3d", 6},
                                     {"feld.q3d", 13},       {"holzvogel.q3d", 1}};

sw::Scene fixtureScene(int index) {
    sw::Scene scene;
    sw::setStartEnd(scene, 0.0, 4.0);
    const FixtureColour& c = kFixtureBackgrounds[index];
    scene.background[0] = float(c.r) / 255.0f;
    scene.background[1] = float(c.g) / 255.0f;
    scene.background[2] = float(c.b) / 255.0f;
    for (int i = 0; i < kScenes[index].cameras; ++i) {
        const float eye[3] = {float(i % 5) - 2.0f, -12.0f - float(i), 1.0f}, target[3] = {0, 0, 0};
        scene.tracks.push_back(sw::cameraTrack("camera" + std::to_string(i),
                                               {sw::cameraLookAtKey(0, eye, target, 1.2f)}));
    }
    const float light[3] = {0, -1000, 300}, white[3] = {1, 1, 1};
    scene.tracks.push_back(sw::lightTrack("light", {sw::lightKey(0, light, white, 0)}));
    sw::MaterialDesc m;
    m.diffuse[0] = 0.9f;
    m.diffuse[1] = 0.85f;
    m.diffuse[2] = 0.8f;
    scene.tracks.push_back(sw::materialTrack("stone", m));
    sw::Mesh quad = sw::quadMesh(4.0f, false);
    // Upright, facing the cameras (-Y), turning slowly over the scene's time.
    const float face[12] = {1, 0, 0, 0, 0, 1, 0, -1, 0, 0, 0, 0};
    for (int k = 0; k < 12; ++k)
        quad.transform.m[k] = face[k];
    sw::Matrix12 later = quad.transform;
    later.m[9] = 1.5f;
    scene.tracks.push_back(
        sw::objectTrack("stone", {sw::meshKey(0, quad), sw::transformKey(4.0, later)}));
    return scene;
}

bool writeLogo(const std::string& path, pictures::Color colour) {
    pictures::Canvas canvas(64, 32, {0, 0, 0, 0});
    pictures::fillRoundedRect(canvas, 4, 4, 60, 28, 6, colour);
    return pictures::writePng(path, canvas);
}

} // namespace

bool writeDemoFixture(const std::string& dir, const DemoFixtureOptions& options) {
    mkdir(dir.c_str(), 0755);
    bool ok = true;
    if (options.withLoadingPicture) {
        pictures::Canvas loading(64, 64, {0.9f, 0.8f, 0.3f, 1});
        ok &= pictures::writeJpeg(dir + "/loading.jpg", loading, 95);
    }
    for (int i = 0; i < 6; ++i) {
        if (i == 1 && !options.withFluss) continue;
        const std::string path = dir + "/" + kScenes[i].file;
        if (i == 0 && options.landschaftGzOnly) {
            ok &= sw::writeSceneFile(path + ".gz", fixtureScene(i), true);
            // Found under the longer name only; not a track, so the loader refuses it.
            ok &= sw::writeBytesFile(path + ".gz.hid.gz", {1, 2, 3});
            continue;
        }
        if (i == 1 && options.flussForm != SceneFileForm::plain) {
            std::vector<uint8_t> bytes = sw::gzipBytes(sw::writeScene(fixtureScene(i)));
            if (options.flussForm == SceneFileForm::gzipTwice) bytes = sw::gzipBytes(bytes);
            if (options.flussForm == SceneFileForm::gzipCut) bytes.resize(bytes.size() / 2);
            if (options.flussForm == SceneFileForm::gzipDamaged) bytes[bytes.size() / 2] ^= 0x55;
            ok &= sw::writeBytesFile(path, bytes);
            continue;
        }
        ok &= sw::writeSceneFile(path, fixtureScene(i), i == 4);
    }
    const char* logos[5] = {"quilm.png", "logo4.png", "logo3.png", "logo2.png", "logo1.png"};
    const pictures::Color colours[5] = {
        {1, 1, 1, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 0, 1}};
    for (int i = 0; i < 5; ++i)
        if (i != 4 || options.withLogo1) ok &= writeLogo(dir + "/" + logos[i], colours[i]);
    ok &= pictures::writeSuper8Pictures(dir);
    std::vector<uint8_t> tune =
        modulewriter::writeModule(modulewriter::simpleModule(33, options.speed, options.tempo));
    if (options.damagedModule) tune.resize(200);
    ok &= sw::writeBytesFile(dir + "/tune.mo3", tune);
    return ok;
}

const std::string& demoFixture() {
    static const std::string dir = [] {
        const std::string d = scratchDirectory("demo-data");
        return writeDemoFixture(d) ? d : std::string();
    }();
    return dir;
}
