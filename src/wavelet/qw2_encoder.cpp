#include "wavelet/qw2_encoder.h"

#include "wavelet/qw2.h"
#include "wavelet/wavelet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// ---- forward transform: the transpose of the (orthonormal) synthesis ----

void forwardStep(const WaveletFilters& f, const double* x, double* out, int n) {
    const int h = n / 2;
    const int L = f.taps;
    for (int k = 0; k < h; ++k) {
        double approx = 0.0;
        double detail = 0.0;
        for (int t = 0; t < L / 2; ++t) {
            const int m = ((k - t) % h + h) % h;
            const double odd = x[(2 * m + L - 2) % n];
            const double even = x[(2 * m + L - 1) % n];
            approx += f.g0[2 * t + 1] * odd + f.g0[2 * t] * even;
            detail += f.g1[2 * t + 1] * odd + f.g1[2 * t] * even;
        }
        out[k] = approx;
        out[h + k] = detail;
    }
}

// ---- colour ----

// Inverse of the decoder's matrix (red, green, blue from Y, Cb, Cr), solved once.
struct ColourToYcc {
    double m[3][3];
    ColourToYcc() {
        const double fwd[3][3] = {{1.0, 0.0, double(1.4022f)},
                                  {1.0, -double(0.3456f), -double(0.7145f)},
                                  {1.0, double(1.771f), 0.0}};
        const double det = fwd[0][0] * (fwd[1][1] * fwd[2][2] - fwd[1][2] * fwd[2][1]) -
                           fwd[0][1] * (fwd[1][0] * fwd[2][2] - fwd[1][2] * fwd[2][0]) +
                           fwd[0][2] * (fwd[1][0] * fwd[2][1] - fwd[1][1] * fwd[2][0]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (c + 1) % 3, r2 = (c + 2) % 3;
                const int c1 = (r + 1) % 3, c2 = (r + 2) % 3;
                m[r][c] = (fwd[r1][c1] * fwd[r2][c2] - fwd[r1][c2] * fwd[r2][c1]) / det;
            }
    }
};

// Fills the square outside the picture so that it runs smoothly back to the opposite edge:
// the transform is periodic, and a jump at the seam would cost bits on every level.
void padPeriodic(double* plane, int a, int width, int height) {
    for (int y = 0; y < height; ++y) {
        double* row = plane + size_t(y) * a;
        const double last = row[width - 1], first = row[0];
        for (int x = width; x < a; ++x) {
            const double t = double(x - width + 1) / double(a - width + 1);
            row[x] = last + (first - last) * t;
        }
    }
    for (int y = height; y < a; ++y) {
        const double t = double(y - height + 1) / double(a - height + 1);
        const double* lastRow = plane + size_t(height - 1) * a;
        double* row = plane + size_t(y) * a;
        for (int x = 0; x < a; ++x)
            row[x] = lastRow[x] + (plane[x] - lastRow[x]) * t;
    }
}

// ---- the bit-plane coder ----

int32_t magnitudeKey(int32_t v) {
    return v >= 0 ? v : ~v;
} // significant at T when >= T

struct ChannelCoder {
    int a = 0;
    int shift = 0;
    std::vector<int32_t> coef;     // integer coefficients
    std::vector<double> target;    // unrounded coefficients, same units
    std::vector<int32_t> key;      // magnitudeKey of coef
    std::vector<int32_t> descMax;  // largest key among the descendants
    std::vector<int32_t> grandMax; // ... among the grand-descendants
    std::vector<int32_t> lip, lis, lsp;
    std::vector<uint8_t> lspSign;
    std::vector<int32_t> recon; // the decoder's plane as the bits so far leave it
    std::vector<int32_t> step;  // the last threshold each coefficient received a bit at

    void setCoefficients() {
        const size_t count = size_t(a) * a;
        key.resize(count);
        for (size_t i = 0; i < count; ++i)
            key[i] = magnitudeKey(coef[i]);
        descMax.assign(count, -1);
        grandMax.assign(count, -1);
        const int half = a / 2;
        // Children have larger indices than their parent, so one backward sweep suffices.
        for (int index = int(count) - 1; index > 0; --index) {
            const int i = index >> shift, j = index & (a - 1);
            if (i >= half || j >= half) continue;
            const int c = 2 * i * a + 2 * j;
            const int children[4] = {c, c + 1, c + a, c + a + 1};
            int32_t d = -1, g = -1;
            for (int ch : children) {
                d = std::max(d, std::max(key[ch], descMax[ch]));
                g = std::max(g, descMax[ch]);
            }
            descMax[index] = d;
            grandMax[index] = g;
        }
    }
};

