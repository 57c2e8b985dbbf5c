#include "app/timeline_panel.h"

#include "app/player.h"
#include "demo/demo_loading.h"
#include "demo/music_time.h"
#include "platform/music.h"

#include <algorithm>
#include <cstdio>

int32_t assignCueLanes(const DemoManifest& manifest, int32_t* lanes) {
    const int32_t count = std::clamp(manifest.cueCount, 0, kMaxCues);
    int32_t byStart[kMaxCues];
    for (int32_t i = 0; i < count; ++i)
        byStart[i] = i;
    const Cue* cues = manifest.cues;
    std::sort(byStart, byStart + count, [cues](int32_t a, int32_t b) {
        return cues[a].first != cues[b].first ? cues[a].first < cues[b].first : a < b;
    });
    int32_t laneEnd[kMaxCues]; // the last position taken in each lane
    int32_t used = 0;
    for (int32_t k = 0; k < count; ++k) {
        const Cue& cue = cues[byStart[k]];
        const int32_t end = std::max(cue.first, cue.last);
        int32_t lane = 0;
        while (lane < used && laneEnd[lane] >= cue.first)
            ++lane;
        if (lane == used) ++used;
        laneEnd[lane] = end;
        lanes[byStart[k]] = lane;
    }
    return used;
}

void formatCueLabel(const DemoManifest& manifest, const Cue& cue, char* out, int bytes) {
    if (cue.scene >= 0 && cue.scene < manifest.sceneCount) {
        std::snprintf(out, size_t(bytes), "%s %d", manifest.sceneNames[cue.scene], int(cue.camera));
        return;
    }
    const int overlay = int(cue.overlay);
    std::snprintf(out, size_t(bytes), "%s",
                  overlay >= 0 && overlay < kCueOverlayCount ? kCueOverlayNames[overlay] : "?");
}

void fillTimelineView(const DemoManifest& manifest, const MainLoop& loop, int32_t position,
                      float clockSeconds, TimelineView& view) {
    view.orderCount = std::clamp(musicOrderCount(), 0, kTimelineMaxOrders);
    for (int32_t order = 0; order < view.orderCount; ++order)
        view.orderRows[order] = musicPatternRowsAt(order);
    static int32_t lanes[kMaxCues]; // beside the view: not on the frame's stack
    view.laneCount = assignCueLanes(manifest, lanes);
    view.barCount = std::clamp(manifest.cueCount, 0, std::min(kMaxCues, kTimelineMaxBars));
    for (int32_t i = 0; i < view.barCount; ++i) {
        const Cue& cue = manifest.cues[i];
        TimelineBar& bar = view.bars[i];
        bar.lane = lanes[i];
        bar.first = cue.first;
        bar.last = std::max(cue.first, cue.last);
        bar.highlighted = position >= cue.first && position <= cue.last;
        formatCueLabel(manifest, cue, bar.label, kTimelineLabelBytes);
    }
    view.playHead = position;
    view.loop = loop.loopOrders;
    view.loopFirst = loop.loopFirst;
    view.loopLast = loop.loopLast;
    char loopText[40] = "";
    if (loop.loopOrders)
        std::snprintf(loopText, sizeof loopText, "   loop %d to %d", loop.loopFirst, loop.loopLast);
    std::snprintf(view.status, sizeof view.status,
                  "order %d:%02d   demo clock %.2f s%s   click: seek, drag: loop",
                  int(position / 256), int(position % 256), double(clockSeconds), loopText);
}

void applyTimelineAction(MainLoop& loop, const TimelineAction& action) {
    if (action.kind == TimelineActionKind::seek) {
        if (!seekMusicTo(action.order, action.row)) return;
        if (loop.loopOrders && (action.order < loop.loopFirst || action.order > loop.loopLast)) {
            setMusicLoop(-1, -1);
            loop.loopOrders = false;
        }
    } else if (action.kind == TimelineActionKind::loop) {
        if (action.firstOrder < 0 || action.lastOrder >= musicOrderCount()) return;
        setMusicLoop(action.firstOrder, action.lastOrder);
        loop.loopOrders = true;
        loop.loopFirst = action.firstOrder;
        loop.loopLast = action.lastOrder;
    }
}

void drawTimelinePanel(MainLoop& loop, int width, int height) {
    static TimelineView view; // a few tens of kilobytes, filled afresh each frame
    fillTimelineView(*demoData.manifest, loop, cuePosition(), demoClock(), view);
    TimelineAction action;
    if (drawTimelineOverlay(view, width, height, 0.0f, action)) applyTimelineAction(loop, action);
}
