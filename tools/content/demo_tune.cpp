// The tune. Bars are 16 rows (a 16th note per row, about 124 beats a minute), so an order is
// four bars and every order names one chord per bar. Sections follow the script: intro 0-1,
// landscape theme 2-10 (climax into the white flash), oak 11-14, river 15-21, cranes bridge
// 22-23, field 24-28, finale 29-32 fading out over the second half of the last order.
//
// [SECTION] instruments: synthesised at 33452 Hz; looped tones are sums of partials whose
//           frequencies are whole cycles per loop, so loops are seamless, detuning included.
// [SECTION] harmony and motifs: the chord table, melodies as text, drum and bass figures.
// [SECTION] the order plan: one row of the table per order.
// [SECTION] pattern building.
#include "content/demo_tune.h"

#include "writers/module_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mw = modulewriter;

namespace {

// ---------------------------------------------------------------------------------------------
// [SECTION] instruments

constexpr double kRate = 33452.0; // 4 x 8363: a sample recorded at C-4 pitch plays at note C-4
                                  // with relative note +24
constexpr double kC4 = 261.6255653;
constexpr double kPi = 3.14159265358979323846;
constexpr double kPeak = 32000.0; // sample peak

struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed * 2654435761u + 12345u) {}
    double next() { // -1..1
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return double(state >> 8) / 8388608.0 - 1.0;
    }
};

std::vector<int16_t> toPcm(const std::vector<double>& v, double peak = kPeak) {
    double maxAbs = 1e-9;
    for (double s : v)
        maxAbs = std::max(maxAbs, std::fabs(s));
    std::vector<int16_t> pcm(v.size());
    for (size_t i = 0; i < v.size(); ++i)
        pcm[i] = int16_t(std::lround(v[i] / maxAbs * peak));
    return pcm;
}

// Relative note and finetune so that a sample whose pitch is f0 at kRate sounds true.
void tune(mw::Instrument& in, double f0) {
    const double semis = 12.0 * std::log2(kRate * kC4 / (f0 * 8363.0));
    const double whole = std::floor(semis + 0.5);
    in.relativeNote = int8_t(whole);
    in.finetune = int8_t(std::clamp(std::lround((semis - whole) * 128.0), -128L, 127L));
}

// One-pole low-pass coefficient for a cut-off in Hz.
double lowpassCoefficient(double hz) {
    return 1.0 - std::exp(-2.0 * kPi * hz / kRate);
}

mw::Instrument oneShot(const char* name, const std::vector<double>& v, uint8_t volume,
                       uint8_t panning) {
    mw::Instrument in;
    in.name = name;
    in.pcm = toPcm(v);
    in.volume = volume;
    in.panning = panning;
    tune(in, kC4);
    return in;
}

mw::Instrument kick() {
    std::vector<double> v(size_t(0.45 * kRate));
    Noise noise(1);
    double phase = 0, click = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = double(i) / kRate;
        phase += 2 * kPi * (48 + 110 * std::exp(-t * 28)) / kRate;
        click += (noise.next() - click) * lowpassCoefficient(3000);
        const double body = std::sin(phase) * std::exp(-t * 6.5) * std::min(1.0, t * 2000);
        v[i] = std::tanh(1.6 * body) + click * std::exp(-t * 300) * 0.6;
    }
    return oneShot("kick", v, 64, 128);
}

mw::Instrument snare() {
    std::vector<double> v(size_t(0.32 * kRate));
    Noise noise(2);
    double low = 0, band = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = double(i) / kRate;
        const double n = noise.next();
        low += (n - low) * lowpassCoefficient(6500);
        band += (low - band) * lowpassCoefficient(900);
        const double rattle = (low - band) * std::exp(-t * 16);
        const double tone =
            (std::sin(2 * kPi * 185 * t) + 0.5 * std::sin(2 * kPi * 330 * t)) * std::exp(-t * 30);
        v[i] = (0.9 * rattle + 0.45 * tone) * std::min(1.0, t * 3000);
    }
    return oneShot("snare", v, 64, 120);
}

mw::Instrument hat() {
    std::vector<double> v(size_t(0.16 * kRate));
    Noise noise(3);
    double low = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = double(i) / kRate;
        const double n = noise.next();
        low += (n - low) * lowpassCoefficient(7000);
        v[i] = (n - low) * std::exp(-t * 38);
    }
    return oneShot("hat", v, 64, 150);
}