struct BitSink {
    std::vector<uint8_t> bytes;
    int64_t pos = 0;
    int64_t limit = 0;
    // Distortion bookkeeping for the rate allocation, sampled every kSampleBits.
    double distortion = 0.0;
    std::vector<int64_t> sampleBits;
    std::vector<double> sampleDistortion;
    bool sampling = false;
    static constexpr int kSampleBits = 64;

    int room() const { return limit - pos > 1 ? 2 : int(limit - pos); }
    // Writes the bit when there is room; returns what the decoder will read (-1: nothing).
    int put(int bit) {
        if (pos >= limit) return -1;
        if (bit) bytes[size_t(pos >> 3)] |= uint8_t(1u << (pos & 7));
        ++pos;
        if (sampling && (pos % kSampleBits) == 0) {
            sampleBits.push_back(pos);
            sampleDistortion.push_back(distortion);
        }
        return bit;
    }
};

void setRecon(ChannelCoder& cc, BitSink& sink, int index, int32_t value) {
    const double t = cc.target[size_t(index)];
    const double before = t - cc.recon[size_t(index)];
    const double after = t - value;
    sink.distortion += after * after - before * before;
    cc.recon[size_t(index)] = value;
}

// Codes one pixel's significance (and sign) at T. A positive pixel whose sign bit would fall
// past the end is sent as insignificant: a decoder missing the sign would make it negative.
bool codePixel(ChannelCoder& cc, BitSink& sink, int index, int32_t T) {
    int sig = cc.key[size_t(index)] >= T;
    const bool positive = cc.coef[size_t(index)] >= 0;
    if (sig && positive && sink.room() == 1) sig = 0;
    if (sink.put(sig) != 1) return false;
    const bool sign = sink.put(positive ? 1 : 0) == 1;
    cc.lsp.push_back(index);
    cc.lspSign.push_back(sign);
    cc.step[size_t(index)] = T;
    setRecon(cc, sink, index, sign ? T : -2 * T);
    return true;
}

// Runs the coder over the channel until limit bits: the decoder's passes with every bit read
// replaced by the bit written.
void codeChannel(ChannelCoder& cc, BitSink& sink, int64_t limit) {
    const int a = cc.a;
    const int half = a / 2;
    const size_t count = size_t(a) * a;
    sink.bytes.assign(size_t((limit + 7) / 8), 0);
    sink.pos = 0;
    sink.limit = limit;
    sink.distortion = 0.0;
    for (size_t i = 0; i < count; ++i)
        sink.distortion += cc.target[i] * cc.target[i];
    sink.sampleBits.assign(1, 0);
    sink.sampleDistortion.assign(1, sink.distortion);
    cc.recon.assign(count, 0);
    cc.step.assign(count, 0);
    cc.lip = {0, 1, a, a + 1};
    cc.lis = {1 << 1, a << 1, (a + 1) << 1};
    cc.lsp.clear();
    cc.lspSign.clear();

    for (int32_t T = kQw2TopThreshold; sink.pos < limit && T > 0; T /= 2) {
        const size_t lspStart = cc.lsp.size();
        size_t kept = 0;
        for (size_t r = 0; r < cc.lip.size(); ++r) {
            const int32_t index = cc.lip[r];
            if (!codePixel(cc, sink, index, T)) cc.lip[kept++] = index;
        }
        cc.lip.resize(kept);
        kept = 0;
        for (size_t r = 0; r < cc.lis.size(); ++r) {
            const int32_t entry = cc.lis[r];
            const int32_t index = entry >> 1;
            const bool kindB = entry & 1;
            const int32_t largest = kindB ? cc.grandMax[size_t(index)] : cc.descMax[size_t(index)];
            if (sink.put(largest >= T) != 1) {
                cc.lis[kept++] = entry;
                continue;
            }
            const int i = index >> cc.shift, j = index & (a - 1);
            if (i >= half || j >= half) continue;
            const int32_t c = 2 * i * a + 2 * j;
            const int32_t children[4] = {c, c + 1, c + a, c + a + 1};
            if (!kindB) {
                for (int32_t ch : children)
                    if (!codePixel(cc, sink, ch, T)) cc.lip.push_back(ch);
                if (2 * i < half && 2 * j < half) cc.lis.push_back((index << 1) | 1);
            } else {
                for (int32_t ch : children)
                    cc.lis.push_back(ch << 1);
            }
        }
        cc.lis.resize(kept);
        for (size_t k = 0; k < lspStart; ++k) {
            const int32_t index = cc.lsp[k];
            const int bit = sink.put((cc.coef[size_t(index)] & T) != 0);
            if (bit < 0) break;
            cc.step[size_t(index)] = T;
            if (bit) setRecon(cc, sink, index, cc.recon[size_t(index)] | T);
        }
    }
    if (sink.sampleBits.back() != sink.pos) {
        sink.sampleBits.push_back(sink.pos);
        sink.sampleDistortion.push_back(sink.distortion);
    }
}

