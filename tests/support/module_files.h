// Writer-made modules on disk for the music tests, in a per-process scratch folder.
#pragma once

#include "e2e/run_binary.h"
#include "writers/module_writer.h"

#include <string>

// Frames per row of simpleModule(..., 7, 145): 3500/29 ms at 44100 Hz. libopenmpt renders
// whole ticks (760 frames, 7 to a row), so its rows are 5320 frames: 2.4 frames shorter.
constexpr double kRowFrames = 44100.0 * 3.5 / 29.0;
constexpr double kRowFramesRendered = 5320.0;

inline std::string writeTestModule(const char* name, const modulewriter::Module& module) {
    const std::string path = scratchDirectory("music") + "/" + name;
    return modulewriter::writeModuleFile(path, module) ? path : std::string();
}
