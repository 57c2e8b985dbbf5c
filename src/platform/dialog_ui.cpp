#include "platform/dialog_ui.h"

#include "platform/sdl_input.h"

#include <GL/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl2.h>
#include <imgui_internal.h>

#include <cfloat>

namespace {

// The dialog whose frame is being drawn (one at a time): the controls record their focus
// order into it and take its focus request.
DialogUi* drawing = nullptr;

ImGuiContext* imguiOf(const DialogUi& ui) {
    return static_cast<ImGuiContext*>(ui.context);
}

SDL_Window* sdlWindowOf(const DialogUi& ui) {
    return static_cast<SDL_Window*>(ui.window.window);
}

DialogUiRect lastItemRect() {
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    return {min.x, min.y, max.x - min.x, max.y - min.y};
}

void setImGuiKey(SDL_Scancode scancode, bool down) {
    ImGuiIO& io = ImGui::GetIO();
    if (scancode >= 0 && scancode < IM_ARRAYSIZE(io.KeysDown)) io.KeysDown[scancode] = down;
}

int focusIndexOf(const DialogUi& ui, ImGuiID item) {
    for (int i = 0; i < ui.focusCount; ++i)
        if (ui.focusItems[i] == item) return i;
    return -1;
}

// Tab and Shift+Tab: the next or previous control of the last frame, wrapping; from no focus
// the first or the last. With the list open, the focus is on the list's own control.
void moveFocus(DialogUi& ui, int step) {
    if (ui.focusCount == 0) return;
    int at = focusIndexOf(ui, GImGui->NavId);
    if (ui.listOpen) at = focusIndexOf(ui, ui.listItem);
    int next = at < 0 ? (step > 0 ? 0 : ui.focusCount - 1) : at + step;
    next = (next + ui.focusCount) % ui.focusCount;
    ui.focusRequest = ui.focusItems[next];
}

// After a focusable control was drawn: note it in the Tab order and give it the focus asked
// for, shown the way keyboard navigation shows it.
void noteFocusable(int controlId) {
    if (!drawing) return;
    const ImGuiID item = ImGui::GetItemID();
    if (drawing->focusCount < kDialogUiFocusables) {
        drawing->focusControls[drawing->focusCount] = controlId;
        drawing->focusItems[drawing->focusCount] = item;
        ++drawing->focusCount;
    }
    if (drawing->focusRequest != 0 && drawing->focusRequest == item) {
        ImGui::SetFocusID(item, ImGui::GetCurrentWindow());
        GImGui->NavDisableHighlight = false;
        GImGui->NavDisableMouseHover = true;
        drawing->focusRequest = 0;
    }
}

// Returns true when this event must end the batch of the current frame.
bool takeEvent(DialogUi& ui, const SDL_Event& e, DialogUiInput& input) {
    switch (e.type) {
    case SDL_QUIT:
        input = DialogUiInput::close;
        return true;
    case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) input = DialogUiInput::close;
        return false;
    case SDL_MOUSEMOTION:
        ui.mouseX = static_cast<float>(e.motion.x);
        ui.mouseY = static_cast<float>(e.motion.y);
        return false;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT) return false;
        ui.mouseX = static_cast<float>(e.button.x);
        ui.mouseY = static_cast<float>(e.button.y);
        ui.mouseHeld = e.type == SDL_MOUSEBUTTONDOWN;
        if (ui.mouseHeld) ui.mousePressedThisFrame = true;
        return true;
    case SDL_KEYDOWN:
        if (e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) {
            if (ui.listOpen)
                ui.enterInList = true;
            else
                input = DialogUiInput::enter;
            return true;
        }
        if (e.key.keysym.sym == SDLK_ESCAPE) {
            if (ui.listOpen)
                ui.escapeInList = true;
            else
                input = DialogUiInput::escape;
            return true;
        }
        if (e.key.keysym.sym == SDLK_TAB) {
            moveFocus(ui, (e.key.keysym.mod & KMOD_SHIFT) ? -1 : 1);
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

bool openDialogUi(DialogUi& ui, const char* title, int width, int height) {
    ui = DialogUi{};
    PlatformWindowRequest request;
    request.title = title;
    request.width = width;
    request.height = height;
    request.resizable = false;
    if (!createPlatformWindow(ui.window, request)) return false;

    IMGUI_CHECKVERSION();
    ImGuiContext* context = ImGui::CreateContext();
    ui.context = context;
    ImGui::SetCurrentContext(context);
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
    // The open list covers the labels below it; they must not show through.
    ImGui::GetStyle().Colors[ImGuiCol_PopupBg].w = 1.0f;
    ImGui::GetStyle().FramePadding.y = 1.0f;
    ImGui::GetStyle().WindowRounding = 0.0f;
    ImGui_ImplOpenGL2_Init();
    return true;
}

DialogUiInput pumpDialogUi(DialogUi& ui) {
    ImGui::SetCurrentContext(imguiOf(ui));
    makePlatformContextCurrent(ui.window);
    DialogUiInput input = DialogUiInput::none;
    SDL_Event e;
    while (input == DialogUiInput::none && SDL_PollEvent(&e))
        if (takeEvent(ui, e, input)) break;
    return input;
}

int dialogUiFocusedControl(const DialogUi& ui) {
    if (!ui.context) return 0;
    ImGui::SetCurrentContext(imguiOf(ui));
    const int at = focusIndexOf(ui, GImGui->NavId);
    return at < 0 ? 0 : ui.focusControls[at];
}

void beginDialogUiFrame(DialogUi& ui, const char* panelName) {
    ImGui::SetCurrentContext(imguiOf(ui));
    ImGuiIO& io = ImGui::GetIO();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(sdlWindowOf(ui), &w, &h);
    io.DisplaySize = ImVec2(static_cast<float>(w), static_cast<float>(h));
    io.DeltaTime = 1.0f / 60.0f;
    io.MousePos = ui.mouseX >= 0.0f ? ImVec2(ui.mouseX, ui.mouseY) : ImVec2(-FLT_MAX, -FLT_MAX);
    io.MouseDown[0] = ui.mouseHeld || ui.mousePressedThisFrame;
    ui.mousePressedThisFrame = false;

    drawing = &ui;
    ui.focusCount = 0;
    ImGui_ImplOpenGL2_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(io.DisplaySize);
    ImGui::Begin(panelName, nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
}

void endDialogUiFrame(DialogUi& ui) {
    // Keys meant for the list are spent whether it was drawn or not.
    ui.enterInList = false;
    ui.escapeInList = false;
    ui.focusRequest = 0; // a control that was not drawn cannot take it later
    drawing = nullptr;
    ImGui::End();
    ImGui::Render();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(sdlWindowOf(ui), &w, &h);
    glViewport(0, 0, w, h);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    swapPlatformWindow(ui.window);
}

void closeDialogUi(DialogUi& ui) {
    if (ui.context) {
        ImGui::SetCurrentContext(imguiOf(ui));
        makePlatformContextCurrent(ui.window);
        ImGui_ImplOpenGL2_Shutdown();
        ImGui::DestroyContext(imguiOf(ui));
        ui.context = nullptr;
    }
    destroyPlatformWindow(ui.window);
    // Events meant for the dialog (a held Enter, its window's close) must not reach the player.
    flushPlatformEvents();
}

void placeDialogUi(float x, float y) {
    ImGui::SetCursorPos(ImVec2(x, y));
}

void dialogUiText(const char* text) {
    ImGui::TextUnformatted(text);
}

void dialogUiCheckbox(int id, const char* text, bool& value, DialogUiRect& rect) {
    ImGui::PushID(id);
    ImGui::Checkbox(text, &value);
    ImGui::PopID();
    rect = lastItemRect();
    noteFocusable(id);
}

bool dialogUiButton(int id, const char* text, float width, float height, DialogUiRect& rect) {
    ImGui::PushID(id);
    const bool pressed = ImGui::Button(text, ImVec2(width, height));
    ImGui::PopID();
    rect = lastItemRect();
    noteFocusable(id);
    return pressed;
}

bool dialogUiCombo(int id, float width, const char* const* entries, int entryCount, int& selected,
                   DialogUiRect& rect, DialogUiRect* entryRects, bool& open) {
    ImGui::PushID(id);
    ImGui::SetNextItemWidth(width);
    const char* preview = selected >= 0 && selected < entryCount ? entries[selected] : "";
    const bool enter = drawing && drawing->enterInList;
    const bool escape = drawing && drawing->escapeInList;
    // Tab leaves the open list closed behind it.
    const bool leave = drawing && drawing->focusRequest != 0;
    bool picked = false;
    open = ImGui::BeginCombo("##list", preview);
    if (open) {
        for (int i = 0; i < entryCount; ++i) {
            bool pick = ImGui::Selectable(entries[i], selected == i);
            // The list opens on the current entry, as the keyboard's starting point.
            if (selected == i) ImGui::SetItemDefaultFocus();
            // Hovered means under the mouse, or focused while the keyboard leads.
            if (enter && ImGui::IsItemHovered()) pick = true;
            if (pick) {
                selected = i;
                picked = true;
            }
            entryRects[i] = lastItemRect();
        }
        if (enter || escape || leave) ImGui::CloseCurrentPopup();
        ImGui::EndCombo();
    }
    ImGui::PopID();
    // The combo's own rectangle is the item just closed.
    rect = lastItemRect();
    noteFocusable(id);
    if (drawing) drawing->listItem = ImGui::GetItemID();
    if (drawing) drawing->listOpen = open && !(enter || escape || leave || picked);
    return picked;
}
