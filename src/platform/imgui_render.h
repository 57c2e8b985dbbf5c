// Private to the platform's ImGui overlays (the F1 panel and notices, the F2 timeline): renders
// the current ImGui frame with the OpenGL 1 renderer, leaving every GL state it touches as found.
#pragma once

void renderImGuiKeepingGlState();