mw::Instrument crash() {
    std::vector<double> v(size_t(2.4 * kRate));
    Noise noise(4);
    double low = 0;
    static const double kMetal[6] = {1.0, 1.342, 1.716, 2.253, 2.872, 3.618};
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = double(i) / kRate;
        const double n = noise.next();
        low += (n - low) * lowpassCoefficient(4500);
        double metal = 0;
        for (double m : kMetal)
            metal += std::sin(2 * kPi * 430 * m * t) > 0 ? 1 : -1;
        v[i] = ((n - low) * 0.8 + metal * 0.05) * std::exp(-t * 1.7) * std::min(1.0, t * 800);
    }
    return oneShot("crash", v, 64, 100);
}

// Wind: noise through a resonant band-pass whose centre rises and falls, swelling in and out.
mw::Instrument wind() {
    const double seconds = 4.5;
    std::vector<double> v(size_t(seconds * kRate));
    Noise noise(5);
    double low = 0, band = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = double(i) / kRate, x = t / seconds;
        const double centre = 250 + 1300 * std::sin(kPi * x) * std::sin(kPi * x);
        const double f = 2 * std::sin(kPi * centre / kRate), q = 0.18;
        low += f * band;
        const double high = noise.next() - low - q * band;
        band += f * high;
        const double swell = std::sin(kPi * x);
        v[i] = band * swell * swell;
    }
    return oneShot("wind", v, 64, 90);
}

// Plucked string (Karplus-Strong) at 128 samples a period, warm and decaying.
mw::Instrument pluck() {
    constexpr int kPeriod = 128;
    std::vector<double> v(size_t(1.1 * kRate));
    Noise noise(6);
    // The string's shape when released: a triangle peaked a fifth along it (a strong
    // fundamental, harmonics falling off), roughened a little by noise.
    std::vector<double> line(kPeriod);
    for (int k = 0; k < kPeriod; ++k) {
        const double x = double(k) / kPeriod, peak = 0.2;
        line[size_t(k)] = (x < peak ? x / peak : (1 - x) / (1 - peak)) - 0.5 + 0.08 * noise.next();
    }
    double mean = 0;
    for (double s : line)
        mean += s / kPeriod;
    for (double& s : line)
        s -= mean;
    for (size_t i = 0; i < v.size(); ++i) {
        const size_t k = i % kPeriod;
        const double out = line[k];
        line[k] = 0.996 * 0.5 * (line[k] + line[(k + 1) % kPeriod]);
        const double t = double(i) / kRate;
        v[i] = out * std::min(1.0, (1.1 - t) * 10); // closes the tail without a click
    }
    mw::Instrument in;
    in.name = "pluck";
    in.pcm = toPcm(v);
    in.volume = 64;
    in.panning = 168;
    tune(in, kRate / (kPeriod + 0.5)); // the averaging adds half a sample of delay
    return in;
}

struct Partial {
    int cycles;       // whole cycles per loop
    double amplitude; // relative
};

// A looped tone of loopLength samples from partials that fit the loop exactly; vibrato (a
// whole number of cycles per loop) bends every partial alike.
std::vector<double> loopedTone(int loopLength, const std::vector<Partial>& partials,
                               int vibratoCycles, double vibratoDepth, uint32_t seed) {
    std::vector<double> v(size_t(loopLength), 0.0);
    Noise noise(seed);
    for (const Partial& p : partials) {
        const double phase0 = (noise.next() + 1) * kPi;
        const double beta = vibratoCycles > 0 ? p.cycles * vibratoDepth / vibratoCycles : 0.0;
        for (int n = 0; n < loopLength; ++n) {
            const double x = double(n) / loopLength;
            const double phase =
                2 * kPi * p.cycles * x + phase0 + beta * std::sin(2 * kPi * vibratoCycles * x);
            v[size_t(n)] += p.amplitude * std::sin(phase);
        }
    }
    return v;
}

mw::Instrument loopedInstrument(const char* name, std::vector<double> v, double f0, uint8_t volume,
                                uint8_t panning) {
    mw::Instrument in;
    in.name = name;
    in.pcm = toPcm(v);
    in.loop = true;
    in.loopStart = 0;
    in.loopLength = uint32_t(in.pcm.size());
    in.volume = volume;
    in.panning = panning;
    tune(in, f0);
    return in;
}

