#include "platform/timeline_overlay.h"

#include "platform/imgui_render.h"

#include <GL/gl.h>
#include <imgui.h>
#include <imgui_impl_opengl2.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

int32_t timelinePositionAt(float x, float width, const int32_t* orderRows, int32_t orderCount) {
    if (orderCount <= 0 || !(width > 0.0f)) return 0;
    double share = double(x) / double(width);
    if (!(share > 0.0)) share = 0.0; // NaN too
    if (share > 1.0) share = 1.0;
    const double at = share * orderCount;
    const int32_t order = std::min(int32_t(at), orderCount - 1);
    // Rows beyond 256 cannot be told apart in a position word.
    const int32_t rows = std::clamp(orderRows[order], 1, 256);
    const int32_t row = std::min(int32_t((at - order) * rows), rows - 1);
    return order * 256 + row;
}

float timelineXOf(int32_t position, float width, const int32_t* orderRows, int32_t orderCount) {
    if (orderCount <= 0 || position < 0) return 0.0f;
    const int32_t order = position / 256;
    const int32_t row = position % 256;
    if (order >= orderCount) return width;
    const int32_t rows = std::clamp(orderRows[order], 1, 256);
    const double at = row >= rows ? order + 1.0 : order + double(row) / rows;
    return float(at * width / orderCount);
}

TimelineAction timelineGestureAction(float pressX, float releaseX, float width,
                                     const int32_t* orderRows, int32_t orderCount) {
    TimelineAction action;
    if (orderCount <= 0) return action;
    if (std::fabs(releaseX - pressX) < kTimelineDragPixels) {
        const int32_t at = timelinePositionAt(pressX, width, orderRows, orderCount);
        action.kind = TimelineActionKind::seek;
        action.order = at / 256;
        action.row = at % 256;
        return action;
    }
    const int32_t from =
        timelinePositionAt(std::min(pressX, releaseX), width, orderRows, orderCount);
    const int32_t to = timelinePositionAt(std::max(pressX, releaseX), width, orderRows, orderCount);
    action.kind = TimelineActionKind::loop;
    action.firstOrder = from / 256;
    action.lastOrder = to / 256;
    return action;
}

