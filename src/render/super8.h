// The Super8 film effect drawn over a finished frame: lamp flicker, scratches, a shaking
// frame, dirt, film edges and the black mask (the letterbox bars when wide screen is on).
// It does not clear, swap or restore state: later drawing must set its own matrices.
// The effect holds references to its four textures; destroySuper8 gives them back.
#pragma once

#include "render/super8_model.h"

// Fills the tables and loads "s8_drek.png", "s8_border.png", "s8_sign.png" and "s8_lamp.jpg"
// from the current directory. A missing image is tolerated: its layer is skipped when drawn.
// Null only when the record itself cannot be allocated. Needs the GL context current.
Super8Effect* createSuper8();

// The program keeps its one effect until exit; tests and tools give theirs back here.
void destroySuper8(Super8Effect* effect);

// Draws the effect at effect->time over the current frame, sized by setupOptions. Leaves:
// projection identity, modelview holding the frame motion, matrix mode modelview, depth test,
// lighting, blending and texturing off, colour (0, 0, 0, 0), blend function (source alpha,
// one minus source alpha), the border texture bound with its t wrap clamped to the edge.
void drawSuper8(Super8Effect* effect);
