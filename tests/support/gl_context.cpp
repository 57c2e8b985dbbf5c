#include "support/gl_context.h"

#include <SDL.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstdlib>

namespace {
SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
} // namespace

bool useTestGLContext(int width, int height) {
    if (!window) {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            std::fprintf(stderr, "test GL context: %s\n", SDL_GetError());
            return false;
        }
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        window =
            SDL_CreateWindow("test", 0, 0, width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (window) context = SDL_GL_CreateContext(window);
        if (!window || !context) {
            std::fprintf(stderr, "test GL context: %s\n", SDL_GetError());
            return false;
        }
    }
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    if (w != width || h != height) SDL_SetWindowSize(window, width, height);
    SDL_GL_MakeCurrent(window, context);
    glViewport(0, 0, width, height);
    return true;
}

void readTestPixel(int x, int y, unsigned char rgba[4]) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
}

namespace {

struct FramebufferCalls {
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;

    template <typename T> static void fetch(T& pointer, const char* name) {
        pointer = reinterpret_cast<T>(SDL_GL_GetProcAddress(name));
    }
    bool load() {
        fetch(genFramebuffers, "glGenFramebuffers");
        fetch(bindFramebuffer, "glBindFramebuffer");
        fetch(deleteFramebuffers, "glDeleteFramebuffers");
        fetch(genRenderbuffers, "glGenRenderbuffers");
        fetch(bindRenderbuffer, "glBindRenderbuffer");
        fetch(deleteRenderbuffers, "glDeleteRenderbuffers");
        fetch(renderbufferStorage, "glRenderbufferStorage");
        fetch(framebufferRenderbuffer, "glFramebufferRenderbuffer");
        fetch(checkFramebufferStatus, "glCheckFramebufferStatus");
        return genFramebuffers && bindFramebuffer && deleteFramebuffers && genRenderbuffers &&
               bindRenderbuffer && deleteRenderbuffers && renderbufferStorage &&
               framebufferRenderbuffer && checkFramebufferStatus;
    }
};

FramebufferCalls fb;

} // namespace

bool TestFramebuffer::create(int width, int height, bool withDepthStencil) {
    if (!fb.load()) {
        std::fprintf(stderr, "test framebuffer: no framebuffer objects\n");
        return false;
    }
    fb.genFramebuffers(1, &framebuffer);
    fb.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    fb.genRenderbuffers(1, &colour);
    fb.bindRenderbuffer(GL_RENDERBUFFER, colour);
    fb.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    fb.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    if (withDepthStencil) {
        fb.genRenderbuffers(1, &depthStencil);
        fb.bindRenderbuffer(GL_RENDERBUFFER, depthStencil);
        fb.renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
        fb.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                   depthStencil);
    }
    glViewport(0, 0, width, height);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    return fb.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

void TestFramebuffer::destroy() {
    if (!framebuffer) return;
    fb.bindFramebuffer(GL_FRAMEBUFFER, 0);
    fb.deleteFramebuffers(1, &framebuffer);
    fb.deleteRenderbuffers(1, &colour);
    if (depthStencil) fb.deleteRenderbuffers(1, &depthStencil);
    framebuffer = colour = depthStencil = 0;
    glDrawBuffer(GL_BACK);
    glReadBuffer(GL_BACK);
}
