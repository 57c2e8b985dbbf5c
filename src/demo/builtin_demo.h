// The built-in demo: six scenes, five logos, the tune and 52 cues, compiled in so the player
// plays without a manifest. make-data writes the same demo as "demo.toml" from this, and
// the content tools name their scenes and logos by these lists.
#pragma once

#include "demo/demo_manifest.h"

// In file order; the cue table names its scenes and logos by these.
enum DemoScene { Landschaft, Fluss, Kraniche, Eiche, Feld, Holzvogel, kDemoSceneCount };
enum DemoLogo { LogoQuilm, Logo4, Logo3, Logo2, Logo1, kDemoLogoCount };

constexpr const char* kDemoMusicFile = "tune.mo3";
constexpr const char* kDemoLoadingFile = "loading.jpg";
extern const char* const kDemoSceneFiles[kDemoSceneCount];
extern const char* const kDemoLogoFiles[kDemoLogoCount];

constexpr int kCueCount = 52;
extern const Cue kCues[kCueCount];

// The demo is over from order 32, row 63 up to order 99, row 99.
constexpr int32_t kDemoEndFirst = 32 * 256 + 63;
constexpr int32_t kDemoEndLast = 99 * 256 + 99;
