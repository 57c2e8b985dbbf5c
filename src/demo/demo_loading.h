// Demo data: finding the data folder, loading what a manifest names (the loading picture, the
// scenes with their hidetracks, the logos and the music) behind a loading screen with one bar
// step each; the built-in demo has 13. Does not play anything (demo_script.h does). Everything
// loaded lives in demoData until released; textures belong to the texture manager, scenes to
// this record.
#pragma once

#include "demo/builtin_demo.h"

#include <cstdint>

struct Scene;
struct Texture;
struct Super8Effect;

constexpr int kDemoProgressSteps = 13;
constexpr int kDemoPathBytes = 4096;
// Names tried for a scene and its hidetrack: the scene name plus ".gz", ".hid" and ".gz".
constexpr int kDemoSceneNameBytes = 512;

// What a file looked like when it was loaded: changed size or time means changed content.
// A scene's stamp covers every name its file and hidetrack may have (".gz", ".hid").
struct FileStamp {
    uint64_t size = ~uint64_t(0); // all ones: no such file
    uint64_t modified = 0;        // nanoseconds; a scene's mixes several files' (wrapping)
    bool operator==(const FileStamp&) const = default;
};

struct DemoData {
    const DemoManifest* manifest = &builtInDemoManifest(); // the caller's, not owned
    Texture* loadingPicture = nullptr; // null when the manifest has none or it failed
    Scene* scenes[kMaxDemoScenes] = {};
    Texture* logos[kMaxDemoLogos] = {};      // a null logo is not drawn
    Super8Effect* super8 = nullptr;          // the player's, not owned
    int32_t progress = 0;                    // loading steps done, 0 to demoLoadSteps(*manifest)
    char dataDirectory[kDemoPathBytes] = {}; // where the files were loaded from
    FileStamp sceneStamps[kMaxDemoScenes];
    FileStamp logoStamps[kMaxDemoLogos];
};
extern DemoData demoData;

struct DemoLoadRequest {
    const char* dataDirectory = "data";
    const DemoManifest* manifest = nullptr; // null: the built-in demo; must outlive the demo
    Super8Effect* super8 = nullptr;         // linked into every scene; may be null
    void (*present)() = nullptr;            // shows the back buffer (the window's swap)
    int startOrder = 0;                     // where the music starts
    int startRow = 0;
};

// Where the demo data is: the requested folder when one is given (it must exist), else "data"
// in the working directory, else "data" beside the executable (exePath: the program's own
// path, as /proc/self/exe gives it). False when none is a folder; tried lists what was looked
// at, for the one line that says so.
bool findDemoDataDirectory(const char* requested, const char* exePath, char* out, int outBytes,
                           char* tried, int triedBytes);

// Loads everything in the manifest's order, drawing the loading screen between the steps. False on
// a fatal failure: a scene that cannot be opened or loaded, or music that cannot be started.
// The working directory is the data folder while loading and is restored afterwards.
bool loadDemoData(const DemoLoadRequest& request);

// Hot reload: makes next the playing demo, loading only the scenes and logos it names that are
// new or whose files changed since they were loaded, and keeping the rest as they are. The
// music plays on undisturbed (a changed module is said, not taken). Cues whose window or
// content changed, or whose scene was loaded anew, restart their timers. False, with a console
// line, when a new file fails to load: then nothing changes. next must outlive the demo.
bool reloadDemoData(const DemoManifest& next);
// True when a file the playing demo loaded (scene, hidetrack, logo) changed since.
bool demoFilesChanged();
// The stamp of a file in the data folder (a scene's: of all its names).
FileStamp demoFileStamp(const char* name, bool scene);

// Gives back everything loadDemoData loaded (scenes, textures, music) and empties demoData,
// for a process that loads again (tests, benchmarks).
void releaseDemoData();

// The loading picture (grey without one) with the progress bar (opaque black) at
// demoData.progress of the manifest's steps, in the back buffer; the caller presents it.
void drawLoadProgress(float alpha);

// One scene (name, else name + ".gz") and its hidetrack (the opened name + ".hid", else
// + ".hid.gz") from the working directory. Null (with a log line) when the scene cannot be
// opened or loaded; a missing or refused hidetrack only logs.
Scene* loadDemoScene(const char* name);
