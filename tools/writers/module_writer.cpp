// XM writer: header, packed patterns, instruments with one delta-coded 16-bit sample each.
#include "writers/module_writer.h"

#include "writers/byte_writer.h"

#include <cmath>
#include <cstdio>

namespace modulewriter {

namespace {

constexpr uint32_t kHeaderSize = 276; // counted from the header-size field
constexpr uint32_t kPatternHeaderSize = 9;
constexpr uint32_t kInstrumentHeaderSize = 263; // with the sample-map part
constexpr uint32_t kSampleHeaderSize = 40;
constexpr uint8_t kSample16Bit = 0x10;
constexpr uint8_t kForwardLoop = 0x01;

bool validInstrument(const Instrument& in) {
    if (in.volume > 64 || in.fadeout > 4095) return false;
    if (in.volumeEnvelope.size() > size_t(kMaxEnvelopePoints)) return false;
    if (in.sustainPoint >= int(in.volumeEnvelope.size())) return false;
    for (size_t i = 0; i < in.volumeEnvelope.size(); ++i) {
        if (in.volumeEnvelope[i].value > 64) return false;
        if (i > 0 && in.volumeEnvelope[i].tick <= in.volumeEnvelope[i - 1].tick) return false;
    }
    if (in.pcm.size() > 0x3FFFFFFFu) return false;
    if (in.loop && in.loopLength > 0) {
        const uint64_t end = uint64_t(in.loopStart) + in.loopLength;
        if (end > in.pcm.size()) return false;
    }
    return true;
}

bool validModule(const Module& m) {
    if (m.channels < 1 || m.channels > kMaxChannels) return false;
    if (m.speed < 1 || m.speed > 31 || m.tempo < 32 || m.tempo > 255) return false;
    if (m.orders.empty() || m.orders.size() > size_t(kMaxOrders)) return false;
    if (m.patterns.size() > size_t(kMaxPatterns)) return false;
    if (m.instruments.size() > size_t(kMaxInstruments)) return false;
    if (m.restartOrder < 0 || m.restartOrder >= int(m.orders.size())) return false;
    for (uint8_t p : m.orders)
        if (p >= m.patterns.size()) return false;
    for (const Pattern& p : m.patterns) {
        if (p.rows < 1 || p.rows > kMaxRows || p.channels != m.channels) return false;
        if (p.cells.size() != size_t(p.rows) * size_t(p.channels)) return false;
        for (const Cell& c : p.cells)
            if (c.note > kKeyOff || c.instrument > m.instruments.size()) return false;
    }
    for (const Instrument& in : m.instruments)
        if (!validInstrument(in)) return false;
    return true;
}

// Packed cells: a flag byte (0x80 | which fields follow) then the fields that are not zero.
void writePattern(ByteWriter& b, const Pattern& p) {
    std::vector<uint8_t> data;
    ByteWriter d{data};
    for (const Cell& c : p.cells) {
        const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.parameter};
        uint8_t flags = 0x80;
        for (int i = 0; i < 5; ++i)
            if (fields[i] != 0) flags = uint8_t(flags | (1 << i));
        d.u8(flags);
        for (int i = 0; i < 5; ++i)
            if (fields[i] != 0) d.u8(fields[i]);
    }
    b.u32(kPatternHeaderSize);
    b.u8(0); // packing type
    b.u16(uint16_t(p.rows));
    b.u16(uint16_t(data.size()));
    b.out.insert(b.out.end(), data.begin(), data.end());
}

void writeInstrument(ByteWriter& b, const Instrument& in) {
    const bool hasSample = !in.pcm.empty();
    b.u32(kInstrumentHeaderSize);
    b.text(in.name, 22);
    b.u8(0); // type
    b.u16(hasSample ? 1 : 0);
    b.u32(kSampleHeaderSize);
    b.zeros(96); // every note plays sample 0
    for (int i = 0; i < kMaxEnvelopePoints; ++i) {
        const bool used = size_t(i) < in.volumeEnvelope.size();
        b.u16(used ? in.volumeEnvelope[size_t(i)].tick : 0);
        b.u16(used ? in.volumeEnvelope[size_t(i)].value : 0);
    }
    b.zeros(4 * kMaxEnvelopePoints); // panning envelope
    b.u8(uint8_t(in.volumeEnvelope.size()));
    b.u8(0); // panning points
    b.u8(uint8_t(in.sustainPoint < 0 ? 0 : in.sustainPoint));
    b.u8(0);    // volume loop start
    b.u8(0);    // volume loop end
    b.zeros(3); // panning sustain and loop
    uint8_t envelopeType = 0;
    if (!in.volumeEnvelope.empty()) envelopeType = in.sustainPoint >= 0 ? 3 : 1;
    b.u8(envelopeType);
    b.u8(0);    // panning envelope off
    b.zeros(4); // vibrato type, sweep, depth, rate
    b.u16(in.fadeout);
    b.zeros(22); // reserved
    if (!hasSample) return;

    const bool looped = in.loop && in.loopLength > 0;
    b.u32(uint32_t(in.pcm.size() * 2)); // lengths in bytes
    b.u32(looped ? in.loopStart * 2 : 0);
    b.u32(looped ? in.loopLength * 2 : 0);
    b.u8(in.volume);
    b.u8(uint8_t(in.finetune));
    b.u8(uint8_t(kSample16Bit | (looped ? kForwardLoop : 0)));
    b.u8(in.panning);
    b.u8(uint8_t(in.relativeNote));
    b.u8(0); // reserved (0xAD would mean ADPCM)
    b.text(in.name, 22);
}

void writeSampleData(ByteWriter& b, const Instrument& in) {
    int16_t previous = 0;
    for (int16_t s : in.pcm) {
        b.u16(uint16_t(uint16_t(s) - uint16_t(previous)));
        previous = s;
    }
}

} // namespace

