// Scene file reading: the loader fills a fresh Scene (scene.h) from a gzip stream (plain or
// compressed files alike) or from memory, for tests, tools and fuzzing. The caller keeps
// ownership of the stream and the bytes; the scene owns what was read.
#pragma once

#include "scene/scene.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>

// The most a scene file may make the loader handle: every decompressed byte of its tracks,
// stored or read past, plus the memory the scene builds from them (key records, padding,
// decoded vertices). Far above any real scene; a file that would pass it is refused with one
// line naming the budget, before the memory is taken or the data decompressed.
constexpr int64_t kSceneBudgetBytes = int64_t(1) << 30;

// What a caller may change about a load; the defaults are the player's.
struct SceneLoadOptions {
    int64_t budgetBytes = kSceneBudgetBytes;
    // False: no environment map or texture is looked up and materials load untextured. For
    // fuzzing, where every input must stay cheap (the image loaders have targets of their own),
    // and for timing the parse apart from the pictures.
    bool loadImages = true;
};

// Fills a fresh scene from an open gzip stream (plain or compressed). False without a log
// line when the stream is null; false with one log line when the file is truncated or
// inconsistent, cannot be read (the system's reason is given) or passes kSceneBudgetBytes
// (the scene then holds what was read so far and must still be destroyed). Tracks without a
// place in the scene (unknown types, more than the header counts) are read past, not stored.
// The stream is read ahead in blocks, so afterwards it is positioned past the last track.
bool loadScene(Scene& scene, gzFile stream, const SceneLoadOptions& options = {});

// The same from memory: the uncompressed stream, or a whole gzip file when the bytes start
// with the gzip magic.
bool loadSceneFromMemory(Scene& scene, const uint8_t* bytes, size_t byteCount,
                         const SceneLoadOptions& options = {});
