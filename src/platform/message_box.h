// Message boxes without an owner window. When boxes may not block (headless, --no-dialog,
// tools, tests) the text goes to standard error as "CAPTION: TEXT (DETAIL)" instead; the detail
// (the file and the system's reason, say) is for that line only, the box keeps its text.
#pragma once

enum class MessageBoxIcon { none, information, error };

void showMessageBox(const char* text, const char* caption,
                    MessageBoxIcon icon = MessageBoxIcon::none, const char* detail = nullptr);

// Off by default; the player switches it on for ordinary interactive runs.
void setMessageBoxesInteractive(bool interactive);
