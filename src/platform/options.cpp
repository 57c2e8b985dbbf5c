#include "platform/options.h"

#include "diag/console.h"

SetupOptions setupOptions;

namespace {
// The console follows the run's choice from the first line on; everything that names
// setupOptions links this file, so the binding is always made.
const bool consoleBound = (setConsoleSwitch(&setupOptions.consoleEnabled), true);
} // namespace
