// Helpers shared by the scene tests: loading writer output, scoped scenes, temp directories.
#pragma once

#include "scene/scene.h"
#include "scene/scene_file.h"
#include "support/console_capture.h"
#include "writers/scene_writer.h"

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace scenetest {

namespace sw = scenewriter;

struct SceneDeleter {
    void operator()(Scene* scene) const { destroyScene(scene); }
};
using ScenePtr = std::unique_ptr<Scene, SceneDeleter>;

struct Loaded {
    ScenePtr scene;
    bool ok = false;
    std::string log;
};

inline Loaded loadBytes(const std::vector<uint8_t>& bytes) {
    Loaded result;
    result.scene.reset(createScene());
    ConsoleCapture capture;
    result.ok = loadSceneFromMemory(*result.scene, bytes.data(), bytes.size());
    result.log = capture.text;
    return result;
}

inline Loaded loadWritten(const sw::Scene& scene) {
    return loadBytes(sw::writeScene(scene));
}

// Runs the body in a fresh temporary directory, restoring the working directory afterwards.
struct TempDir {
    std::filesystem::path path;
    std::filesystem::path previous;
    TempDir() {
        previous = std::filesystem::current_path();
        char pattern[] = "/tmp/quilm_scene_XXXXXX";
        path = mkdtemp(pattern);
        std::filesystem::current_path(path);
    }
    ~TempDir() {
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

inline int countOccurrences(const std::string& text, const std::string& needle) {
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

// The lines of text that start with one of the prefixes, in order.
inline std::string linesStartingWith(const std::string& text,
                                     const std::vector<std::string>& prefixes) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(start, end - start);
        for (const std::string& p : prefixes)
            if (line.compare(0, p.size(), p) == 0) {
                out += line;
                break;
            }
        start = end;
    }
    return out;
}

} // namespace scenetest
