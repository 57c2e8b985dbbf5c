// Scene file reading: the same loader as loadScene (scene.h), fed from memory, for tests,
// tools and fuzzing. The bytes are the uncompressed stream, or a whole gzip file when they
// start with the gzip magic. The caller keeps ownership of the bytes.
#pragma once

#include "scene/scene.h"

#include <cstddef>
#include <cstdint>

bool loadSceneFromMemory(Scene& scene, const uint8_t* bytes, size_t byteCount);
