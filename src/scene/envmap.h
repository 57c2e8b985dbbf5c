// Environment maps: turns a scene's base name into six face images (name + "_dn", "_up", "_fr",
// "_bk", "_lf", "_rt" + ".png" or ".jpg", from the current directory, else the texture manager's
// search folder) and loads them through the texture manager. All six or none: a missing face
// releases the ones loaded.
#pragma once

#include "scene/scene.h"

extern const char* const kEnvMapSuffixes[kEnvMapFaces];

// Loads scene.envMapName's faces into scene.envMapTextures. False (slots all empty) for an
// empty name, a name too long for a path, or a face that is missing or undecodable.
bool loadEnvironmentMaps(Scene& scene);