// Warm bass at C-2: a saw rolled off above 400 Hz with its fundamental lifted.
mw::Instrument bass() {
    constexpr int kLoop = 8192, kCycles = 16; // 65.3 Hz
    std::vector<Partial> partials;
    for (int k = 1; k <= 40; ++k) {
        const double hz = k * kCycles * kRate / kLoop;
        partials.push_back({k * kCycles, (k == 1 ? 1.6 : 1.0) / k / (1 + std::pow(hz / 400, 2))});
    }
    mw::Instrument in = loopedInstrument("bass", loopedTone(kLoop, partials, 0, 0, 7),
                                         kCycles * kRate / kLoop, 64, 128);
    in.volumeEnvelope = {{0, 64}, {8, 54}, {60, 44}};
    in.sustainPoint = 2;
    in.fadeout = 2400;
    return in;
}

// String pad: three saws a few cents apart (one cycle per loop apart) beating slowly.
mw::Instrument pad(const char* name, uint8_t panning, uint32_t seed) {
    constexpr int kLoop = 32768, kCycles = 256; // 261.3 Hz
    std::vector<Partial> partials;
    for (int detune = -1; detune <= 1; ++detune)
        for (int k = 1; k <= 28; ++k) {
            const double hz = k * kCycles * kRate / kLoop;
            partials.push_back({k * (kCycles + detune), 1.0 / k / (1 + std::pow(hz / 1100, 2))});
        }
    mw::Instrument in = loopedInstrument(name, loopedTone(kLoop, partials, 0, 0, seed),
                                         kCycles * kRate / kLoop, 64, panning);
    in.volumeEnvelope = {{0, 0}, {24, 64}};
    in.sustainPoint = 1;
    in.fadeout = 700;
    return in;
}

// Lead: a mellow hollow voice (odd harmonics strong, even ones soft) with gentle vibrato.
mw::Instrument lead(const char* name, uint8_t volume, uint8_t panning) {
    constexpr int kLoop = 32768, kCycles = 256;
    std::vector<Partial> partials;
    for (int k = 1; k <= 18; ++k) {
        const double hz = k * kCycles * kRate / kLoop;
        const double odd = k % 2 ? 1.0 : 0.35;
        partials.push_back({k * kCycles, odd / k / (1 + std::pow(hz / 1600, 2))});
    }
    partials.push_back({kCycles + 1, 0.35}); // a slow shimmer against the fundamental
    mw::Instrument in = loopedInstrument(name, loopedTone(kLoop, partials, 5, 0.0045, 8),
                                         kCycles * kRate / kLoop, volume, panning);
    in.volumeEnvelope = {{0, 0}, {3, 64}, {14, 50}};
    in.sustainPoint = 2;
    in.fadeout = 1400;
    return in;
}

enum InstrumentId : uint8_t {
    kKick = 1,
    kSnare,
    kHat,
    kCrash,
    kWind,
    kPluck,
    kBass,
    kPadLeft,
    kPadCentre,
    kPadRight,
    kLead,
    kEcho,
};

std::vector<mw::Instrument> makeInstruments() {
    return {kick(),
            snare(),
            hat(),
            crash(),
            wind(),
            pluck(),
            bass(),
            pad("pad left", 72, 9),
            pad("pad centre", 128, 10),
            pad("pad right", 184, 11),
            lead("lead", 64, 104),
            lead("lead echo", 64, 200)};
}

// ---------------------------------------------------------------------------------------------
// [SECTION] harmony and motifs

struct Chord {
    int root; // pitch class, 0 = C
    bool minor;
};
constexpr Chord kAm{9, true}, kF{5, false}, kC{0, false}, kG{7, false}, kEm{4, true}, kDm{2, true},
    kE{4, false};

// Melodies: one token per two rows (an eighth note): a note name with octave ("e5", "g#5"),
// "-" holds, "." releases. Bars are separated by "|" for reading only.
// Landscape theme, statement and answer.
constexpr const char* kThemeA1 = "e5 - - - c5 - d5 e5 | f5 - - - e5 - c5 - | "
                                 "g5 - - - e5 - c5 - | d5 - - - - - . . ";
constexpr const char* kThemeA2 = "e5 - - - c5 - d5 e5 | a5 - - - g5 - f5 - | "
                                 "e5 - g5 - c6 - b5 - | d6 - - - b5 - . . ";
// Its middle part over Dm Am F G, and the turn onto E.
constexpr const char* kThemeB1 = "f5 - - - e5 - d5 - | e5 - - - c5 - - - | "
                                 "a5 - - - g5 - f5 - | g5 - - - - - . . ";
