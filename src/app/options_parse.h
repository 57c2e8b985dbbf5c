// The player's command line: options for automation and testing, plus at most one scene
// path. Parsing is pure (no SDL, no files, no output); the caller prints errors and usage.
// The scene path is copied into a fixed buffer with room for the ".hid" and ".gz" suffixes.
#pragma once

#include "platform/options.h"

#include <cstdint>

// Longest scene path accepted, in characters; the buffer also holds ".hid", ".gz" and the end.
constexpr int kScenePathChars = 1000;
constexpr int kScenePathBytes = kScenePathChars + 4 + 3 + 1;
constexpr int kParseErrorBytes = 256;
constexpr int kMaxCaptureFps = 1000;
// Orders and rows of a module: at most 256 each.
constexpr int kMaxStartOrder = 255;
constexpr int kMaxStartRow = 255;

struct CommandLine {
    bool noDialog = false;
    bool windowed = false;
    bool fullscreen = false;
    bool sizeGiven = false;
    int width = 1024;
    int height = 768;
    bool console = false;
    bool noExtensions = false;
    bool noDxt = false;
    bool forceDxt = false; // --dxt: compress also on a software renderer
    bool lowMemory = false;
    bool noWideScreen = false;
    bool alwaysInFront = false;
    bool makeHidetrack = false;
    bool headless = false;
    uint64_t fixedStepMicroseconds = 0;   // 0: the real clock
    int frames = 0;                       // 0: no limit
    const char* screenshotPath = nullptr; // points into argv
    bool profile = false;
    const char* capturePath = nullptr; // --capture: points into argv
    int captureFps = 60;
    bool captureOverlay = false;
    bool overwrite = false; // --overwrite: replace an earlier capture in the folder
    bool loopGiven = false; // --loop A:B, orders; checked against the module when it loads
    int loopFirst = 0;
    int loopLast = 0;
    const char* dataDirectory = nullptr; // points into argv; null: look for "data"
    const char* demoManifest = nullptr;  // points into argv; null: the data folder's or none
    bool watch = false;                  // reload the demo when one of its files changes
    int startOrder = 0;                  // where the demo's music starts
    int startRow = 0;
    bool exitAtEnd = false; // demo mode: quit when the demo is over
    bool help = false;
    bool version = false;
    char scenePath[kScenePathBytes] = {}; // empty: demo mode
};

// Fills line from argv[1..argc-1]. False with a one-line reason in error (no trailing line
// break) for an unknown option, a missing or malformed value, a second path or a path too long.
bool parseCommandLine(int argc, const char* const* argv, CommandLine& line, char* error,
                      int errorBytes);

// The path as the program uses it: a path wrapped in double quotes loses them, anything else
// is kept as it is. False when the result does not fit kScenePathChars.
bool copyScenePath(const char* argument, char* out, int outBytes);

// Applies the options to a record that holds the dialog's defaults (or the dialog's choices).
void applyCommandLine(const CommandLine& line, SetupOptions& options);

extern const char* const kUsageText;
