// Subcommands of quilm-tool. Each takes its own argc/argv (argv[0] is the command name),
// prints errors to standard error and returns the process exit status.
#pragma once

#ifndef QUILM_VERSION
#define QUILM_VERSION "0.1.0"
#endif
