// Fuzz target: the first byte picks a format (OBJ, STL, glTF, binary glTF), the rest is the
// model, read from memory through Assimp and the importer into scene bytes. External pictures
// are never read from memory imports, so no file is touched. PLY is left out: Assimp's own PLY
// reader loops or aborts on damaged headers within seconds of fuzzing, which says nothing of
// this code (the two cases it found are refused before Assimp and tested end to end).
#include "support/scene_import.h"

#include <cstddef>
#include <cstdint>

namespace {

const char* const kHints[] = {"obj", "stl", "gltf", "glb"};
// Bounds that keep one input fast: few samples however long an animation claims to run.
constexpr int kFuzzKeys = 16;
constexpr size_t kMaxInput = 1 << 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > kMaxInput) return 0;
    const char* hint = kHints[data[0] % (sizeof kHints / sizeof kHints[0])];
    sceneimport::ImportOptions options;
    options.maxKeys = kFuzzKeys;
    sceneimport::ImportResult result;
    if (sceneimport::importMemory(data + 1, size - 1, hint, options, result)) {
        const std::vector<uint8_t> bytes = scenewriter::writeScene(result.scene);
        if (bytes.size() < 302) __builtin_trap(); // a written scene always has its header
    }
    return 0;
}
