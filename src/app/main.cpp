// The player's entry: parses the command line, then hands over to the player.
#include "app/capture.h"
#include "app/options_parse.h"
#include "app/player.h"

#include <cstdio>
#include <sys/stat.h>

namespace {

const char* const kKeysText =
    "\n"
    "keys in the viewer (a scene on the command line):\n"
    "  1 to 9   camera 1 to 9\n"
    "  X  Y     next / previous camera\n"
    "  A  S     slower / faster, 10% a step (10% to 300%), held: every frame\n"
    "  Space    pause / go on\n"
    "  Left Right  paused: one frame (1/30 s) back / forward\n"
    "  Home     back to the start of the scene's time range\n"
    "  F1       info overlay on / off\n"
    "  F12      screenshot quilm-NNNN.png in the working directory\n"
    "  Escape   quit\n"
    "keys in the demo:\n"
    "  X  Y     music forward / back one pattern order\n"
    "  F1  F12  info overlay, screenshot (as in the viewer)\n"
    "  Escape   quit\n";

// A capture path whose extension names nothing we write is a mistake to catch before the run.
bool captureTargetAccepted(const CommandLine& line, char* error, int errorBytes) {
    if (!line.capturePath) return true;
    struct stat info;
    const bool folder = stat(line.capturePath, &info) == 0 && S_ISDIR(info.st_mode);
    if (captureTargetOf(line.capturePath, folder) != CaptureTarget::refused) return true;
    std::snprintf(error, size_t(errorBytes),
                  "--capture %s: not a video container this player writes (%s) nor a folder",
                  line.capturePath, kCaptureVideoExtensions);
    return false;
}

} // namespace

int main(int argc, char** argv) {
    static CommandLine line; // holds the path buffer: too large for comfort on the stack
    char error[kParseErrorBytes];
    if (!parseCommandLine(argc, argv, line, error, sizeof error) ||
        !captureTargetAccepted(line, error, sizeof error)) {
        std::fprintf(stderr, "quilm: %s\n%s", error, kUsageText);
        return 2;
    }
    if (line.help) {
        std::fputs(kUsageText, stdout);
        std::fputs(kKeysText, stdout);
        return 0;
    }
    if (line.version) {
        std::printf("quilm %s\n", QUILM_VERSION);
        return 0;
    }
    return runPlayer(line);
}
