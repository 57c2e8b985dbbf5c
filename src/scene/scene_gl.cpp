// The one OpenGL step of the scene model, kept apart so the rest stays testable without a
// context.
#include "scene/scene.h"

#include <GL/gl.h>

void clearToBackground(const Scene& scene) {
    glClearColor(scene.backgroundColor[0], scene.backgroundColor[1], scene.backgroundColor[2],
                 0.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}
