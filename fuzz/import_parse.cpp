// Fuzz target: Assimp's own readers (OBJ, STL, PLY, glTF, binary glTF, FBX, Collada, 3DS) on the
// bytes, each parse in a forked child as quilm-tool import runs it, so that a crash or a hang
// of the library ends as a refused model and never as a finding here. What this target holds:
// the containment itself and the parent's side, which must decode whatever a child sends or
// refuse it. The first byte picks the format. Slow by nature (a process per input); the
// conversion is fuzzed fast, without Assimp, by the import target.
#include "import/scene_import.h"

#include <cstddef>
#include <cstdint>

namespace {

// The first four as the seeds of the earlier target name them.
const char* const kHints[] = {"obj", "stl", "gltf", "glb", "ply", "fbx", "dae", "3ds"};
constexpr size_t kMaxInput = 1 << 16;
constexpr float kChildSeconds = 5.0f;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > kMaxInput) return 0;
    const char* hint = kHints[data[0] % (sizeof kHints / sizeof kHints[0])];
    sceneimport::ImportOptions options;
    options.maxKeys = 16;
    sceneimport::ImportResult result;
    const bool parsed = sceneimport::parseInChild(
        [&](sceneimport::ImportResult& out) {
            sceneimport::importMemory(data + 1, size - 1, hint, options, out);
        },
        kChildSeconds, result);
    if (parsed && result.error.empty() && scenewriter::writeScene(result.scene).size() < 302)
        __builtin_trap(); // a written scene always has its header
    return 0;
}
