#include "platform/info_overlay.h"

#include <GL/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl2.h>

#include <cfloat>
#include <cstdarg>
#include <cstdio>

namespace {

ImGuiContext* overlay = nullptr;
bool drawing = false;

} // namespace

bool beginInfoOverlay(int width, int height, float seconds) {
    if (width <= 0 || height <= 0) return false;
    if (!overlay) {
        overlay = ImGui::CreateContext();
        if (!overlay) return false;
        ImGui::SetCurrentContext(overlay);
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.LogFilename = nullptr;
        ImGui::StyleColorsDark();
        ImGui_ImplOpenGL2_Init();
    }
    ImGui::SetCurrentContext(overlay);
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(float(width), float(height));
    io.DeltaTime = seconds > 0.0f ? seconds : 1.0f / 60.0f;
    io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    ImGui_ImplOpenGL2_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(8.0f, 8.0f));
    ImGui::SetNextWindowBgAlpha(0.6f);
    ImGui::Begin("info", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_AlwaysAutoResize |
                     ImGuiWindowFlags_NoInputs | ImGuiWindowFlags_NoSavedSettings |
                     ImGuiWindowFlags_NoFocusOnAppearing | ImGuiWindowFlags_NoNav);
    drawing = true;
    return true;
}

void infoOverlayLine(const char* format, ...) {
    if (!drawing) return;
    char line[kInfoOverlayLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    ImGui::TextUnformatted(line);
}

void infoOverlayHeading(const char* text) {
    if (!drawing) return;
    ImGui::TextColored(ImVec4(1.0f, 0.85f, 0.4f, 1.0f), "%s", text);
}

void endInfoOverlay() {
    if (!drawing) return;
    drawing = false;
    ImGui::End();
    ImGui::Render();
    // The renderer saves some state itself but leaves the client arrays off and their pointers
    // moved: the shared vertex memory relies on both, so everything is saved around it.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    glBindTexture(GL_TEXTURE_2D, GLuint(texture));
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}

void releaseInfoOverlay() {
    if (!overlay) return;
    ImGui::SetCurrentContext(overlay);
    ImGui_ImplOpenGL2_Shutdown();
    ImGui::DestroyContext(overlay);
    overlay = nullptr;
    drawing = false;
}
