#include "demo/demo_frames.h"

#include "demo/demo_loading.h"
#include "demo/demo_script.h"
#include "demo/music_time.h"
#include "platform/clock.h"
#include "platform/music.h"

#include <GL/gl.h>

void DemoFrameTest::SetUp() {
    RenderTest::SetUp();
    useFixedStepClock(40000);
    useMusicLockStep(40000);
}

void DemoFrameTest::TearDown() {
    releaseDemoData();
    closeMusicOutput();
    useMusicLockStep(0);
    useRealClock();
    RenderTest::TearDown();
}

bool DemoFrameTest::frame() {
    const bool running = runDemoFrame();
    glFinish();
    advanceFixedStepClock();
    return running;
}
