// Stand-ins for the start-up and frame calls whose subsystems are not built yet: each keeps
// its place in the player's start-up order and says what replaces it. No GL state is left
// changed except by pendingRunDemoFrame, which clears the frame to black.
#pragma once

#include <zlib.h>

#include <cstdint>

// Replaced by loadGLExtensions (extension entry points).
void pendingLoadExtensions();
// Replaced by allocVertexMemory (the shared vertex buffer and its client arrays).
void pendingAllocVertexMemory(int32_t capacity);
// Replaced by releaseVertexMemory.
void pendingReleaseVertexMemory();
// Replaced by the Super8 effect's construction; false: no effect object.
bool pendingCreateSuper8();
// Replaced by createScene + loadScene; false (no message) until scenes load.
bool pendingLoadViewerScene(gzFile file);
// Replaced by destroyScene.
void pendingDestroyViewerScene();
// Replaced by the scene's camera count (the viewer keys' bound).
int pendingViewerCameraCount();
// Replaced by setCamera(scene, index).
void pendingSetViewerCamera(int index);
// Replaced by generateHidetrack for every camera and its .hid file.
void pendingGenerateHidetrack(const char* scenePath);
// Replaced by loadHidetrack; false: the file was refused.
bool pendingLoadHidetrack(gzFile file);
// Replaced by clearToBackground, setSuper8Time and renderScene.
void pendingRunViewerFrame(float sceneSeconds);
// Replaced by loadDemoData (loading screen, scenes, logos, music); true until then.
bool pendingLoadDemoData();
// Replaced by seekMusicForward / seekMusicBack.
void pendingSeekMusicForward();
void pendingSeekMusicBack();
// Replaced by runDemoFrame; clears the frame to black until then.
void pendingRunDemoFrame();
