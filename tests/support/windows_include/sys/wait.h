// Windows build of the tests: system() and pclose() return the exit code itself there.
#pragma once
#include "support/windows_compat.h"
