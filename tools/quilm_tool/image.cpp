// quilm-tool image IN OUT.png: loads IN exactly as the engine does (console on, every log
// line) and writes the pixels it would upload as an RGBA PNG. No GL context is needed.
#include "quilm_tool/commands.h"

#include "image/png_writer.h"
#include "image/texture.h"
#include "platform/options.h"

#include <unistd.h>

#include <cstdio>
#include <string>

int runImageCommand(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quilm-tool image IN OUT.png\n");
        return 2;
    }
    const std::string in = argv[1];
    std::string out = argv[2];

    // The engine opens images by bare name from the current directory (the data directory
    // in demo mode), so the tool works from IN's directory; OUT stays relative to the caller.
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) {
        std::fprintf(stderr, "quilm-tool image: cannot read the current directory\n");
        return 1;
    }
    if (out.empty() || out[0] != '/') out = std::string(cwd) + "/" + out;
    const size_t slash = in.find_last_of("/\\");
    if (slash != std::string::npos) {
        const std::string dir = slash == 0 ? "/" : in.substr(0, slash);
        if (chdir(dir.c_str()) != 0) {
            std::fprintf(stderr, "quilm-tool image: cannot enter %s\n", dir.c_str());
            return 1;
        }
    }

    setupOptions.consoleEnabled = true;
    Texture* texture = loadTexture(in.c_str(), false, false);
    if (chdir(cwd) != 0) {
        std::fprintf(stderr, "quilm-tool image: cannot return to %s\n", cwd);
        releaseTexture(texture);
        return 1;
    }
    if (!texture) {
        std::fprintf(stderr, "quilm-tool image: cannot load %s\n", in.c_str());
        return 1;
    }
    const bool written =
        writePngRgba(out.c_str(), texture->width, texture->height, texture->pixels);
    releaseTexture(texture);
    if (!written) {
        std::fprintf(stderr, "quilm-tool image: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
