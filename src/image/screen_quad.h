// Textured screen quads: draws a Texture as a rectangle in normalised device coordinates
// ((-1, -1, 2, 2) is the whole window), independent of any camera. Sets the GL state it needs
// and leaves it as documented below; owns nothing. Needs the GL context current.
#pragma once

#include <cstdint>

struct Texture;

// blendMode 0: alpha blending, 1: additive, anything else keeps the current blend function.
// stencilRef 0..254 draws only where the stencil value equals it; a negative value or one
// above 254 turns the stencil test off. alpha multiplies the texture's own alpha.
// Afterwards: both matrices restored, matrix mode GL_PROJECTION, texturing, blending, depth
// test, lighting and culling off, the stencil test as chosen, colour (1, 1, 1, alpha).
// A null texture draws the rectangle untextured.
void drawScreenQuad(Texture* texture, int32_t stencilRef, float x, float y, float width,
                    float height, float alpha, int32_t blendMode);
