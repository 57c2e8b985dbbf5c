// The player's entry: parses the command line, then hands over to the player.
#include "app/options_parse.h"
#include "app/player.h"

#include <cstdio>

int main(int argc, char** argv) {
    static CommandLine line; // holds the path buffer: too large for comfort on the stack
    char error[kParseErrorBytes];
    if (!parseCommandLine(argc, argv, line, error, sizeof error)) {
        std::fprintf(stderr, "quilm: %s\n%s", error, kUsageText);
        return 2;
    }
    if (line.help) {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (line.version) {
        std::printf("quilm %s\n", QUILM_VERSION);
        return 0;
    }
    return runPlayer(line);
}
