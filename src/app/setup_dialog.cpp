#include "app/setup_dialog.h"

#include "diag/console.h"

#include <GL/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl2.h>

namespace {

// Dialog units of the original template to pixels: wide enough for ImGui's 13-pixel font.
constexpr float kUnitX = 2.0f;
constexpr float kUnitY = 1.75f;
constexpr int kDialogWidthUnits = 142;
constexpr int kDialogHeightUnits = 137;

const char* const kResolutionNames[] = {"640x480", "1024x768"};

void recordRect(SetupDialogSession& s, int controlId) {
    if (s.rectCount >= kSetupDialogRects) return;
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    s.rects[s.rectCount++] = {controlId, min.x, min.y, max.x - min.x, max.y - min.y};
}

void placeAt(int x, int y) {
    ImGui::SetCursorPos(ImVec2(x * kUnitX, y * kUnitY));
}

void checkBox(SetupDialogSession& s, int id, const char* text, int x, int y, bool& value) {
    placeAt(x, y);
    ImGui::PushID(id);
    ImGui::Checkbox(text, &value);
    ImGui::PopID();
    recordRect(s, id);
}

bool pushButton(SetupDialogSession& s, int id, const char* text, int x, int y, int w, int h) {
    placeAt(x, y);
    const bool pressed = ImGui::Button(text, ImVec2(w * kUnitX, h * kUnitY));
    recordRect(s, id);
    return pressed;
}

void drawControls(SetupDialogSession& s) {
    SetupDialogControls& c = s.controls;
    placeAt(5, 5);
    ImGui::SetNextItemWidth(129 * kUnitX);
    const char* preview =
        c.resolution >= 0 && c.resolution < 2 ? kResolutionNames[c.resolution] : "";
    if (ImGui::BeginCombo("##resolution", preview)) {
        for (int i = 0; i < 2; ++i) {
            if (ImGui::Selectable(kResolutionNames[i], c.resolution == i)) c.resolution = i;
            recordRect(s, kControlResolutionEntry0 + i);
        }
        ImGui::EndCombo();
    }
    // The combo's own rectangle is the item just closed.
    recordRect(s, kControlResolution);
    placeAt(5, 20);
    ImGui::TextUnformatted("Resolution");
    checkBox(s, kControlFullscreen, "Fullscreen", 5, 30, c.fullscreen);
    checkBox(s, kControlDisableConsole, "Disable Console (for WinMe/9x)", 5, 40, c.disableConsole);
    checkBox(s, kControlDisableExtensions, "Disable GL Extensions (for TNT)", 5, 50,
             c.disableExtensions);
    checkBox(s, kControlLowMemory, "Low Memory (for <256MB Ram)", 5, 60, c.lowMemory);
    checkBox(s, kControlAlwaysInFront, "Always In Front", 5, 70, c.alwaysInFront);
    checkBox(s, kControlWideScreen, "16:9 Format", 5, 80, c.wideScreen);
    checkBox(s, kControlUseDxt, "Use DXT Texture Compression", 5, 89, c.useDxt);
    // "Make Hidetrack" (5, 101) is part of the controls but is never drawn.
    if (pushButton(s, kControlRun, "Run!", 5, 116, 75, 14)) s.result = SetupDialogResult::run;
    if (pushButton(s, kControlCancel, "Cancel", 85, 116, 50, 14))
        s.result = SetupDialogResult::cancel;
}

void setImGuiKey(SDL_Scancode scancode, bool down) {
    ImGuiIO& io = ImGui::GetIO();
    if (scancode >= 0 && scancode < IM_ARRAYSIZE(io.KeysDown)) io.KeysDown[scancode] = down;
}

// Returns true when this event must end the batch of the current frame.
bool takeEvent(SetupDialogSession& s, const SDL_Event& e) {
    switch (e.type) {
    case SDL_QUIT:
        s.result = SetupDialogResult::cancel;
        return true;
    case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) s.result = SetupDialogResult::cancel;
        return false;
    case SDL_MOUSEMOTION:
        s.mouseX = static_cast<float>(e.motion.x);
        s.mouseY = static_cast<float>(e.motion.y);
        return false;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT) return false;
        s.mouseX = static_cast<float>(e.button.x);
        s.mouseY = static_cast<float>(e.button.y);
        s.mouseHeld = e.type == SDL_MOUSEBUTTONDOWN;
        if (s.mouseHeld) s.mousePressedThisFrame = true;
        return true;
    case SDL_KEYDOWN:
        if (e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) {
            s.result = SetupDialogResult::run;
            return true;
        }
        if (e.key.keysym.sym == SDLK_ESCAPE) {
            s.result = SetupDialogResult::cancel;
            return true;
        }
        setImGuiKey(e.key.keysym.scancode, true);
        return true;
    case SDL_KEYUP:
        setImGuiKey(e.key.keysym.scancode, false);
        return true;
    default:
        return false;
    }
}

} // namespace