constexpr const char* kThemeB2 = "f5 - - - e5 - d5 - | c5 - - - a4 - - - | "
                                 "b4 - - - e5 - g#5 - | b5 - - - - - . . ";
// Climax over F G Am E, rising into the flash.
constexpr const char* kClimax = "a5 - c6 - f6 - e6 - | d6 - - - b5 - g5 - | "
                                "c6 - - - e6 - a6 - | g#6 - - - - - - - ";
// Oak: long calm notes.
constexpr const char* kOak1 = "a5 - - - - - c6 - | - - - - - - . . | "
                              "g5 - - - - - e5 - | - - - - - - . . ";
constexpr const char* kOak2 = "f5 - - - - - a5 - | - - - - - - . . | "
                              "e5 - - - - - g#5 - | - - - - b5 - . . ";
// River: flowing phrases over Am Em F G and Dm Am F E.
constexpr const char* kRiver1 = "a5 - - c6 - - b5 - | g5 - - - e5 - - - | "
                                "f5 - - a5 - - c6 - | b5 - - - - - . . ";
constexpr const char* kRiver2 = "d6 - - c6 - - a5 - | c6 - - - e5 - - - | "
                                "f5 - - a5 - - c6 - | b5 - - - g#5 - . . ";
// Cranes: a call and its echo, high and sparse.
constexpr const char* kCranes1 = "a5 - - - - - - - | d6 - - - c6 - a5 - | "
                                 "c6 - - - - - - - | f6 - - - e6 - c6 - ";
constexpr const char* kCranes2 = "d6 - - - - - - - | b5 - - - g5 - - - | "
                                 "g#5 - - - - - - - | b5 - - - - - . . ";
// Field: the theme's notes in C major, brighter.
constexpr const char* kField1 = "g5 - e5 - g5 - c6 - | b5 - - - d6 - - - | "
                                "c6 - - - a5 - e5 - | f5 - - - a5 - . . ";
constexpr const char* kField2 = "g5 - e5 - g5 - c6 - | d6 - - - b5 - g5 - | "
                                "e6 - - - c6 - a5 - | c6 - - - - - . . ";
// Finale: the theme's answer high, then the last cadence held under the fade.
constexpr const char* kFinaleEnd = "a5 - c6 - f6 - e6 - | d6 - - - b5 - - - | "
                                   "c6 - - - - - - - | a5 - - - - - - - ";

// Drum figures, one character per row of a bar: 'X' loud, 'x' soft, '.' nothing.
constexpr const char* kKickHalf = "X.........x.....";
constexpr const char* kKickDrive = "X.....x.X...x...";
constexpr const char* kKickFour = "X...x...X...x...";
constexpr const char* kSnareBack = "....X.......X...";
constexpr const char* kSnareGhost = "....X..x....X..x";
constexpr const char* kHatEighths = "x.x.x.x.x.x.x.x.";
constexpr const char* kHatOff = "..x...x...x...x.";
constexpr const char* kHatSixteens = "Xxx.XxxxXxx.Xxxx";
// The last bar before a big change: snare roll, soft to loud.
constexpr const char* kSnareRoll = "x.x.x.x.xxxxXXXX";

// Bass figures: 'R' root, 'O' root an octave up, 'F' the fifth, 'k' release, '.' hold.
constexpr const char* kBassWhole = "R...............";
constexpr const char* kBassPulse = "R.....R...R...O.";
constexpr const char* kBassDrive = "R..R..O.R..R.FO.";
constexpr const char* kBassRiver = "R.k.R.k.O.k.R.F.";

// Arpeggios: chord tone index (0-2 first octave, 3-5 the next), '.' nothing.
constexpr const char* kArpCalm = "0.1.2.3.4.3.2.1.";
constexpr const char* kArpFlow = "0123432101234321";
constexpr const char* kArpField = "0.2.4.2.3.2.5.2.";
constexpr const char* kArpSparse = "0...2...4...3...";

// ---------------------------------------------------------------------------------------------
// [SECTION] the order plan

enum Event : int {
    kNoEvent = 0,
    kCrashStart = 1, // crash on row 0
    kWindStart = 2,  // wind swell from row 0
    kWindHalf = 4,   // wind swell from row 32
    kRollEnd = 8,    // snare roll in the last bar
    kFadeOut = 16,   // global volume falls to silence over rows 32-63
};

struct Progression {
    Chord bars[4];
};

