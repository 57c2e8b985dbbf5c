// Evaluation of camera and light tracks at a timecode: pure arithmetic on the records, no
// OpenGL (the GL set-up is camera_light_gl.h). Nothing is allocated; the records own their
// tracks.
#pragma once

#include "scene/scene.h"

// Rotation (9), position (3) and fov from the Transform keys. Before the first key (or with no
// segment) the pose resets to identity at the origin and fov keeps its last value. A camera
// without a track is left alone.
void updateCamera(Camera& camera, float t);

// Position (3), colour (3) and range from any key but Hold. Before the first key the light
// keeps its previous values. A light without a track is left alone.
void updateLight(Light& light, float t);

// Quadratic attenuation for a range: 0 (none) when range is 0, else 1 / range².
float lightAttenuation(float range);

// Vertical field of view in degrees for gluPerspective: fov × 180 / aspect / π.
float verticalFovDegrees(float fovRadians, float aspect);
