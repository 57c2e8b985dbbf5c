#include "app/pending.h"

#include <GL/gl.h>

void pendingLoadExtensions() {}
void pendingAllocVertexMemory(int32_t) {}
void pendingReleaseVertexMemory() {}
bool pendingCreateSuper8() {
    return false;
}
bool pendingLoadViewerScene(gzFile) {
    return false;
}
void pendingDestroyViewerScene() {}
int pendingViewerCameraCount() {
    return 0;
}
void pendingSetViewerCamera(int) {}
void pendingGenerateHidetrack(const char*) {}
bool pendingLoadHidetrack(gzFile) {
    return false;
}
void pendingRunViewerFrame(float) {}
bool pendingLoadDemoData() {
    return true;
}
void pendingSeekMusicForward() {}
void pendingSeekMusicBack() {}

void pendingRunDemoFrame() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}
