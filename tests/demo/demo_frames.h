// A headless GL test that plays demo frames in-process: the clock and the music step 40 ms a
// frame, and the demo's data is given back after each test.
#pragma once

#include "render/render_fixture.h"

class DemoFrameTest : public rendertest::RenderTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // One demo frame, finished, then the clock moves on; false once the demo is over.
    static bool frame();
};
