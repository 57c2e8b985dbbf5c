// The built-in demo's lists and cue table.
#include "demo/builtin_demo.h"

#include <cstdio>
#include <cstring>

const char* const kDemoSceneFiles[kDemoSceneCount] = {
    "landschaft.q3d", "fluss.q3d", "kraniche.q3d", "eiche.q3d", "feld.q3d", "holzvogel.q3d"};
const char* const kDemoLogoFiles[kDemoLogoCount] = {"quilm.png", "logo4.png", "logo3.png",
                                                    "logo2.png", "logo1.png"};

namespace {

constexpr int32_t at(int32_t order, int32_t row) {
    return order * 256 + row;
}

// A cue of every kind starts as a shot (or an overlay alone, scene kNoDemoScene) and takes
// its logos on top.
constexpr Cue shot(int32_t timer, int32_t first, int32_t last, int32_t rows, int32_t scene,
                   int32_t camera, float factor = 1.0f, CueOverlay overlay = CueOverlay::None) {
    return Cue{timer,  first,   last, rows,         scene,       camera,
               factor, overlay, -1,   {0, 0, 0, 0}, {-1, -1, -1}};
}

constexpr Cue withPulse(Cue cue, DemoLogo logo, LogoBox box) {
    cue.overlay = CueOverlay::LogoPulse;
    cue.logo = logo;
    cue.box = box;
    return cue;
}

constexpr Cue pulse(int32_t timer, int32_t first, int32_t last, int32_t rows, DemoLogo logo,
                    LogoBox box) {
    return withPulse(shot(timer, first, last, rows, kNoDemoScene, 0), logo, box);
}

constexpr Cue orbit(int32_t timer, int32_t first, int32_t last, int32_t rows, DemoScene scene,
                    int32_t camera) {
    Cue cue = shot(timer, first, last, rows, scene, camera, 1.0f, CueOverlay::LogoOrbit);
    cue.orbit[0] = Logo4;
    cue.orbit[1] = Logo3;
    cue.orbit[2] = Logo2;
    return cue;
}

constexpr LogoBox kGroupLogoBox = {-0.665f, -0.5f, 1.33f, 1.0f};

} // namespace

