// The renderer reached in angle brackets: the compiler must find no such file.
#include <render/scene_renderer.h>
