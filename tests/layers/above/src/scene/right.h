// Layers below the scene in each spelling: the compiler finds them all, so the wrong files
// fail for want of the layer above and not of some fault of the test itself.
#include "diag/console.h"
#include <wavelet/qw2.h>
#include "../diag/prof.h"