namespace {

ImGuiContext* context = nullptr;

// The strip as last drawn: where presses count and how their pixels map to positions.
struct Strip {
    bool shown = false;
    float panelLeft = 0, panelTop = 0, panelRight = 0, panelBottom = 0;
    float left = 0, width = 0;
    int32_t orderCount = 0;
    int32_t orderRows[kTimelineMaxOrders] = {};
};

struct Pointer {
    float x = -1.0f, y = -1.0f; // negative: not seen yet
    bool held = false;
    bool gesture = false; // pressed on the strip, not yet released
    float pressX = 0.0f;  // from the strip's left
    bool pending = false; // a finished gesture not yet reported
    TimelineAction action;
};

Strip strip;
Pointer pointer;

constexpr float kMargin = 8.0f, kPadding = kTimelineInset - kMargin;

// Every nth order is labelled, n the first of these whose labels fit apart.
int32_t labelStep(float orderWidth, float labelWidth) {
    for (const int32_t step : {1, 2, 5, 10, 20, 50, 100})
        if (orderWidth * float(step) >= labelWidth) return step;
    return kTimelineMaxOrders;
}

void drawStrip(const TimelineView& view, ImDrawList* list, float lanesTop, float laneHeight,
               int32_t lanes, float line) {
    const float left = strip.left, width = strip.width, right = left + width;
    const int32_t* rows = view.orderRows;
    const int32_t orders = strip.orderCount;
    auto x = [&](int32_t position) { return left + timelineXOf(position, width, rows, orders); };
    const float lanesBottom = lanesTop + float(lanes) * laneHeight;

    if (view.loop)
        list->AddRectFilled(ImVec2(x(view.loopFirst * 256), lanesTop),
                            ImVec2(x((view.loopLast + 1) * 256), lanesBottom),
                            IM_COL32(70, 170, 90, 70));
    if (pointer.gesture && std::fabs(pointer.x - left - pointer.pressX) >= kTimelineDragPixels) {
        const TimelineAction drag =
            timelineGestureAction(pointer.pressX, pointer.x - left, width, rows, orders);
        list->AddRectFilled(ImVec2(x(drag.firstOrder * 256), lanesTop),
                            ImVec2(x((drag.lastOrder + 1) * 256), lanesBottom),
                            IM_COL32(90, 150, 255, 80));
    }

    // Order boundaries, and their numbers as far as they fit apart.
    const float orderWidth = orders > 0 ? width / float(orders) : width;
    const int32_t step = labelStep(orderWidth, ImGui::CalcTextSize("000").x);
    char number[24];
    for (int32_t order = 0; order < orders; ++order) {
        const float at = x(order * 256);
        const bool labelled = order % step == 0;
        list->AddLine(ImVec2(at, lanesTop), ImVec2(at, lanesBottom + (labelled ? 4.0f : 2.0f)),
                      IM_COL32(255, 255, 255, labelled ? 70 : 30));
        if (!labelled) continue;
        std::snprintf(number, sizeof number, "%d", int(order));
        list->AddText(ImVec2(at + 2.0f, lanesBottom + 2.0f), IM_COL32(200, 200, 200, 255), number);
    }
    list->AddLine(ImVec2(right, lanesTop), ImVec2(right, lanesBottom + 4.0f),
                  IM_COL32(255, 255, 255, 70));

    for (int32_t i = 0; i < std::min(view.barCount, kTimelineMaxBars); ++i) {
        const TimelineBar& bar = view.bars[i];
        // Lanes that do not fit are dropped, not squeezed: the strip keeps to its height.
        if (bar.lane < 0 || bar.lane >= lanes) continue;
        const float y0 = lanesTop + float(bar.lane) * laneHeight + 1.0f;
        const ImVec2 low(x(bar.first), y0);
        // A pixel apart from the bar that follows in the same lane.
        const ImVec2 high(std::max(x(bar.last + 1) - 1.0f, low.x + 2.0f), y0 + laneHeight - 2.0f);
        list->AddRectFilled(
            low, high, bar.highlighted ? IM_COL32(240, 180, 60, 240) : IM_COL32(60, 95, 150, 230),
            2.0f);
        list->AddRect(low, high, IM_COL32(255, 255, 255, 60), 2.0f);
        // A label too long for its bar shows its last word (a shot's camera), which tells
        // neighbours apart where the first letters would not.
        const char* label = bar.label;
        if (ImGui::CalcTextSize(label).x + 5.0f > high.x - low.x)
            if (const char* space = std::strrchr(label, ' ')) label = space + 1;
        list->PushClipRect(low, high, true);
        list->AddText(ImVec2(low.x + 3.0f, y0 + (laneHeight - 2.0f - line) * 0.5f),
                      bar.highlighted ? IM_COL32(0, 0, 0, 255) : IM_COL32(255, 255, 255, 255),
                      label);
        list->PopClipRect();
    }

    if (view.playHead >= 0) {
        const float at = x(view.playHead);
        list->AddLine(ImVec2(at, lanesTop - 3.0f), ImVec2(at, lanesBottom + 3.0f),
                      IM_COL32(255, 60, 50, 255), 2.0f);
        list->AddTriangleFilled(ImVec2(at - 4.0f, lanesTop - 5.0f),
                                ImVec2(at + 4.0f, lanesTop - 5.0f), ImVec2(at, lanesTop),
                                IM_COL32(255, 60, 50, 255));
    }

    // Where a click would go, at the right of the status line.
    if (ImGui::IsMouseHoveringRect(ImVec2(left, lanesTop), ImVec2(right, lanesBottom + line),
                                   false)) {
        const float mouseX = ImGui::GetIO().MousePos.x;
        list->AddLine(ImVec2(mouseX, lanesTop), ImVec2(mouseX, lanesBottom),
                      IM_COL32(255, 255, 255, 140));
        const int32_t at = timelinePositionAt(mouseX - left, width, rows, orders);
        // The whole label of the bar under the mouse: in the bar it may be cut short.
        const float mouseY = ImGui::GetIO().MousePos.y;
        const int32_t lane = mouseY >= lanesTop ? int32_t((mouseY - lanesTop) / laneHeight) : -1;
        const char* label = "";
        for (int32_t i = 0; i < std::min(view.barCount, kTimelineMaxBars); ++i) {
            const TimelineBar& bar = view.bars[i];
            if (bar.lane == lane && bar.first <= at && at <= bar.last) label = bar.label;
        }
        char hover[kTimelineLabelBytes + 24];
        std::snprintf(hover, sizeof hover, "%s   %d:%02d", label, int(at / 256), int(at % 256));
        const float textWidth = ImGui::CalcTextSize(hover).x;
        list->AddText(ImVec2(right - textWidth, lanesTop - line - 4.0f),
                      IM_COL32(255, 255, 255, 255), hover);
    }
}

} // namespace

