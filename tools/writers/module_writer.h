// Builds FastTracker 2 extended modules (XM 1.04) from a plain description: orders, patterns
// of any row count, instruments with one 16-bit mono sample each. Output is a byte vector or a
// file; it checks limits but does not judge the music. Everything is owned by value.
//
// Composing: start from Module{} (or simpleModule), add instruments with their PCM (a single
// waveform cycle with a forward loop makes a steady tone; an envelope shapes it), add patterns
// with makePattern(rows, channels) and fill cells with pattern.at(row, channel) = {note,
// instrument, volume, effect, parameter}; list pattern indices in orders. Notes count from
// 1 = C-0 (49 = C-4, the pitch at which a sample plays at 8363 Hz with relative note 0),
// 97 = key off. Volume column 0x10..0x50 sets volume 0..64. Effects are the stored numbers:
// 0xB position jump, 0xD pattern break (parameter in decimal digits: 0x10 = row 10), 0xF speed
// (< 32) or tempo (>= 32). One row lasts speed * 2.5 / tempo seconds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modulewriter {

constexpr int kMaxChannels = 32;
constexpr int kMaxOrders = 256;
constexpr int kMaxPatterns = 256;
constexpr int kMaxRows = 256;
constexpr int kMaxInstruments = 128;
constexpr int kMaxEnvelopePoints = 12;
constexpr uint8_t kKeyOff = 97;

// Note number from octave and semitone (0 = C): note(4, 0) = 49.
constexpr uint8_t note(int octave, int semitone) {
    return uint8_t(octave * 12 + semitone + 1);
}

struct Cell {
    uint8_t note = 0;       // 0 none, 1..96, 97 key off
    uint8_t instrument = 0; // 0 none, 1..instrument count
    uint8_t volume = 0;     // volume column byte; 0 none
    uint8_t effect = 0;
    uint8_t parameter = 0;
};

struct Pattern {
    int rows = 64;
    int channels = 4;
    std::vector<Cell> cells; // rows * channels, row by row
    Cell& at(int row, int channel) {
        return cells[size_t(row) * size_t(channels) + size_t(channel)];
    }
    const Cell& at(int row, int channel) const {
        return cells[size_t(row) * size_t(channels) + size_t(channel)];
    }
};

Pattern makePattern(int rows, int channels);

struct EnvelopePoint {
    uint16_t tick = 0;
    uint8_t value = 64; // 0..64
};

struct Instrument {
    std::string name;
    std::vector<int16_t> pcm;                  // mono; empty = an instrument without sample
    uint32_t loopStart = 0;                    // in samples
    uint32_t loopLength = 0;                   // in samples; 0 or loop false = no loop
    bool loop = false;                         // forward loop
    uint8_t volume = 64;                       // 0..64
    int8_t finetune = 0;                       // -128..127, 1/128 semitone
    int8_t relativeNote = 0;                   // semitones added to every note
    uint8_t panning = 128;                     // 0 left .. 255 right
    std::vector<EnvelopePoint> volumeEnvelope; // empty = off; up to 12 points, ticks rising
    int sustainPoint = -1;                     // index into volumeEnvelope, -1 = none
    uint16_t fadeout = 0;                      // volume lost per tick after key off (0..4095)
};

struct Module {
    std::string name = "quilm";
    int channels = 4;
    int speed = 6;   // ticks per row
    int tempo = 125; // BPM
    bool linearSlides = true;
    int restartOrder = 0;
    std::vector<uint8_t> orders; // pattern index per order
    std::vector<Pattern> patterns;
    std::vector<Instrument> instruments;
};

// The module in XM layout; empty when it breaks a limit above (pattern channel count not the
// module's, an order naming a missing pattern, a loop outside its sample, ...).
std::vector<uint8_t> writeModule(const Module& module);
// False (no file written) when writeModule fails or the file cannot be written.
bool writeModuleFile(const std::string& path, const Module& module);

// One cycle of a waveform for an instrument: period samples of a sine (shape 0), square (1) or
// saw (2) at the given peak.
std::vector<int16_t> waveformCycle(int shape, int period, int16_t peak = 12000);
// A looped single-cycle tone of 32 samples with a short decay envelope: at note C-5 it sounds
// about 523 Hz.
Instrument toneInstrument(int shape = 0, const std::string& name = "tone");

// A module for tests: `orders` orders, each playing its own pattern of rowsPerPattern rows on
// two channels, a note every four rows (a different one per order) so it is audible, the given
// initial speed and tempo. Speed 7 at tempo 145 gives rows of 3500/29 ms.
Module simpleModule(int orders, int speed, int tempo, int rowsPerPattern = 64);

} // namespace modulewriter
