// Stand-ins for the start-up and frame calls whose subsystems are not built yet: each keeps
// its place in the player's start-up order and says what replaces it. No GL state is left
// changed except by pendingRunDemoFrame, which clears the frame to black.
#pragma once

struct Scene;

// Replaced by loadDemoData (loading screen, scenes, logos, music); true until then.
bool pendingLoadDemoData();
// Replaced by seekMusicForward / seekMusicBack.
void pendingSeekMusicForward();
void pendingSeekMusicBack();
// Replaced by runDemoFrame; clears the frame to black until then.
void pendingRunDemoFrame();
