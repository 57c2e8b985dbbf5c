// The demo's music, "tune.mo3": a piece in A minor composed here as data (chords, motifs,
// drum and bass figures per section) and written as an XM module with instruments synthesised
// in code. 33 orders of 64 rows at speed 7, tempo 145, laid out along the demo's script.
// Does not play it; the bytes are owned by value and are the same on every run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kTuneOrders = 33;
inline constexpr int kTuneRows = 64;
inline constexpr int kTuneSpeed = 7;
inline constexpr int kTuneTempo = 145;

// The module bytes (XM; the player reads modules by content, not by name).
std::vector<uint8_t> makeDemoTune();
// False, with one line on standard error, when the file cannot be written.
bool writeDemoTune(const std::string& path);
