// The player's entry: parses the command line, then hands over to the player.
#include "app/options_parse.h"
#include "app/player.h"

#include <cstdio>

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

} // namespace

int main(int argc, char** argv) {
    static CommandLine line; // holds the path buffer: too large for comfort on the stack
    char error[kParseErrorBytes];
    if (!parseCommandLine(argc, argv, line, error, sizeof error)) {
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
