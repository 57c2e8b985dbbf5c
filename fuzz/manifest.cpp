// Fuzz target: any text through the demo manifest's reader, then the position check against a
// small module layout and the writer, whose output must read back.
#include "demo/demo_manifest.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DemoManifest manifest, again;
    static char text[4096];
    text[0] = '\0';
    ManifestErrors errors{text, int(sizeof text)};
    if (!parseDemoManifest(reinterpret_cast<const char*>(data), size, "fuzz.toml", manifest,
                           errors))
        return 0;
    MusicShape music;
    music.orders = 3;
    music.rows[0] = music.rows[1] = music.rows[2] = 64;
    checkManifestPositions(manifest, music, "fuzz.toml", errors);
    // What the writer makes of a manifest that read must read again, to the same cue count.
    const std::string written = formatDemoManifest(manifest);
    ManifestErrors rereadErrors{text, int(sizeof text)};
    text[0] = '\0';
    if (!parseDemoManifest(written.data(), written.size(), "again.toml", again, rereadErrors) ||
        again.cueCount != manifest.cueCount || again.sceneCount != manifest.sceneCount)
        std::abort();
    return 0;
}
