// Private to the platform's ImGui overlays (the F1 panel and notices, the F2 timeline): each has
// a UI context of its own, made current on use and given back with the GL context still there.
#pragma once

struct ImGuiContext;

// Makes the context current, creating it (and its OpenGL 1 renderer) on first use; false when
// the library cannot.
bool useImGuiContext(ImGuiContext*& context);
// Frees it and its font texture; nothing when it was never made.
void releaseImGuiContext(ImGuiContext*& context);
// Renders the current ImGui frame, leaving every GL state it touches as found.
void renderImGuiKeepingGlState();