void initSetupDialog(SetupDialogControls& c) {
    c = SetupDialogControls{};
    c.resolution = 1;
    c.fullscreen = true;
    c.disableConsole = true;
    c.alwaysInFront = true;
    c.wideScreen = true;
    c.useDxt = true;
}

void readSetupDialog(const SetupDialogControls& c, SetupOptions& o) {
    o.fullscreen = c.fullscreen;
    o.consoleEnabled = !c.disableConsole;
    o.useExtensions = !c.disableExtensions;
    o.makeHidetrack = c.makeHidetrack;
    o.lowMemory = c.lowMemory;
    o.alwaysInFront = c.alwaysInFront;
    o.wideScreen = c.wideScreen;
    o.useDxt = c.useDxt && o.useExtensions;
    if (c.resolution == 1) {
        o.width = 1024;
        o.height = 768;
    } else {
        o.width = 640;
        o.height = 480;
    }
}

bool beginSetupDialog(SetupDialogSession& s) {
    s = SetupDialogSession{};
    initSetupDialog(s.controls);
    PlatformWindowRequest request;
    request.title = "Quilm Demo Theater";
    request.width = static_cast<int>(kDialogWidthUnits * kUnitX);
    request.height = static_cast<int>(kDialogHeightUnits * kUnitY);
    request.resizable = false;
    if (!createPlatformWindow(s.window, request)) return false;

    IMGUI_CHECKVERSION();
    s.imgui = ImGui::CreateContext();
    ImGui::SetCurrentContext(s.imgui);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr; // nothing is saved between runs
    io.LogFilename = nullptr;
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    io.KeyMap[ImGuiKey_Tab] = SDL_SCANCODE_TAB;
    io.KeyMap[ImGuiKey_LeftArrow] = SDL_SCANCODE_LEFT;
    io.KeyMap[ImGuiKey_RightArrow] = SDL_SCANCODE_RIGHT;
    io.KeyMap[ImGuiKey_UpArrow] = SDL_SCANCODE_UP;
    io.KeyMap[ImGuiKey_DownArrow] = SDL_SCANCODE_DOWN;
    io.KeyMap[ImGuiKey_Space] = SDL_SCANCODE_SPACE;
    ImGui::StyleColorsClassic();
    ImGui::GetStyle().FramePadding.y = 1.0f;
    ImGui::GetStyle().WindowRounding = 0.0f;
    ImGui_ImplOpenGL2_Init();
    return true;
}

SetupDialogResult stepSetupDialog(SetupDialogSession& s) {
    ImGui::SetCurrentContext(s.imgui);
    SDL_GL_MakeCurrent(s.window.window, s.window.context);
    SDL_Event e;
    while (s.result == SetupDialogResult::running && SDL_PollEvent(&e))
        if (takeEvent(s, e)) break;
    if (s.result != SetupDialogResult::running) return s.result;

    ImGuiIO& io = ImGui::GetIO();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window.window, &w, &h);
    io.DisplaySize = ImVec2(static_cast<float>(w), static_cast<float>(h));
    io.DeltaTime = 1.0f / 60.0f;
    io.MousePos = s.mouseX >= 0.0f ? ImVec2(s.mouseX, s.mouseY) : ImVec2(-FLT_MAX, -FLT_MAX);
    io.MouseDown[0] = s.mouseHeld || s.mousePressedThisFrame;
    s.mousePressedThisFrame = false;

    ImGui_ImplOpenGL2_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(io.DisplaySize);
    s.rectCount = 0;
    ImGui::Begin("Quilm Demo Theater", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    drawControls(s);
    ImGui::End();
    ImGui::Render();

    glViewport(0, 0, w, h);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    swapPlatformWindow(s.window);
    return s.result;
}

void endSetupDialog(SetupDialogSession& s) {
    readSetupDialog(s.controls, setupOptions);
    if (s.imgui) {
        ImGui::SetCurrentContext(s.imgui);
        SDL_GL_MakeCurrent(s.window.window, s.window.context);
        ImGui_ImplOpenGL2_Shutdown();
        ImGui::DestroyContext(s.imgui);
        s.imgui = nullptr;
    }
    destroyPlatformWindow(s.window);
    // Events meant for the dialog (a held Enter, its window's close) must not reach the player.
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
}

bool findSetupDialogRect(const SetupDialogSession& s, int controlId, SetupDialogRect& rect) {
    for (int i = 0; i < s.rectCount; ++i)
        if (s.rects[i].controlId == controlId) {
            rect = s.rects[i];
            return true;
        }
    return false;
}

bool showSetupDialog() {
    SetupDialogSession session;
    if (!beginSetupDialog(session)) return false;
    SetupDialogResult result = SetupDialogResult::running;
    while ((result = stepSetupDialog(session)) == SetupDialogResult::running)
        SDL_WaitEventTimeout(nullptr, 100); // idle until something happens
    endSetupDialog(session);
    return result == SetupDialogResult::run;
}
