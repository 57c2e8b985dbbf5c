// An include that climbs out of its folder names a file by where it lies, which no include
// path can hold: the layer check must refuse it.
#include "../../src/render/scene_renderer.h"