Pattern makePattern(int rows, int channels) {
    Pattern p;
    p.rows = rows;
    p.channels = channels;
    if (rows > 0 && channels > 0) p.cells.resize(size_t(rows) * size_t(channels));
    return p;
}

std::vector<uint8_t> writeModule(const Module& m) {
    std::vector<uint8_t> out;
    if (!validModule(m)) return out;
    ByteWriter b{out};
    b.text("Extended Module: ", 17);
    b.text(m.name, 20);
    b.u8(0x1A);
    b.text("quilm module writer", 20);
    b.u16(0x0104);
    b.u32(kHeaderSize);
    b.u16(uint16_t(m.orders.size()));
    b.u16(uint16_t(m.restartOrder));
    b.u16(uint16_t(m.channels));
    b.u16(uint16_t(m.patterns.size()));
    b.u16(uint16_t(m.instruments.size()));
    b.u16(m.linearSlides ? 1 : 0);
    b.u16(uint16_t(m.speed));
    b.u16(uint16_t(m.tempo));
    for (int i = 0; i < kMaxOrders; ++i)
        b.u8(size_t(i) < m.orders.size() ? m.orders[size_t(i)] : 0);
    for (const Pattern& p : m.patterns)
        writePattern(b, p);
    for (const Instrument& in : m.instruments) {
        writeInstrument(b, in);
        writeSampleData(b, in);
    }
    return out;
}

bool writeModuleFile(const std::string& path, const Module& module) {
    const std::vector<uint8_t> bytes = writeModule(module);
    if (bytes.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

std::vector<int16_t> waveformCycle(int shape, int period, int16_t peak) {
    std::vector<int16_t> pcm(size_t(period > 0 ? period : 0));
    for (int i = 0; i < period; ++i) {
        const double phase = double(i) / double(period);
        double v = 0.0;
        if (shape == 0)
            v = std::sin(phase * 2.0 * 3.14159265358979323846);
        else if (shape == 1)
            v = phase < 0.5 ? 1.0 : -1.0;
        else
            v = 2.0 * phase - 1.0;
        pcm[size_t(i)] = int16_t(std::lround(v * peak));
    }
    return pcm;
}

Instrument toneInstrument(int shape, const std::string& name) {
    Instrument in;
    in.name = name;
    in.pcm = waveformCycle(shape, 32);
    in.loop = true;
    in.loopStart = 0;
    in.loopLength = 32;
    in.volumeEnvelope = {{0, 64}, {4, 48}, {24, 16}, {64, 0}};
    in.fadeout = 512;
    return in;
}

Module simpleModule(int orders, int speed, int tempo, int rowsPerPattern) {
    Module m;
    m.channels = 2;
    m.speed = speed;
    m.tempo = tempo;
    m.instruments.push_back(toneInstrument(0, "sine"));
    m.instruments.push_back(toneInstrument(1, "square"));
    static const int kScale[8] = {0, 2, 4, 5, 7, 9, 11, 12};
    const int patternCount = orders < kMaxPatterns ? orders : kMaxPatterns;
    for (int p = 0; p < patternCount; ++p) {
        Pattern pattern = makePattern(rowsPerPattern, m.channels);
        for (int row = 0; row < rowsPerPattern; row += 4) {
            Cell& lead = pattern.at(row, 0);
            lead.note = note(5, kScale[(p + row / 4) % 8]);
            lead.instrument = 1;
            if (row % 16 == 0) {
                Cell& bass = pattern.at(row, 1);
                bass.note = note(3, kScale[p % 8]);
                bass.instrument = 2;
                bass.volume = 0x10 + 32;
            }
        }
        m.patterns.push_back(std::move(pattern));
    }
    for (int i = 0; i < orders && i < kMaxOrders; ++i)
        m.orders.push_back(uint8_t(i % (patternCount > 0 ? patternCount : 1)));
    return m;
}

} // namespace modulewriter