struct OrderPlan {
    Progression chords;
    const char* melody;  // nullptr: no lead
    int melodyVolume;    // 0..64
    const char* kickBar; // nullptr: none
    const char* snareBar;
    const char* hatBar;
    int drumVolume;
    const char* bassBar;
    int bassVolume;
    const char* arpBar;
    int arpVolume;
    int arpOctave;
    int padVolume;
    int events;
};

// The theme's progressions, each a whole order.
constexpr Progression kTheme{{kAm, kF, kC, kG}};
constexpr Progression kMiddle{{kDm, kAm, kF, kG}};
constexpr Progression kTurn{{kDm, kAm, kE, kE}};

// clang-format off
const OrderPlan kPlan[kTuneOrders] = {
    // intro: pads and wind alone, then a soft pluck under the group logo
    {kTheme, nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 4, 30, kWindStart},
    {kTheme, nullptr, 0, nullptr, nullptr, nullptr, 0, kBassWhole, 30, kArpSparse, 26, 4, 34, kWindHalf},
    // landscape: the theme enters and builds
    {kTheme, nullptr, 0, kKickHalf, nullptr, kHatOff, 36, kBassWhole, 40, kArpCalm, 30, 4, 36, kCrashStart},
    {kTheme, kThemeA1, 44, kKickHalf, nullptr, kHatEighths, 38, kBassPulse, 42, kArpCalm, 26, 4, 34, kNoEvent},
    {kTheme, kThemeA2, 46, kKickHalf, kSnareBack, kHatEighths, 42, kBassPulse, 44, kArpCalm, 26, 4, 34, kNoEvent},
    {kTheme, kThemeA1, 48, kKickDrive, kSnareBack, kHatEighths, 46, kBassDrive, 46, kArpFlow, 22, 4, 34, kNoEvent},
    {kTheme, kThemeA2, 50, kKickDrive, kSnareBack, kHatSixteens, 46, kBassDrive, 46, kArpFlow, 24, 4, 34, kNoEvent},
    {kMiddle, kThemeB1, 48, kKickHalf, kSnareGhost, kHatEighths, 44, kBassPulse, 46, kArpFlow, 26, 4, 36, kNoEvent},
    {kTurn, kThemeB2, 50, kKickDrive, kSnareGhost, kHatSixteens, 46, kBassDrive, 46, kArpFlow, 26, 4, 36, kNoEvent},
    {kTheme, kThemeA2, 54, kKickFour, kSnareBack, kHatSixteens, 50, kBassDrive, 48, kArpFlow, 28, 5, 38, kCrashStart},
    {{{kF, kG, kAm, kE}}, kClimax, 58, kKickFour, kSnareBack, kHatSixteens, 54, kBassDrive, 50, kArpFlow, 30, 5, 42, kRollEnd | kWindHalf},
    // oak: calm, pads and pluck, the lead later and soft
    {{{kF, kF, kC, kC}}, nullptr, 0, nullptr, nullptr, nullptr, 0, kBassWhole, 38, kArpCalm, 34, 4, 40, kCrashStart | kWindStart},
    {{{kDm, kDm, kAm, kAm}}, nullptr, 0, nullptr, nullptr, kHatOff, 24, kBassWhole, 38, kArpCalm, 34, 4, 38, kNoEvent},
    {{{kF, kF, kC, kC}}, kOak1, 40, kKickHalf, nullptr, kHatOff, 28, kBassWhole, 40, kArpCalm, 30, 4, 36, kNoEvent},
    {{{kDm, kDm, kE, kE}}, kOak2, 42, kKickHalf, nullptr, kHatEighths, 30, kBassPulse, 40, kArpCalm, 30, 4, 36, kWindHalf},
    // river: a flowing groove
    {{{kAm, kEm, kF, kG}}, nullptr, 0, kKickHalf, kSnareGhost, kHatEighths, 40, kBassRiver, 44, kArpFlow, 32, 4, 32, kNoEvent},
    {{{kAm, kEm, kF, kG}}, kRiver1, 46, kKickHalf, kSnareGhost, kHatEighths, 42, kBassRiver, 44, kArpFlow, 28, 4, 32, kNoEvent},
    {{{kDm, kAm, kF, kE}}, kRiver2, 48, kKickDrive, kSnareBack, kHatEighths, 44, kBassRiver, 46, kArpFlow, 28, 4, 32, kNoEvent},
    {{{kAm, kEm, kF, kG}}, kRiver1, 48, kKickDrive, kSnareBack, kHatSixteens, 46, kBassRiver, 46, kArpFlow, 28, 5, 32, kNoEvent},
    {{{kDm, kAm, kF, kE}}, kRiver2, 50, kKickDrive, kSnareBack, kHatSixteens, 46, kBassRiver, 46, kArpFlow, 28, 5, 34, kNoEvent},
    {{{kAm, kEm, kF, kG}}, nullptr, 0, kKickDrive, kSnareGhost, kHatSixteens, 44, kBassRiver, 46, kArpFlow, 34, 5, 36, kNoEvent},
    {{{kDm, kAm, kF, kE}}, kRiver2, 44, kKickHalf, kSnareGhost, kHatEighths, 38, kBassRiver, 42, kArpFlow, 28, 4, 32, kWindHalf},
    // cranes: a short, open bridge that builds to the field
    {{{kDm, kDm, kF, kF}}, kCranes1, 44, nullptr, nullptr, kHatOff, 28, kBassWhole, 40, kArpSparse, 30, 5, 40, kWindStart},
    {{{kG, kG, kE, kE}}, kCranes2, 46, kKickHalf, nullptr, kHatEighths, 36, kBassWhole, 42, kArpCalm, 30, 5, 42, kRollEnd},
    // field: bright, C major
    {{{kC, kG, kAm, kF}}, nullptr, 0, kKickFour, kSnareBack, kHatSixteens, 48, kBassDrive, 46, kArpField, 32, 5, 36, kCrashStart},
    {{{kC, kG, kAm, kF}}, kField1, 50, kKickFour, kSnareBack, kHatSixteens, 48, kBassDrive, 46, kArpField, 28, 5, 36, kNoEvent},
    {{{kC, kG, kAm, kF}}, kField2, 52, kKickFour, kSnareBack, kHatSixteens, 48, kBassDrive, 46, kArpField, 28, 5, 36, kNoEvent},
    {{{kC, kG, kAm, kF}}, kField1, 52, kKickFour, kSnareGhost, kHatSixteens, 50, kBassDrive, 48, kArpField, 30, 5, 38, kNoEvent},
    {{{kC, kG, kAm, kE}}, kField2, 54, kKickFour, kSnareBack, kHatSixteens, 50, kBassDrive, 48, kArpField, 30, 5, 38, kRollEnd},
    // finale: the theme once more, then the last cadence under the fade
    {kTheme, kThemeA1, 56, kKickFour, kSnareBack, kHatSixteens, 52, kBassDrive, 48, kArpFlow, 30, 5, 40, kCrashStart},
    {kTheme, kThemeA2, 58, kKickFour, kSnareBack, kHatSixteens, 52, kBassDrive, 48, kArpFlow, 30, 5, 40, kNoEvent},
    {kTurn, kThemeB2, 56, kKickDrive, kSnareGhost, kHatSixteens, 50, kBassDrive, 48, kArpFlow, 30, 5, 40, kNoEvent},
    {{{kF, kG, kAm, kAm}}, kFinaleEnd, 54, kKickHalf, nullptr, kHatEighths, 40, kBassWhole, 44, kArpCalm, 30, 4, 42, kCrashStart | kWindHalf | kFadeOut},
};
// clang-format on

