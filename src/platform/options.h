// The run's choices: filled by the setup dialog (or the command-line options), read by every
// layer. Process-wide and written on the main thread only; width and height follow the
// window's client size.
#pragma once

struct SetupOptions {
    int width = 1024;
    int height = 768;
    bool fullscreen = true;
    bool consoleEnabled = false;
    bool useExtensions = true;
    bool makeHidetrack = false;
    bool lowMemory = false;
    bool alwaysInFront = true;
    bool wideScreen = true;
    bool useDxt = true;
};

extern SetupOptions setupOptions;
