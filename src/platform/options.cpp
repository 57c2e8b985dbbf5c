#include "platform/options.h"

SetupOptions setupOptions;