// ---------------------------------------------------------------------------------------------
// [SECTION] pattern building

enum ChannelId : int {
    kChKick,
    kChSnare,
    kChHat,
    kChBass,
    kChPad0,
    kChPad1,
    kChPad2,
    kChLead,
    kChEcho,
    kChArp,
    kChFx,    // crash
    kChWind,  // wind, and the speed and global volume effects
    kChPadB0, // the second set of pad voices: chords alternate sets and crossfade
    kChPadB1,
    kChPadB2,
    kChannelCount,
};

constexpr int kBarRows = 16;
// The mixer: the plan's levels scaled per part (per cent), found by soloing each channel of a
// render; the three pad voices add up.
constexpr int kPadMix = 70;
constexpr int kArpMix = 90;
constexpr int kSnareBoost = 10; // volume steps above the plan's drum level
constexpr int kEchoDelayRows = 3;
constexpr uint8_t kSetGlobalVolume = 0x10; // XM effect G
constexpr uint8_t kSetSpeedTempo = 0x0F;

uint8_t volumeColumn(int volume) {
    return uint8_t(0x10 + std::clamp(volume, 0, 64));
}

// Pitch (semitones from C-0) of a chord tone: index 0-2 root, third, fifth, 3-5 an octave up.
int chordTone(const Chord& chord, int index, int octave) {
    const int intervals[3] = {0, chord.minor ? 3 : 4, 7};
    return octave * 12 + chord.root + intervals[index % 3] + 12 * (index / 3);
}

