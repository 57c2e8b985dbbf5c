// A demo as data: its music, loading picture, scenes and logos by name, the cue sheet and
// where it ends. The built-in demo is one (builtin_demo.h); a "demo.toml" is read into one
// here, so another demo needs no recompiling. Pure: reads only the manifest's own text, no GL.
// Fixed-size tables: every limit is a named budget, refused with a line that names it.
#pragma once

#include "demo/overlays.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kMaxDemoScenes = 32;
constexpr int kMaxDemoLogos = 32;
constexpr int kMaxCues = 512;
constexpr int kCueTimerCount = 1024;
// Nominal cue lengths up to a quarter hour of rows at any tempo; durations stay exact in
// single precision (rows * row length) below this.
constexpr int kMaxCueRows = 16384;
constexpr int kDemoNameBytes = 64;  // a scene's or logo's name
constexpr int kDemoFileBytes = 256; // a file name, relative to the manifest's folder
constexpr int kManifestMaxBytes = 1 << 20;
// One row of speed 7 at tempo 145, in milliseconds: the built-in tune's.
constexpr double kDefaultRowMs = 3500.0 / 29.0;

enum class CueOverlay : uint8_t {
    None,
    FadeInFromBlack,  // alpha 1 - 3t, only while above 0
    FadeOutToWhite,   // alpha 3t - 2
    FadeOutToBlack,   // alpha 3t - 2
    FinalFadeToBlack, // alpha t
    LogoPulse,        // the cue's logo in its box, alpha sin(pi t)
    LogoOrbit,        // three logos circling the centre on the demo clock
};
constexpr int kCueOverlayCount = 7;
// The manifest's names of the overlays, in enum order ("none", "fade-in", ...).
extern const char* const kCueOverlayNames[kCueOverlayCount];

constexpr int kNoDemoScene = -1;

struct Cue {
    int32_t timer;       // index into the cue timers
    int32_t first, last; // window in cue positions (order * 256 + row), both inclusive
    int32_t rows;        // nominal length in rows
    int32_t scene;       // index into the manifest's scenes, or kNoDemoScene for an overlay alone
    int32_t camera;
    float factor; // share of the scene's duration played over the nominal length
    CueOverlay overlay;
    int32_t logo; // index into the manifest's logos for a pulse, else -1
    LogoBox box;
    int32_t orbit[3]; // logos circling for an orbit, drawn in this order
};

// The file a data folder's own manifest has; without one the built-in demo plays.
constexpr const char* kDemoManifestFile = "demo.toml";

// Where a value stood in the manifest's text, for errors found after parsing.
struct ManifestSpot {
    int32_t line = 0, column = 0;
};

struct DemoManifest {
    char music[kDemoFileBytes] = {};
    char loading[kDemoFileBytes] = {}; // empty: a grey loading screen
    double rowMs = kDefaultRowMs;
    // The demo is over while the position lies in [endFirst, endLast].
    int32_t endFirst = INT32_MAX, endLast = INT32_MAX;
    int32_t sceneCount = 0;
    char sceneNames[kMaxDemoScenes][kDemoNameBytes] = {};
    char sceneFiles[kMaxDemoScenes][kDemoFileBytes] = {};
    int32_t logoCount = 0;
    char logoNames[kMaxDemoLogos][kDemoNameBytes] = {};
    char logoFiles[kMaxDemoLogos][kDemoFileBytes] = {};
    int32_t cueCount = 0;
    Cue cues[kMaxCues] = {};
    // Where each cue's from and to, and the end, were written; zero for the built-in demo.
    ManifestSpot cueSpots[kMaxCues][2] = {};
    ManifestSpot endSpot;
};

// The built-in demo (builtin_demo.h) as a manifest; names are its file names less extension.
const DemoManifest& builtInDemoManifest();

// The loading bar's steps: the loading picture, each scene, each logo, the music.
int demoLoadSteps(const DemoManifest& manifest);

// Errors, one line each ("file:line:column: what\n"), gathered into a caller's buffer.
struct ManifestErrors {
    char* text = nullptr;
    int bytes = 0;
    int count = 0;
};
void addManifestError(ManifestErrors& errors, const char* fileName, ManifestSpot at,
                      const char* format, ...) __attribute__((format(printf, 4, 5)));

// Parses a manifest's text. False with every error found in errors (and out unusable) when the
// text is not TOML, names an unknown key, misses a required one, breaks a budget, or has a cue
// that is wrong in itself (unknown scene or logo, "to" before "from", a timer used twice, a
// pulse without its logo...). fileName is only for the messages.
bool parseDemoManifest(const char* text, size_t size, const char* fileName, DemoManifest& out,
                       ManifestErrors& errors);
// Reads and parses path; the messages name the path as given.
bool readDemoManifest(const char* path, DemoManifest& out, ManifestErrors& errors);

// The music's layout as loaded: orders and each order's rows.
struct MusicShape {
    int32_t orders = 0;
    int32_t rows[256] = {};
};
// False, with a line each, for a cue window or end that lies past the music's end.
bool checkManifestPositions(const DemoManifest& manifest, const MusicShape& music,
                            const char* fileName, ManifestErrors& errors);

// Nominal duration in milliseconds of rows at the given row length.
float cueDurationMs(int32_t rows, double rowMs = kDefaultRowMs);
// Progress of a started cue: 0 at its first frame, about 1 at its nominal end, not clamped.
float cueProgress(const Cue& cue, float timerStart, float demoSeconds,
                  double rowMs = kDefaultRowMs);

// The manifest as TOML text that parseDemoManifest reads back into the same record (the
// source spots aside), and the file: false, with a line on standard error, when it cannot be
// written. For make-data and for tests.
std::string formatDemoManifest(const DemoManifest& manifest);
bool writeDemoManifest(const char* path, const DemoManifest& manifest);