void feedTimelinePointer(TimelinePointer what, float x, float y) {
    pointer.x = x;
    pointer.y = y;
    if (what == TimelinePointer::press) {
        pointer.held = true;
        pointer.gesture = strip.shown && x >= strip.panelLeft && x < strip.panelRight &&
                          y >= strip.panelTop && y < strip.panelBottom;
        pointer.pressX = x - strip.left;
    } else if (what == TimelinePointer::release) {
        pointer.held = false;
        if (!pointer.gesture) return;
        pointer.gesture = false;
        pointer.action = timelineGestureAction(pointer.pressX, x - strip.left, strip.width,
                                               strip.orderRows, strip.orderCount);
        pointer.pending = true;
    }
}

bool drawTimelineOverlay(const TimelineView& view, int width, int height, float seconds,
                         TimelineAction& action) {
    action = TimelineAction{};
    if (width <= 0 || height <= 0 || !useImGuiContext(context)) return false;
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(float(width), float(height));
    io.DeltaTime = seconds > 0.0f ? seconds : 1.0f / 60.0f;
    io.MousePos = pointer.x >= 0.0f ? ImVec2(pointer.x, pointer.y) : ImVec2(-FLT_MAX, -FLT_MAX);
    io.MouseDown[0] = pointer.held;
    ImGui_ImplOpenGL2_NewFrame();
    ImGui::NewFrame();

    const float line = ImGui::GetTextLineHeight();
    const float laneHeight = line + 4.0f;
    const float fixed = 2.0f * kPadding + line + 8.0f + line + 4.0f; // status, gaps, numbers
    const int32_t fitting = int32_t((float(height) * 0.5f - kMargin - fixed) / laneHeight);
    const int32_t lanes = std::max(1, std::min(view.laneCount, fitting));

    strip.shown = true;
    strip.panelLeft = kMargin;
    strip.panelRight = std::max(kMargin + 1.0f, float(width) - kMargin);
    strip.panelBottom = float(height) - kMargin;
    strip.panelTop = strip.panelBottom - fixed - float(lanes) * laneHeight;
    strip.left = strip.panelLeft + kPadding;
    strip.width = std::max(1.0f, strip.panelRight - kPadding - strip.left);
    strip.orderCount = std::clamp(view.orderCount, 0, kTimelineMaxOrders);
    std::memcpy(strip.orderRows, view.orderRows, sizeof strip.orderRows);

    ImDrawList* list = ImGui::GetForegroundDrawList();
    list->AddRectFilled(ImVec2(strip.panelLeft, strip.panelTop),
                        ImVec2(strip.panelRight, strip.panelBottom), IM_COL32(0, 0, 0, 180), 4.0f);
    const float statusY = strip.panelTop + kPadding;
    list->AddText(ImVec2(strip.left, statusY), IM_COL32(255, 255, 255, 255), view.status);
    drawStrip(view, list, statusY + line + 8.0f, laneHeight, lanes, line);
    renderImGuiKeepingGlState();

    if (pointer.pending) action = pointer.action;
    pointer.pending = false;
    return true;
}

void hideTimelineOverlay() {
    strip.shown = false;
    pointer.gesture = false;
    pointer.pending = false;
}

void releaseTimelineOverlay() {
    hideTimelineOverlay();
    releaseImGuiContext(context);
}
