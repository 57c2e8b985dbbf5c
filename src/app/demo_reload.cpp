#include "app/demo_reload.h"

#include "demo/music_time.h"
#include "diag/console.h"
#include "platform/music.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

FileStamp manifestStampOf(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return {};
#ifdef _WIN32
    return {uint64_t(info.st_size), uint64_t(info.st_mtime) * 1000000000u};
#else
    return {uint64_t(info.st_size),
            uint64_t(info.st_mtim.tv_sec) * 1000000000u + uint64_t(info.st_mtim.tv_nsec)};
#endif
}

// Two manifests: the one playing and the one a reload reads into.
DemoManifest reloadSlots[2];

} // namespace

void watchDemo(DemoWatch& watch, const char* manifestPath) {
    watch = DemoWatch{};
    if (manifestPath) {
        std::snprintf(watch.manifestPath, sizeof watch.manifestPath, "%s", manifestPath);
        watch.manifestStamp = manifestStampOf(manifestPath);
    }
}

bool reloadPlayingDemo(DemoWatch& watch, char* notice, int noticeBytes) {
    const auto started = std::chrono::steady_clock::now();
    const DemoManifest* next = &builtInDemoManifest();
    const FileStamp stamp =
        watch.manifestPath[0] != '\0' ? manifestStampOf(watch.manifestPath) : FileStamp{};
    if (watch.manifestPath[0] != '\0' && stamp == watch.manifestStamp &&
        demoData.manifest != &builtInDemoManifest()) {
        next = demoData.manifest; // unchanged: only its files are looked at again
    } else if (watch.manifestPath[0] != '\0') {
        DemoManifest& spare =
            demoData.manifest == &reloadSlots[0] ? reloadSlots[1] : reloadSlots[0];
        static char text[8192];
        text[0] = '\0';
        ManifestErrors errors{text, int(sizeof text)};
        watch.manifestStamp = stamp;
        bool ok = readDemoManifest(watch.manifestPath, spare, errors);
        // The music plays on: the new sheet must fit the module that is playing.
        MusicShape shape;
        shape.orders = std::min(musicOrderCount(), 256);
        for (int order = 0; order < shape.orders; ++order)
            shape.rows[order] = musicPatternRowsAt(order);
        if (ok) ok = checkManifestPositions(spare, shape, watch.manifestPath, errors);
        if (!ok) {
            std::fputs(text, stderr);
            consolePrint("%s", text);
            std::snprintf(notice, size_t(noticeBytes), "manifest errors: the demo plays on");
            return false;
        }
        next = &spare;
    }
    if (!reloadDemoData(*next)) {
        std::snprintf(notice, size_t(noticeBytes), "reload failed: the demo plays on");
        return false;
    }
    const std::chrono::duration<double, std::milli> took =
        std::chrono::steady_clock::now() - started;
    consolePrint("Reloaded the demo in %.1f ms.\n", took.count());
    std::snprintf(notice, size_t(noticeBytes), "reloaded");
    return true;
}

bool demoChangedOnDisk(DemoWatch& watch, uint32_t nowMs) {
    if (watch.looked && nowMs - watch.lastLookMs < 1000) return false;
    watch.looked = true;
    watch.lastLookMs = nowMs;
    if (watch.manifestPath[0] != '\0' &&
        !(manifestStampOf(watch.manifestPath) == watch.manifestStamp))
        return true;
    return demoFilesChanged();
}
