// The renderer reached beside the scene's folder: the compiler must find no such file.
#include "../render/scene_renderer.h"
