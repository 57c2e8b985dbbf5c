// The steps of make-data that touch files and processes: writing a scene in its storage form,
// reporting file sizes, running the player next to this tool for hidetracks and the loading
// still, and the data set's music and logos. Paths are plain strings; nothing is kept.
#pragma once

#include "content/demo_scenes.h"

#include <cstdint>
#include <filesystem>
#include <string>

// Hidetracks are drawn in a small window: the visibility of objects this large does not
// change with the resolution, and the pass costs its fill.
constexpr const char* kDefaultHidetrackSize = "256x192";

// A UTF-8 path as std::filesystem takes it: a plain string would be read in the C library's
// code page on Windows, which turns "ü" into two other characters.
std::filesystem::path utf8Path(const std::string& path);
// Prints "  NAME  SIZE" for dir/name.
void reportFile(const std::string& dir, const std::string& name);
uint64_t directoryBytes(const std::string& dir);
// Writes the scene under its storage name and removes any copy under the other names.
bool writeDemoSceneFile(const std::string& dir, const DemoSceneEntry& entry,
                        const BuiltScene& built);
// "tune.mo3", the five logos and "demo.toml", the built-in demo as a manifest.
bool writeDemoSoundAndLogos(const std::string& dir);
// The player built beside this executable.
std::string playerPath();
// Runs the player's hidetrack pass for every scene, in dir, with a percentage on the way;
// compresses the tracks the scene table asks for.
bool makeHidetracks(const std::string& dir, const std::string& player, const std::string& size);
// Renders a still of the opening scene with the player and writes "loading.jpg" from it, with
// a light strip where the loading bar grows.
bool makeLoadingPicture(const std::string& dir, const std::string& player);