uint8_t pitchToNote(int pitch) {
    return uint8_t(std::clamp(pitch + 1, 1, 96));
}

// "g#5" -> semitones from C-0; -1 when the token is not a note.
int parseNoteName(const char* token, size_t length) {
    static const int kLetters[7] = {9, 11, 0, 2, 4, 5, 7}; // a..g
    if (length < 2 || token[0] < 'a' || token[0] > 'g') return -1;
    int pitch = kLetters[token[0] - 'a'];
    size_t i = 1;
    if (token[i] == '#')
        ++pitch, ++i;
    else if (token[i] == 'b' && length > 2)
        --pitch, ++i;
    if (i >= length || token[i] < '0' || token[i] > '9') return -1;
    return pitch + 12 * (token[i] - '0');
}

// Writes a melody (tokens of two rows) on one channel, shifted by delay rows and scaled.
void writeMelody(mw::Pattern& pattern, int channel, const char* melody, uint8_t instrument,
                 int volume, int delayRows) {
    int step = 0;
    bool sounding = false;
    for (const char* s = melody; *s;) {
        while (*s == ' ' || *s == '|')
            ++s;
        if (!*s) break;
        const char* start = s;
        while (*s && *s != ' ' && *s != '|')
            ++s;
        const size_t length = size_t(s - start);
        const int row = step * 2 + delayRows;
        ++step;
        if (row >= pattern.rows) continue; // an echo's tail past the order is dropped
        mw::Cell& cell = pattern.at(row, channel);
        if (*start == '-') continue;
        if (*start == '.') {
            if (sounding) cell.note = mw::kKeyOff;
            sounding = false;
            continue;
        }
        const int pitch = parseNoteName(start, length);
        if (pitch < 0) continue;
        cell.note = pitchToNote(pitch);
        cell.instrument = instrument;
        cell.volume = volumeColumn(volume);
        sounding = true;
    }
}

void writeDrumBar(mw::Pattern& pattern, int channel, int bar, const char* figure,
                  uint8_t instrument, int volume) {
    for (int i = 0; i < kBarRows && figure[i]; ++i) {
        if (figure[i] == '.') continue;
        mw::Cell& cell = pattern.at(bar * kBarRows + i, channel);
        cell.note = pitchToNote(48); // C-4: the sample as recorded
        cell.instrument = instrument;
        cell.volume = volumeColumn(figure[i] == 'X' ? volume : volume * 5 / 8);
    }
}

int padChannel(int set, int voice) {
    return (set ? kChPadB0 : kChPad0) + voice;
}

