// A writer may not reach up into the content made with it.
#pragma once
#include "content/demo_scenes.h"
