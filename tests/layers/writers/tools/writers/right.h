// A writer's includes in each spelling, from its own layer and from src/.
#include "writers/byte_writer.h"
#include <diag/prof.h>
#include "../diag/console.h"