void putI16(std::vector<uint8_t>& out, int v) {
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t((v >> 8) & 0xff));
}
void putI32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 0; s < 32; s += 8)
        out.push_back(uint8_t((v >> s) & 0xff));
}

struct EncodedChannel {
    float scale = 1.0f;
    ChannelCoder coder;
    BitSink full;
    double weight = 1.0; // squared-error weight of one coefficient unit in the picture
};

} // namespace

void forwardWavelet2D(int kind, double* plane, int a) {
    WaveletFilters f;
    if (!setupWaveletFilters(f, kind) || a < 4) return;
    std::vector<double> line(static_cast<size_t>(a)), out(static_cast<size_t>(a));
    for (int B = a; B >= 4; B /= 2) {
        for (int y = 0; y < B; ++y) {
            double* row = plane + size_t(y) * a;
            forwardStep(f, row, out.data(), B);
            std::memcpy(row, out.data(), sizeof(double) * size_t(B));
        }
        for (int x = 0; x < B; ++x) {
            for (int y = 0; y < B; ++y)
                line[size_t(y)] = plane[size_t(y) * a + x];
            forwardStep(f, line.data(), out.data(), B);
            for (int y = 0; y < B; ++y)
                plane[size_t(y) * a + x] = out[size_t(y)];
        }
    }
}

