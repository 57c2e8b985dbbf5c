// The key table read by the main loop, the viewer and the demo: 256 entries indexed by Windows
// virtual-key code, 1 while the key is held. The window's event handling writes it; the loop
// clears some entries after acting on them. Beside it, a latch of the presses since the last
// frame, so a key that goes down and up between two frames still acts once. Also the mapping
// from SDL key codes to those codes.
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
    kVkF2 = 0x71,
    kVkF4 = 0x73,
    kVkF5 = 0x74,
    kVkF12 = 0x7B,
};

// Clears the table and the latch.
void clearKeyTable();

// The window's key events: held state plus the latch.
void pressKey(int virtualKey);
void releaseKey(int virtualKey);

// Around the frame's key handling: while the frame runs, every key pressed since the last frame
// reads as 1, held or not (rules that act every frame while a key is held still see it held
// only while it is). Afterwards the entries that were only latched go back to 0 unless the frame
// cleared them itself, and the latch starts afresh. No events are taken in between.
void latchKeyPresses();
void releaseKeyPresses();
