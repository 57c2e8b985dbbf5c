#include "scene/camera_light_gl.h"

#include "platform/options.h"
#include "scene/camera_light.h"

#include <GL/gl.h>
#include <GL/glu.h>

namespace {
// Nine lights, numbers 0 to 8: an implementation offering only eight ignores the ninth.
constexpr int kHighestLightIndex = 8;
} // namespace

void applyCamera(Camera& camera, float t) {
    if (camera.track != nullptr) updateCamera(camera, t);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // A window minimised to zero height must not turn the aspect into infinity.
    const int height = setupOptions.height > 0 ? setupOptions.height : 1;
    const float aspect = float(setupOptions.width) / float(height);
    gluPerspective(verticalFovDegrees(camera.fov, aspect), aspect, 1.0, 20000.0);

    const float* r = camera.rotation;
    const float view[16] = {r[0], r[3], r[6], 0, r[1], r[4], r[7], 0,
                            r[2], r[5], r[8], 0, 0,    0,    0,    1};
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(view);
    glTranslatef(-camera.position[0], -camera.position[1], -camera.position[2]);
}

void applyLight(Light& light, float t) {
    if (light.glIndex > kHighestLightIndex || light.glIndex < 0 || light.track == nullptr) return;
    updateLight(light, t);
    const GLenum number = GLenum(GL_LIGHT0 + light.glIndex);
    light.color[3] = 1.0f;
    glLightfv(number, GL_DIFFUSE, light.color);
    light.position[3] = 1.0f;
    glLightfv(number, GL_POSITION, light.position);
    glLightfv(number, GL_SPECULAR, light.color);
    glLightf(number, GL_QUADRATIC_ATTENUATION, lightAttenuation(light.range));
    glEnable(number);
}
