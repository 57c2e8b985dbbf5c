// Assimp belongs to the importer alone.
#pragma once
#include <assimp/scene.h>
