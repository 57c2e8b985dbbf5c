// SDL outside the platform: the layer check must refuse it.
#include <SDL.h>
