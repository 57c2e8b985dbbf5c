// A writer reaching up to the content beside its own folder.
#include "../content/demo_scenes.h"
