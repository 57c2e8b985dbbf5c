// Weak fallbacks: a subcommand's own file replaces its entry here with a strong definition.
#include "quilm_tool/commands.h"

#include <cstdio>

namespace {
int notBuilt(const char* name) {
    std::fprintf(stderr, "quilm-tool: '%s' is not available in this build\n", name);
    return 1;
}
} // namespace

__attribute__((weak)) int runSceneCommand(int, char**) {
    return notBuilt("scene");
}
__attribute__((weak)) int runQw2Command(int, char**) {
    return notBuilt("qw2");
}
__attribute__((weak)) int runImageCommand(int, char**) {
    return notBuilt("image");
}
__attribute__((weak)) int runMakeSampleCommand(int, char**) {
    return notBuilt("make-sample");
}
