// A small demo data set written with the scene, picture and module writers: the loading
// picture, six one-quad scenes (each with the cameras its cues use and its own background
// colour), five logos with alpha, the film pictures and a 33-order tune. Test code only.
#pragma once

#include <string>

// How "fluss.q3d" is stored: as written, gzip-compressed, compressed twice, compressed and
// then cut short, or compressed with a byte in the middle changed.
enum class SceneFileForm { plain, gzip, gzipTwice, gzipCut, gzipDamaged };

struct DemoFixtureOptions {
    bool withLoadingPicture = true;
    bool withFluss = true; // false: the second scene is missing
    SceneFileForm flussForm = SceneFileForm::plain;
    bool damagedModule = false;    // "tune.mo3" cut short
    bool landschaftGzOnly = false; // only "landschaft.q3d.gz", with "landschaft.q3d.gz.hid"
    bool withLogo1 = true;
    int speed = 7; // 7 at tempo 145: rows of 3500/29 ms, as the script expects
    int tempo = 145;
};

// Writes the set into dir (created when missing); false when a file could not be written.
bool writeDemoFixture(const std::string& dir, const DemoFixtureOptions& options = {});
// The default set, written once per test process.
const std::string& demoFixture();

// Background colour of each demo scene (DemoScene order), as bytes.
struct FixtureColour {
    int r, g, b;
};
extern const FixtureColour kFixtureBackgrounds[6];
