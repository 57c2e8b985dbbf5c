// Draws one scene object in one pass of a frame: pass membership, the vertex cache in the
// shared vertex memory (bufferOffset, geometryDirty), the triangle index list, transform,
// material and one glDrawElements. It sets no pass-wide state (the scene renderer does) and
// allocates nothing: the index list is one static table, the vertex memory is vertex_memory's.
#pragma once

#include "scene/scene.h"

#include <cstdint>

// 64,000 triangles: an object with more faces is never drawn.
constexpr int kIndexListEntries = 192000;

// Values bufferOffset takes while an object is refused for a limit, so that the refusal is
// logged once per object (not every frame) and its next placement rewrites its vertices.
constexpr int32_t kOffsetBeyondVertexMemory = -2;
constexpr int32_t kOffsetBeyondIndexList = -3;

extern uint32_t indexList[kIndexListEntries];

// pass 0 = opaque, 1 = blended. vertexCursor is the byte offset of the next free vertex slot in
// vertexMemory; it advances by 32 x vertexCount when the object is placed. An object whose
// vertices would run past the vertex memory, or whose faces overflow the index list, is
// skipped (vertexCursor unchanged) with one log line when the refusal starts.
void drawObject(SceneObject& object, int pass, int32_t& vertexCursor);
