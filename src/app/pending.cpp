#include "app/pending.h"

#include <GL/gl.h>

bool pendingLoadDemoData() {
    return true;
}
void pendingSeekMusicForward() {}
void pendingSeekMusicBack() {}

void pendingRunDemoFrame() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}
