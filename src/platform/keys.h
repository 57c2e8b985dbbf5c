// The key table read by the main loop, the viewer and the demo: 256 entries indexed by Windows
// virtual-key code, 1 while the key is held. The window's event handling writes it; the loop
// clears some entries after acting on them. Also the mapping from SDL key codes to those codes.
#pragma once

#include <cstdint>

constexpr int kKeyCount = 256;
extern uint8_t keyDown[kKeyCount];

// Windows virtual-key codes the program names; letters and digits are their ASCII capitals.
enum VirtualKey : int {
    kVkBack = 0x08,
    kVkTab = 0x09,
    kVkReturn = 0x0D,
    kVkShift = 0x10,
    kVkControl = 0x11,
    kVkMenu = 0x12, // Alt
    kVkPause = 0x13,
    kVkCapital = 0x14,
    kVkEscape = 0x1B,
    kVkSpace = 0x20,
    kVkPrior = 0x21,
    kVkNext = 0x22,
    kVkEnd = 0x23,
    kVkHome = 0x24,
    kVkLeft = 0x25,
    kVkUp = 0x26,
    kVkRight = 0x27,
    kVkDown = 0x28,
    kVkInsert = 0x2D,
    kVkDelete = 0x2E,
    kVkNumpad0 = 0x60,
    kVkMultiply = 0x6A,
    kVkAdd = 0x6B,
    kVkSubtract = 0x6D,
    kVkDecimal = 0x6E,
    kVkDivide = 0x6F,
    kVkF1 = 0x70,
    kVkF4 = 0x73,
    kVkF12 = 0x7B,
};

void clearKeyTable();
