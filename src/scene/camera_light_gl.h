// OpenGL set-up of the view and of fixed-function lights from evaluated cameras and lights.
// Needs a current context; the evaluation itself is camera_light.h. Owns nothing.
#pragma once

#include "scene/scene.h"

// Evaluates the camera when it has a track, then loads the projection (gluPerspective over the
// window's aspect, near 1, far 20000) and the view (rotation × translation(−position)). Leaves
// the matrix mode at modelview.
void applyCamera(Camera& camera, float t);

// Evaluates the light and sets GL_LIGHT0 + glIndex as a positional light (diffuse = specular =
// colour, quadratic attenuation from range) and enables it; lights without a track or with
// glIndex above 8 make no GL call. Must follow applyCamera: positions go through the view.
void applyLight(Light& light, float t);