bool encodeQW2(const uint8_t* rgba, int width, int height, const Qw2EncodeOptions& options,
               std::vector<uint8_t>& file, const char** reason) {
    const char* refused = nullptr;
    if (width < 1 || height < 1 || width > kQw2MaxSide || height > kQw2MaxSide)
        refused = "image size outside 1..8192";
    else if (options.filterKind < 0 || options.filterKind >= kWaveletFilterKinds)
        refused = "filter kind outside 0..3";
    else if (!(options.bitsPerPixel > 0.0))
        refused = "bits per pixel must be positive";
    if (refused) {
        if (reason) *reason = refused;
        return false;
    }
    const int channels = options.alpha ? 4 : 3;
    const int a = qw2SquareSide(width, height);
    const size_t count = size_t(a) * a;
    int shift = 0;
    while ((1 << shift) < a)
        ++shift;

    // Channel planes in file order: Cb + 128, Cr + 128, Y, alpha.
    static const ColourToYcc toYcc;
    std::vector<double> planes(count * size_t(channels));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = rgba + (size_t(y) * width + x) * 4;
            const double rgb[3] = {double(p[0]), double(p[1]), double(p[2])};
            double ycc[3];
            for (int r = 0; r < 3; ++r)
                ycc[r] = toYcc.m[r][0] * rgb[0] + toYcc.m[r][1] * rgb[1] + toYcc.m[r][2] * rgb[2];
            const size_t i = size_t(y) * a + x;
            // The decoder truncates to bytes: half a unit on Y (which every colour gets) and on
            // alpha makes that a rounding.
            planes[i] = ycc[1] + 128.0;
            planes[count + i] = ycc[2] + 128.0;
            planes[2 * count + i] = ycc[0] + 0.5;
            if (channels == 4) planes[3 * count + i] = double(p[3]) + 0.5;
        }

    // Squared error in red, green and blue per unit of each channel (alpha counts alone).
    const double channelWeight[4] = {0.3456 * 0.3456 + 1.771 * 1.771,
                                     1.4022 * 1.4022 + 0.7145 * 0.7145, 3.0, 1.0};
    const int64_t headerBits = 8 * int64_t(kQw2HeaderBytes + kQw2ChannelHeaderBytes * channels);
    // No channel's stream can be longer than all fifteen bit-planes of every coefficient with
    // its sign and set bits, so a larger rate buys nothing (and would only cost memory).
    const int64_t longestStream = int64_t(count) * 24 + 1024;
    const double wanted = options.bitsPerPixel * double(width) * double(height);
    const int64_t totalBits = std::max<int64_t>(
        0, int64_t(std::min(wanted, double(longestStream * channels))) - headerBits);

    std::vector<EncodedChannel> coded(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        double* plane = planes.data() + count * size_t(c);
        padPeriodic(plane, a, width, height);
        forwardWavelet2D(options.filterKind, plane, a);
        double largest = 0.0;
        for (size_t i = 0; i < count; ++i)
            largest = std::max(largest, std::fabs(plane[i]));
        EncodedChannel& ch = coded[size_t(c)];
        ch.scale = largest > 0.0 ? float(largest) : 1.0f;
        const float multiplier = ch.scale / 32767.0f;
        ch.weight = channelWeight[c] * double(multiplier) * double(multiplier);
        ChannelCoder& cc = ch.coder;
        cc.a = a;
        cc.shift = shift;
        cc.coef.resize(count);
        cc.target.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const double v = plane[i] / double(multiplier);
            cc.target[i] = v;
            cc.coef[i] = int32_t(std::clamp(std::lround(v), -32768l, 32767l));
        }
        cc.setCoefficients();
        ch.full.sampling = true;
        codeChannel(cc, ch.full, std::min(totalBits, longestStream));
    }

    // Share the bits: each channel stops where its distortion falls by less than lambda per
    // bit, lambda the smallest that keeps the total within the budget; the bits a stretch of
    // even slope leaves over then go, step by step, where they buy the most.
    std::vector<size_t> chosen(static_cast<size_t>(channels));
    auto bitsAt = [&](int c, size_t k) { return coded[size_t(c)].full.sampleBits[k]; };
    auto costAt = [&](int c, size_t k) {
        return coded[size_t(c)].weight * coded[size_t(c)].full.sampleDistortion[k];
    };
    auto pick = [&](double lambda) {
        int64_t total = 0;
        for (int c = 0; c < channels; ++c) {
            size_t best = 0;
            double bestCost = 0.0;
            for (size_t k = 0; k < coded[size_t(c)].full.sampleBits.size(); ++k) {
                const double cost = costAt(c, k) + lambda * double(bitsAt(c, k));
                if (k == 0 || cost < bestCost) {
                    bestCost = cost;
                    best = k;
                }
            }
            chosen[size_t(c)] = best;
            total += (bitsAt(c, best) + 7) / 8 * 8;
        }
        return total;
    };
    double lo = 1e-12, hi = 1e12;
    for (int iter = 0; iter < 200; ++iter) {
        const double mid = std::sqrt(lo * hi);
        if (pick(mid) <= totalBits)
            hi = mid;
        else
            lo = mid;
    }
    int64_t used = pick(hi);
    // Stretches where nothing becomes significant buy nothing, so look a little ahead.
    constexpr size_t kLookAhead = 64;
    auto bytesAt = [&](int c, size_t k) { return (bitsAt(c, k) + 7) / 8 * 8; };
    for (;;) {
        int bestChannel = -1;
        size_t bestStep = 0;
        double bestSlope = 0.0;
        for (int c = 0; c < channels; ++c) {
            const size_t k = chosen[size_t(c)];
            const size_t end = std::min(coded[size_t(c)].full.sampleBits.size(), k + kLookAhead);
            for (size_t next = k + 1; next < end; ++next) {
                const int64_t extra = bytesAt(c, next) - bytesAt(c, k);
                if (used + extra > totalBits) break;
                const double slope =
                    (costAt(c, k) - costAt(c, next)) / double(std::max<int64_t>(extra, 1));
                if (slope > bestSlope) {
                    bestSlope = slope;
                    bestChannel = c;
                    bestStep = next;
                }
            }
        }
        if (bestChannel < 0) break;
        used += bytesAt(bestChannel, bestStep) - bytesAt(bestChannel, chosen[size_t(bestChannel)]);
        chosen[size_t(bestChannel)] = bestStep;
    }

    file.clear();
    putI16(file, width);
    putI16(file, height);
    file.push_back(uint8_t(channels));
    file.push_back(uint8_t(options.filterKind));
    putI16(file, kQw2Version);
    for (int c = 0; c < channels; ++c) {
        EncodedChannel& ch = coded[size_t(c)];
        ChannelCoder& cc = ch.coder;
        const int64_t bits = bitsAt(c, chosen[size_t(c)]);
        const int64_t limit = bits >= ch.full.pos ? (ch.full.pos + 7) / 8 * 8 : bits / 8 * 8;
        BitSink sink;
        codeChannel(cc, sink, limit);
        // The decoder rounds down to the last bit it got; move each coefficient by half that
        // step so that it rounds to nearest, then code again with the same length.
        for (size_t i = 0; i < count; ++i)
            if (cc.step[i] > 1) cc.coef[i] = std::clamp(cc.coef[i] + cc.step[i] / 2, -32768, 32767);
        cc.setCoefficients();
        codeChannel(cc, sink, limit);
        const int64_t bytes = (sink.pos + 7) / 8;
        uint32_t scaleBits;
        std::memcpy(&scaleBits, &ch.scale, sizeof scaleBits);
        putI32(file, scaleBits);
        putI32(file, uint32_t(bytes * 8));
        putI32(file, uint32_t(bytes));
        file.insert(file.end(), sink.bytes.begin(), sink.bytes.begin() + bytes);
    }
    return true;
}
