#include "platform/message_box.h"

#include <SDL.h>

#include <cstdio>

namespace {
bool interactive = false;
} // namespace

void setMessageBoxesInteractive(bool value) {
    interactive = value;
}

void showMessageBox(const char* text, const char* caption, MessageBoxIcon icon,
                    const char* detail) {
    if (interactive) {
        const Uint32 flags = icon == MessageBoxIcon::error         ? SDL_MESSAGEBOX_ERROR
                             : icon == MessageBoxIcon::information ? SDL_MESSAGEBOX_INFORMATION
                                                                   : 0;
        if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) == 0) return;
    }
    if (detail && detail[0] != '\0')
        std::fprintf(stderr, "%s: %s (%s)\n", caption, text, detail);
    else
        std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}
