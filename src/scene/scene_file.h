// Scene file reading: the loader fills a fresh Scene (scene.h) from a gzip stream (plain or
// compressed files alike) or from memory, for tests, tools and fuzzing. The caller keeps
// ownership of the stream and the bytes; the scene owns what was read.
#pragma once

#include "scene/scene.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>

// Fills a fresh scene from an open gzip stream (plain or compressed). False without a log
// line when the stream is null; false with one log line when the file is truncated or
// inconsistent (the scene then holds what was read so far and must still be destroyed).
// The stream is read ahead in blocks, so afterwards it is positioned past the last track.
bool loadScene(Scene& scene, gzFile stream);

// The same from memory: the uncompressed stream, or a whole gzip file when the bytes start
// with the gzip magic.
bool loadSceneFromMemory(Scene& scene, const uint8_t* bytes, size_t byteCount);