// padSet: which set of pad channels holds the sounding chord; carried from order to order.
mw::Pattern buildPattern(int order, int* padSet) {
    const OrderPlan& plan = kPlan[order];
    mw::Pattern pattern = mw::makePattern(kTuneRows, kChannelCount);
    if (order == 0) {
        pattern.at(0, kChWind).effect = kSetSpeedTempo;
        pattern.at(0, kChWind).parameter = kTuneSpeed;
        pattern.at(0, kChFx).effect = kSetSpeedTempo;
        pattern.at(0, kChFx).parameter = kTuneTempo;
    }
    const Chord* previousChord = order > 0 ? &kPlan[order - 1].chords.bars[3] : nullptr;
    for (int bar = 0; bar < 4; ++bar) {
        const Chord& chord = plan.chords.bars[bar];
        const int barRow = bar * kBarRows;
        const bool lastBar = bar == 3;
        // Pads: strike on a change of chord, voiced close around G3-F#4 for smooth movement;
        // a chord held across orders only takes the new level, so it does not swell again.
        const bool sameChord = previousChord && previousChord->root == chord.root &&
                               previousChord->minor == chord.minor;
        if (plan.padVolume > 0 && (!sameChord || bar == 0)) {
            const int level = plan.padVolume * kPadMix / 100;
            if (!sameChord) {
                // The sounding set releases (its fade-out overlaps the new attack).
                for (int voice = 0; voice < 3; ++voice)
                    pattern.at(barRow, padChannel(*padSet, voice)).note = mw::kKeyOff;
                *padSet ^= 1;
            }
            for (int voice = 0; voice < 3; ++voice) {
                mw::Cell& cell = pattern.at(barRow, padChannel(*padSet, voice));
                cell.volume = volumeColumn(level);
                if (sameChord) continue;
                int pitch = chordTone(chord, voice, 0);
                while (pitch < 43)
                    pitch += 12;
                while (pitch >= 55)
                    pitch -= 12;
                cell.note = pitchToNote(pitch);
                cell.instrument = uint8_t(kPadLeft + voice);
            }
        }
        previousChord = &chord;
        // Bass around C-2.
        if (plan.bassBar) {
            for (int i = 0; i < kBarRows; ++i) {
                const char c = plan.bassBar[i];
                mw::Cell& cell = pattern.at(barRow + i, kChBass);
                int pitch = -1;
                if (c == 'R') pitch = 24 + chord.root;
                if (c == 'O') pitch = 36 + chord.root;
                if (c == 'F') pitch = 24 + chord.root + 7;
                if (c == 'k') cell.note = mw::kKeyOff;
                if (pitch < 0) continue;
                cell.note = pitchToNote(pitch);
                cell.instrument = kBass;
                cell.volume = volumeColumn(c == 'R' ? plan.bassVolume : plan.bassVolume - 6);
            }
        }
        // Arpeggio on the pluck.
        if (plan.arpBar) {
            for (int i = 0; i < kBarRows; ++i) {
                const char c = plan.arpBar[i];
                if (c < '0' || c > '5') continue;
                mw::Cell& cell = pattern.at(barRow + i, kChArp);
                cell.note = pitchToNote(chordTone(chord, c - '0', plan.arpOctave));
                cell.instrument = kPluck;
                cell.volume = volumeColumn((plan.arpVolume - (i % 4 ? 6 : 0)) * kArpMix / 100);
            }
        }
        // Drums.
        if (plan.kickBar)
            writeDrumBar(pattern, kChKick, bar, plan.kickBar, kKick, plan.drumVolume + 8);
        const char* snareBar = lastBar && (plan.events & kRollEnd) ? kSnareRoll : plan.snareBar;
        if (snareBar)
            writeDrumBar(pattern, kChSnare, bar, snareBar, kSnare, plan.drumVolume + kSnareBoost);
        if (plan.hatBar)
            writeDrumBar(pattern, kChHat, bar, plan.hatBar, kHat, plan.drumVolume - 14);
    }
    if (plan.melody) {
        writeMelody(pattern, kChLead, plan.melody, kLead, plan.melodyVolume, 0);
        writeMelody(pattern, kChEcho, plan.melody, kEcho, plan.melodyVolume * 3 / 8,
                    kEchoDelayRows);
    }
    // A phrase held to the end of an order stops where the next order has no melody; its
    // echo sounds for a few rows more.
    if (order > 0 && kPlan[order - 1].melody && !plan.melody) {
        pattern.at(0, kChLead).note = mw::kKeyOff;
        pattern.at(kEchoDelayRows, kChEcho).note = mw::kKeyOff;
    }
    if (plan.events & kCrashStart) {
        mw::Cell& cell = pattern.at(0, kChFx);
        cell.note = pitchToNote(48);
        cell.instrument = kCrash;
        cell.volume = volumeColumn(44);
    }
    if (plan.events & (kWindStart | kWindHalf)) {
        mw::Cell& cell = pattern.at(plan.events & kWindStart ? 0 : 32, kChWind);
        cell.note = pitchToNote(48);
        cell.instrument = kWind;
        cell.volume = volumeColumn(40);
    }
    if (plan.events & kFadeOut) {
        for (int row = 32; row < kTuneRows; ++row) {
            mw::Cell& cell = pattern.at(row, kChWind);
            cell.effect = kSetGlobalVolume;
            cell.parameter = uint8_t(64 * (kTuneRows - 1 - row) / 32);
        }
    }
    return pattern;
}

} // namespace

std::vector<uint8_t> makeDemoTune() {
    mw::Module module;
    module.name = "Heartwood";
    module.channels = kChannelCount;
    module.speed = kTuneSpeed;
    module.tempo = kTuneTempo;
    module.instruments = makeInstruments();
    int padSet = 0;
    for (int order = 0; order < kTuneOrders; ++order) {
        module.patterns.push_back(buildPattern(order, &padSet));
        module.orders.push_back(uint8_t(order));
    }
    return mw::writeModule(module);
}

bool writeDemoTune(const std::string& path) {
    const std::vector<uint8_t> bytes = makeDemoTune();
    FILE* file = bytes.empty() ? nullptr : std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "tune: cannot write %s\n", path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "tune: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}
