// quilm-tool: the companion for people who make and check demo content.
#include "quilm_tool/commands.h"

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv); // argv[0] is the subcommand's name
    const char* summary;
};

// One row per subcommand; keep them in the order shown by --help.
const Command commands[] = {
    {"scene", runSceneCommand, "scene FILE [--at T1,T2,...] [--camera N] [--hid HIDFILE]"},
    {"qw2", runQw2Command,
     "qw2 decode IN.qw2 OUT.png [--max-pixels N] | qw2 encode IN OUT.qw2 [--filter 0-3] [--bpp B] "
     "[--alpha]"},
    {"image", runImageCommand, "image IN OUT.png"},
    {"make-sample", runMakeSampleCommand, "make-sample DIR"},
    {"make-data", runMakeDataCommand, "make-data DIR [--no-hidetracks] [--hid-size WxH]"},
    {"import", runImportCommand,
     "import IN OUT.q3d [--fps F] [--scale S] [--gzip] [--max-faces N] [--max-bytes N] "
     "[--max-seconds S]"},
};

void printUsage(FILE* out) {
    std::fprintf(
        out,
        "usage: quilm-tool COMMAND [ARGS...]\n       quilm-tool --help | --version\n\ncommands:\n");
    for (const Command& c : commands)
        if (c.name) std::fprintf(out, "  %s\n", c.summary);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quilm-tool %s\n", QUILM_VERSION);
        return 0;
    }
    for (const Command& c : commands)
        if (c.name && std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "quilm-tool: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return 2;
}
