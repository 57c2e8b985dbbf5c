// Per-frame update of one mesh object: hidetrack visibility, topology selection, transform,
// working vertices (copied or blended from decoded vertex keys), normals and material.
// GL-free. Allocates only when a Mesh key's topology is built; the object owns its lists.
#pragma once

#include "scene/scene.h"

#include <cstdint>

// Brings the object to timecode t (already wrapped into the scene's range). sceneChanged forces
// the vertex buffer copy to be rewritten. Returns the vertex count when updated, else 0. An
// object with no Mesh key at or before t loses its track for good (one log line).
int updateObject(SceneObject& object, float t, bool sceneChanged);

// Replaces the object's topology with that of the Mesh key at meshKeyIndex of its track.
void buildTopology(SceneObject& object, int meshKeyIndex);

// Unit face normals (each face contributes a unit vector to its vertices, whatever its area),
// then unit vertex normals; a zero-length normal becomes (1, 0, 0).
void computeNormals(SceneObject& object);

// The hidetrack test for the scene's current camera: bits frame and frame + 1 of the camera's
// row. Times outside the scene's range and the interactive camera count as visible. Bits past
// hideBitsBytes read as clear.
bool isVisibleAt(const Scene& scene, float t, const uint8_t* hideBits, int32_t hideBitsBytes);

// The renderer's timecode wrap: held at timeStart below it; from timeEnd on, timeStart +
// fmod(t − timeStart, timeEnd − timeStart) in double precision. A range with no length
// (timeEnd at or before timeStart) has nothing to loop over and holds timeStart.
float wrapSceneTime(const Scene& scene, float t);