const Cue kCues[kCueCount] = {
    shot(1, at(0, 0), at(1, 63), 128, Landschaft, 15, 1.0f, CueOverlay::FadeInFromBlack),
    pulse(100, at(1, 0), at(1, 63), 64, LogoQuilm, kGroupLogoBox),
    withPulse(shot(2, at(2, 0), at(2, 63), 64, Landschaft, 10), Logo1,
              {-0.532f, -0.4f, 1.596f, 1.2f}),
    shot(3, at(3, 0), at(3, 63), 64, Landschaft, 7),
    shot(4, at(4, 0), at(4, 31), 32, Landschaft, 4),
    shot(5, at(4, 32), at(4, 63), 32, Landschaft, 1),
    shot(6, at(5, 0), at(5, 31), 32, Landschaft, 5),
    shot(7, at(5, 32), at(5, 63), 32, Landschaft, 11),
    shot(8, at(6, 0), at(6, 31), 32, Landschaft, 19),
    shot(9, at(6, 32), at(6, 63), 32, Landschaft, 12),
    shot(10, at(7, 0), at(7, 31), 32, Landschaft, 17),
    shot(11, at(7, 32), at(8, 63), 96, Landschaft, 14),
    shot(12, at(9, 0), at(9, 31), 32, Landschaft, 18),
    shot(13, at(9, 32), at(9, 47), 16, Landschaft, 9),
    shot(14, at(9, 48), at(9, 63), 16, Landschaft, 8),
    shot(15, at(10, 0), at(10, 31), 32, Landschaft, 13),
    shot(16, at(10, 32), at(10, 63), 32, Landschaft, 16, 1.0f, CueOverlay::FadeOutToWhite),
    shot(17, at(11, 0), at(11, 63), 64, Eiche, 0),
    shot(18, at(12, 0), at(12, 63), 64, Eiche, 5),
    shot(19, at(13, 0), at(13, 31), 32, Eiche, 2),
    shot(20, at(13, 32), at(13, 63), 32, Eiche, 1),
    shot(21, at(14, 0), at(14, 31), 32, Eiche, 4),
    shot(22, at(14, 32), at(14, 63), 32, Eiche, 3),
    shot(23, at(15, 0), at(15, 63), 64, Fluss, 3),
    shot(24, at(16, 0), at(16, 63), 64, Fluss, 0),
    shot(25, at(17, 0), at(17, 31), 32, Fluss, 7),
    shot(26, at(17, 32), at(17, 63), 32, Fluss, 10),
    shot(27, at(18, 0), at(18, 31), 32, Fluss, 4),
    shot(28, at(18, 32), at(18, 63), 32, Fluss, 11),
    shot(29, at(19, 0), at(19, 31), 32, Fluss, 2),
    shot(30, at(19, 32), at(19, 63), 32, Fluss, 5),
    shot(31, at(20, 0), at(20, 31), 32, Fluss, 1),
    shot(32, at(20, 32), at(20, 63), 32, Fluss, 6),
    shot(33, at(21, 0), at(21, 63), 64, Fluss, 8, 1.0f, CueOverlay::FadeOutToBlack),
    shot(34, at(22, 0), at(22, 31), 32, Kraniche, 0),
    shot(35, at(22, 32), at(22, 63), 32, Kraniche, 1),
    shot(36, at(23, 0), at(23, 31), 32, Kraniche, 3),
    shot(37, at(23, 32), at(23, 63), 32, Kraniche, 2, 0.6f),
    shot(38, at(24, 0), at(24, 31), 32, Feld, 0, 0.6f),
    shot(39, at(24, 32), at(24, 63), 32, Feld, 2),
    shot(40, at(25, 0), at(25, 31), 32, Feld, 4),
    shot(41, at(25, 32), at(25, 63), 32, Feld, 3, 0.6f),
    shot(42, at(26, 0), at(26, 31), 32, Feld, 5),
    shot(43, at(26, 32), at(26, 63), 32, Feld, 8),
    shot(44, at(27, 0), at(27, 31), 32, Feld, 10),
    shot(45, at(27, 32), at(27, 63), 32, Feld, 1, 0.6f),
    shot(46, at(28, 0), at(28, 15), 16, Feld, 12),
    shot(47, at(28, 16), at(28, 47), 32, Feld, 7),
    shot(48, at(28, 48), at(28, 63), 16, Feld, 11, 0.6f),
    pulse(102, at(28, 0), at(28, 63), 64, Logo1, kGroupLogoBox),
    orbit(50, at(29, 0), at(32, 63), 192, Holzvogel, 0),
    shot(123, at(32, 32), at(32, 63), 32, kNoDemoScene, 0, 1.0f, CueOverlay::FinalFadeToBlack),
};

namespace {

// name: the file name up to its first dot.
void copyStem(const char* file, char* name, size_t nameBytes) {
    const size_t stem = std::strcspn(file, ".");
    std::snprintf(name, nameBytes, "%.*s", int(stem), file);
}

DemoManifest makeBuiltIn() {
    DemoManifest m;
    std::snprintf(m.music, sizeof m.music, "%s", kDemoMusicFile);
    std::snprintf(m.loading, sizeof m.loading, "%s", kDemoLoadingFile);
    m.rowMs = kDefaultRowMs;
    m.endFirst = kDemoEndFirst;
    m.endLast = kDemoEndLast;
    m.sceneCount = kDemoSceneCount;
    for (int i = 0; i < kDemoSceneCount; ++i) {
        copyStem(kDemoSceneFiles[i], m.sceneNames[i], sizeof m.sceneNames[i]);
        std::snprintf(m.sceneFiles[i], sizeof m.sceneFiles[i], "%s", kDemoSceneFiles[i]);
    }
    m.logoCount = kDemoLogoCount;
    for (int i = 0; i < kDemoLogoCount; ++i) {
        copyStem(kDemoLogoFiles[i], m.logoNames[i], sizeof m.logoNames[i]);
        std::snprintf(m.logoFiles[i], sizeof m.logoFiles[i], "%s", kDemoLogoFiles[i]);
    }
    m.cueCount = kCueCount;
    for (int i = 0; i < kCueCount; ++i)
        m.cues[i] = kCues[i];
    return m;
}

} // namespace

const DemoManifest& builtInDemoManifest() {
    static const DemoManifest manifest = makeBuiltIn();
    return manifest;
}
