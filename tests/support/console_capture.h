// Captures consolePrint output for the lifetime of the object, with the console switched on.
#pragma once

#include "diag/console.h"
#include "platform/options.h"

#include <string>

struct ConsoleCapture {
    std::string text;
    bool wasEnabled;

    ConsoleCapture() : wasEnabled(setupOptions.consoleEnabled) {
        setupOptions.consoleEnabled = true;
        setConsoleSink(
            [](const char* s, int n, void* user) {
                static_cast<std::string*>(user)->append(s, static_cast<size_t>(n));
                return true;
            },
            &text);
    }
    ~ConsoleCapture() {
        setConsoleSink(nullptr, nullptr);
        setupOptions.consoleEnabled = wasEnabled;
    }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
};
