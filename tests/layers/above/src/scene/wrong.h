// A scene file that reaches up into the renderer: the layer check must refuse it.
#include "render/scene_renderer.h"
