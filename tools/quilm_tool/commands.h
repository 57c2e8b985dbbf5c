// Subcommands of quilm-tool. Each takes its own argc/argv (argv[0] is the command name),
// prints errors to standard error and returns the process exit status. Each lives in its own
// file here.
#pragma once

#ifndef QUILM_VERSION
#define QUILM_VERSION "0.1.0"
#endif

int runSceneCommand(int argc, char** argv);      // scene FILE [--at ...] [--camera N] [--hid F]
int runQw2Command(int argc, char** argv);        // qw2 decode|encode ...
int runImageCommand(int argc, char** argv);      // image IN OUT.png
int runMakeSampleCommand(int argc, char** argv); // make-sample DIR
int runMakeDataCommand(int argc, char** argv);   // make-data DIR [--no-hidetracks]
int runImportCommand(int argc, char** argv);     // import IN OUT.q3d [--fps F] [--scale S] ...
