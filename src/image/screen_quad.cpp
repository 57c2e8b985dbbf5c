#include "image/screen_quad.h"

#include "image/texture.h"

#include <GL/gl.h>

void drawScreenQuad(Texture* texture, int32_t stencilRef, float x, float y, float width,
                    float height, float alpha, int32_t blendMode) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    if (stencilRef < 0 || stencilRef > 254) {
        glDisable(GL_STENCIL_TEST);
    } else {
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(GL_EQUAL, stencilRef, 255);
        glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP);
    }
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glColor4f(1.0f, 1.0f, 1.0f, alpha);
    if (blendMode == 0)
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    else if (blendMode == 1)
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);

    if (texture) glEnable(GL_TEXTURE_2D);
    bindTexture(texture);
    // t = 0 is the image's top row, laid along the top edge.
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(x, y);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(x, y + height);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(x + width, y + height);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(x + width, y);
    glEnd();

    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}
