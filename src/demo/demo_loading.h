// Demo data: finding the data folder, loading the loading picture, the six scenes with their
// hidetracks, the five logos and the music behind a loading screen with a 13-step bar. Does
// not play anything (demo_script.h does). Everything loaded lives in demoData until the
// process ends; textures belong to the texture manager, scenes to this record.
#pragma once

#include <cstdint>

struct Scene;
struct Texture;
struct Super8Effect;

constexpr int kDemoProgressSteps = 13;
constexpr int kDemoPathBytes = 4096;
// Names tried for a scene and its hidetrack: the scene name plus ".gz", ".hid" and ".gz".
constexpr int kDemoSceneNameBytes = 512;

// In file order; the script names its scenes and logos by these.
enum DemoScene { Landschaft, Fluss, Kraniche, Eiche, Feld, Holzvogel, kDemoSceneCount };
enum DemoLogo { LogoQuilm, Logo4, Logo3, Logo2, Logo1, kDemoLogoCount };

constexpr const char* kDemoMusicFile = "tune.mo3";
extern const char* const kDemoSceneFiles[kDemoSceneCount];
extern const char* const kDemoLogoFiles[kDemoLogoCount];

struct DemoData {
    Texture* loadingPicture = nullptr; // null when "loading.jpg" failed
    Scene* scenes[kDemoSceneCount] = {};
    Texture* logos[kDemoLogoCount] = {}; // a null logo is not drawn
    Super8Effect* super8 = nullptr;      // the player's, not owned
    int32_t progress = 0;                // loading steps done, 0 to kDemoProgressSteps
};
extern DemoData demoData;

struct DemoLoadRequest {
    const char* dataDirectory = "data";
    Super8Effect* super8 = nullptr; // linked into every scene; may be null
    void (*present)() = nullptr;    // shows the back buffer (the window's swap)
    int startOrder = 0;             // where the music starts
    int startRow = 0;
};

// Where the demo data is: the requested folder when one is given (it must exist), else "data"
// in the working directory, else "data" beside the executable (exePath: the program's own
// path, as /proc/self/exe gives it). False when none is a folder; tried lists what was looked
// at, for the one line that says so.
bool findDemoDataDirectory(const char* requested, const char* exePath, char* out, int outBytes,
                           char* tried, int triedBytes);

// Loads everything in the fixed order, drawing the loading screen between the steps. False on
// a fatal failure: a scene that cannot be opened or loaded, or music that cannot be started.
// The working directory is the data folder while loading and is restored afterwards.
bool loadDemoData(const DemoLoadRequest& request);

// Gives back everything loadDemoData loaded (scenes, textures, music) and empties demoData,
// for a process that loads again (tests, benchmarks).
void releaseDemoData();

// The loading picture with the progress bar (opaque black) at demoData.progress, in the back
// buffer; the caller presents it.
void drawLoadProgress(float alpha);

// One scene (name, else name + ".gz") and its hidetrack (the opened name + ".hid", else
// + ".hid.gz") from the working directory. Null (with a log line) when the scene cannot be
// opened or loaded; a missing or refused hidetrack only logs.
Scene* loadDemoScene(const char* name);
