#include "scene/camera_light.h"

#include "scene/keyframes.h"

#include <cstring>

void updateCamera(Camera& camera, float t) {
    if (camera.track == nullptr) return;
    float pose[13];
    if (evaluateKeyFloats(*camera.track, t, KeyFilter::transformOnly, 13, pose) ==
        PoseResult::missing) {
        const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        std::memcpy(camera.rotation, identity, sizeof camera.rotation);
        camera.position[0] = camera.position[1] = camera.position[2] = 0.0f;
        return;
    }
    std::memcpy(camera.rotation, pose, sizeof camera.rotation);
    std::memcpy(camera.position, pose + 9, sizeof camera.position);
    camera.fov = pose[12];
}

void updateLight(Light& light, float t) {
    if (light.track == nullptr) return;
    float values[7];
    if (evaluateKeyFloats(*light.track, t, KeyFilter::anyButHold, 7, values) == PoseResult::missing)
        return;
    std::memcpy(light.position, values, 3 * sizeof(float));
    std::memcpy(light.color, values + 3, 3 * sizeof(float));
    light.range = values[6];
}

float lightAttenuation(float range) {
    return range == 0.0f ? 0.0f : 1.0f / (range * range);
}

float verticalFovDegrees(float fovRadians, float aspect) {
    return fovRadians * 180.0f / aspect / 3.1415927f;
}
