#include "wavelet/qw2.h"

#include "wavelet/wavelet.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

int16_t readI16(const uint8_t* p) {
    return int16_t(uint16_t(p[0] | (p[1] << 8)));
}
int32_t readI32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                   (uint32_t(p[3]) << 24));
}
float readF32(const uint8_t* p) {
    const uint32_t bits = uint32_t(readI32(p));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Bits least significant first; past the end there is no bit (-1) and the position stays.
struct BitSource {
    const uint8_t* data;
    int64_t bitCount;
    int64_t pos;
    int read() {
        if (pos >= bitCount) return -1;
        const int bit = peek(pos);
        ++pos;
        return bit;
    }
    int peek(int64_t at) const { return (data[at >> 3] >> (at & 7)) & 1; } // at < bitCount
};

int log2Side(int side) {
    int shift = 0;
    while ((1 << shift) < side)
        ++shift;
    return shift;
}

uint8_t toByte(float v) {
    if (!(v > 0.0f)) return 0; // NaN from a corrupt scale lands here too
    if (v > 255.0f) return 255;
    return uint8_t(int(v));
}

constexpr size_t kHugePage = size_t(2) << 20;

size_t roundUp(size_t bytes) {
    return (bytes + 63) & ~size_t(63);
}

// All working memory of one decode in one block. Large blocks are mapped on 2 MB pages where
// the system allows: a page fault for every fresh 4 KB of plane or list costs more than the
// decoding done in it.
struct Workspace {
    void* base = nullptr;
    size_t mappedBytes = 0; // 0 when the block came from malloc
    uint8_t* start = nullptr;
};

bool createWorkspace(Workspace& ws, size_t bytes) {
#ifdef __linux__
    if (bytes >= kHugePage) {
        const size_t length = bytes + kHugePage;
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            const uintptr_t aligned =
                (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
            madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
            ws.base = p;
            ws.mappedBytes = length;
            ws.start = reinterpret_cast<uint8_t*>(aligned);
            return true;
        }
    }
#endif
    ws.base = std::malloc(bytes);
    ws.mappedBytes = 0;
    ws.start = static_cast<uint8_t*>(ws.base);
    return ws.base != nullptr;
}

void destroyWorkspace(Workspace& ws) {
#ifdef __linux__
    if (ws.mappedBytes) {
        munmap(ws.base, ws.mappedBytes);
        ws = Workspace{};
        return;
    }
#endif
    std::free(ws.base);
    ws = Workspace{};
}

// The output is the caller's to free(), so it stays a malloc block; a large one is aligned
// so that it too can sit on 2 MB pages.
uint8_t* allocateOutput(size_t bytes) {
#ifdef __linux__
    if (bytes >= kHugePage / 2) {
        void* p = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) & ~(kHugePage - 1));
        if (p) madvise(p, (bytes + kHugePage - 1) & ~(kHugePage - 1), MADV_HUGEPAGE);
        return static_cast<uint8_t*>(p);
    }
#endif
    return static_cast<uint8_t*>(std::malloc(bytes));
}

} // namespace

int qw2SquareSide(int width, int height) {
    const int larger = width > height ? width : height;
    if (larger <= 2) return 2;
    int side = 4;
    while (side < larger)
        side *= 2;
    return side;
}

const char* checkQw2File(const uint8_t* data, size_t size, Qw2Header& header) {
    if (!data || size < size_t(kQw2HeaderBytes)) return "header runs past the end of the data";
    header.width = readI16(data);
    header.height = readI16(data + 2);
    header.channels = int8_t(data[4]);
    header.filterKind = int8_t(data[5]);
    header.version = readI16(data + 6);
    if (header.version != kQw2Version) return "unsupported format version";
    if (header.channels != 3 && header.channels != 4) return "channel count is not 3 or 4";
    if (header.filterKind < 0 || header.filterKind >= kWaveletFilterKinds)
        return "unknown filter kind";
    if (header.width <= 0 || header.height <= 0) return "width or height is not positive";
    if (header.width > kQw2MaxSide || header.height > kQw2MaxSide)
        return "image side larger than 8192";
    size_t offset = kQw2HeaderBytes;
    for (int c = 0; c < header.channels; ++c) {
        if (size - offset < size_t(kQw2ChannelHeaderBytes))
            return "channel header runs past the end of the data";
        const int32_t byteCount = readI32(data + offset + 8);
        offset += kQw2ChannelHeaderBytes;
        if (byteCount < 0) return "channel stream length is negative";
        if (size - offset < size_t(byteCount))
            return "channel stream runs past the end of the data";
        offset += size_t(byteCount);
    }
    return nullptr;
}

bool createQw2Lists(Qw2Lists& lists, int side) {
    lists = Qw2Lists{};
    const size_t entries = size_t(side) * size_t(side) + 2;
    lists.side = side;
    lists.insignificantPixels = static_cast<int32_t*>(std::malloc(entries * sizeof(int32_t)));
    lists.insignificantSets = static_cast<int32_t*>(std::malloc(entries * sizeof(int32_t)));
    lists.significantPixels = static_cast<int32_t*>(std::malloc(entries * sizeof(int32_t)));
    lists.significantValues = static_cast<int16_t*>(std::malloc(entries * sizeof(int16_t)));
    if (lists.insignificantPixels && lists.insignificantSets && lists.significantPixels &&
        lists.significantValues)
        return true;
    destroyQw2Lists(lists);
    return false;
}

void destroyQw2Lists(Qw2Lists& lists) {
    std::free(lists.insignificantPixels);
    std::free(lists.insignificantSets);
    std::free(lists.significantPixels);
    std::free(lists.significantValues);
    lists = Qw2Lists{};
}

int decodeQw2Significant(const uint8_t* stream, int32_t byteCount, int32_t budget,
                         Qw2Lists& lists) {
    const int a = lists.side;
    const int shift = log2Side(a);
    const int half = a / 2;
    int32_t* lip = lists.insignificantPixels;
    int32_t* lis = lists.insignificantSets;
    int32_t* lsp = lists.significantPixels;
    // A coefficient's value lives beside its significant-list entry: it starts at +T or -2T in
    // the pass that finds it (the refinement pass of that threshold reads no bit for it) and
    // gains refinement bits in order, so the passes never touch the plane. Only bits below T are
    // added, so every value fits 16 bits.
    int16_t* values = lists.significantValues;

    // Root band: pixels (0,0) (0,1) (1,0) (1,1); descendant sets of all but (0,0).
    int lipCount = 0;
    int lisCount = 0;
    int lspCount = 0;
    lip[lipCount++] = 0;
    lip[lipCount++] = 1;
    lip[lipCount++] = a;
    lip[lipCount++] = a + 1;
    lis[lisCount++] = 1 << 1;
    lis[lisCount++] = a << 1;
    lis[lisCount++] = (a + 1) << 1;

    BitSource bits{stream, byteCount > 0 ? int64_t(byteCount) * 8 : 0, 0};
    for (int32_t T = kQw2TopThreshold; bits.pos < budget && T > 0; T /= 2) {
        const int lspStart = lspCount;
        // Sorting pass. Once past the budget it ends on the spot, uncompacted: the threshold
        // loop cannot go on after that, so the half-compacted lists are never looked at again.
        bool ended = false;
        int kept = 0;
        int r = 0;
        // While the budget allows the entry and two bits are left, without branching on bits.
        const int64_t fastLast = std::min<int64_t>(budget, bits.bitCount - 2);
        for (; r < lipCount && bits.pos <= fastLast; ++r) {
            const int32_t index = lip[r];
            const int significant = bits.peek(bits.pos);
            lsp[lspCount] = index;
            values[lspCount] = int16_t(bits.peek(bits.pos + 1) ? T : -2 * T);
            lspCount += significant;
            lip[kept] = index;
            kept += 1 - significant;
            bits.pos += 1 + significant;
        }
        for (; r < lipCount; ++r) {
            if (bits.pos > budget) {
                ended = true;
                break;
            }
            const int32_t index = lip[r];
            if (bits.read() == 1) {
                lsp[lspCount] = index;
                values[lspCount++] = int16_t(bits.read() == 1 ? T : -2 * T);
            } else {
                lip[kept++] = index; // insignificant, or skipped for want of a bit
            }
        }
        if (!ended) {
            lipCount = kept;
            kept = 0;
            for (int r = 0; r < lisCount; ++r) { // lisCount grows as sets split
                if (bits.pos > budget) {
                    ended = true;
                    break;
                }
                const int32_t entry = lis[r];
                const int32_t index = entry >> 1;
                if (bits.read() != 1) {
                    lis[kept++] = entry;
                    continue;
                }
                const int i = index >> shift;
                const int j = index & (a - 1);
                // A root set of a 2 x 2 square has no children: nothing to follow.
                if (i >= half || j >= half) continue;
                const int32_t child = (2 * i) * a + 2 * j;
                const int32_t children[4] = {child, child + 1, child + a, child + a + 1};
                if ((entry & 1) == 0) {
                    for (const int32_t c : children) {
                        if (bits.read() == 1) {
                            lsp[lspCount] = c;
                            values[lspCount++] = int16_t(bits.read() == 1 ? T : -2 * T);
                        } else {
                            lip[lipCount++] = c;
                        }
                    }
                    if (2 * i < half && 2 * j < half) lis[lisCount++] = (index << 1) | 1;
                } else {
                    for (const int32_t c : children)
                        lis[lisCount++] = c << 1;
                }
            }
            if (!ended) lisCount = kept;
        }
        // Refinement pass; the budget is not consulted here.
        const int refined = int(std::min<int64_t>(lspStart, bits.bitCount - bits.pos));
        for (int k = 0; k < refined; ++k)
            values[k] = int16_t(values[k] | (-bits.peek(bits.pos + k) & T));
        bits.pos += refined;
        // Without bits no later pass can change anything.
        if (bits.pos >= bits.bitCount) break;
    }
    return lspCount;
}

void decodeQw2Coefficients(const uint8_t* stream, int32_t byteCount, int32_t budget,
                           Qw2Lists& lists, int32_t* plane) {
    std::memset(plane, 0, sizeof(int32_t) * size_t(lists.side) * size_t(lists.side));
    const int count = decodeQw2Significant(stream, byteCount, budget, lists);
    for (int k = 0; k < count; ++k)
        plane[lists.significantPixels[k]] = lists.significantValues[k];
}

namespace {

// Sample rows of one channel: row y starts at base + y * stride (stride 0: one shared row).
struct ChannelRows {
    const float* base = nullptr; // null: no channel (alpha of a three-channel picture)
    size_t stride = 0;
    const float* row(int y) const { return base ? base + size_t(y) * stride : nullptr; }
};

void convertRows(const ChannelRows& cbRows, const ChannelRows& crRows, const ChannelRows& yRows,
                 const ChannelRows& alphaRows, int width, int height, uint8_t* out) {
    for (int y = 0; y < height; ++y) {
        const float* cbRow = cbRows.row(y);
        const float* crRow = crRows.row(y);
        const float* yRow = yRows.row(y);
        const float* alphaRow = alphaRows.row(y);
        uint8_t* o = out + size_t(y) * size_t(width) * 4;
        int x = 0;
#if defined(__SSE2__)
        // Four pixels at a time with the same operations in the same order. max(v, 0) yields
        // its second operand for NaN, and min/truncate finish the byte rule.
        const __m128 offset = _mm_set1_ps(128.0f), zero = _mm_setzero_ps();
        const __m128 top = _mm_set1_ps(255.0f);
        const __m128 crToRed = _mm_set1_ps(1.4022f), cbToGreen = _mm_set1_ps(0.3456f);
        const __m128 crToGreen = _mm_set1_ps(0.7145f), cbToBlue = _mm_set1_ps(1.771f);
        for (; x + 4 <= width; x += 4) {
            const __m128 luma = _mm_loadu_ps(yRow + x);
            const __m128 cb = _mm_sub_ps(_mm_loadu_ps(cbRow + x), offset);
            const __m128 cr = _mm_sub_ps(_mm_loadu_ps(crRow + x), offset);
            const __m128 red = _mm_add_ps(luma, _mm_mul_ps(crToRed, cr));
            const __m128 green =
                _mm_sub_ps(_mm_sub_ps(luma, _mm_mul_ps(cbToGreen, cb)), _mm_mul_ps(crToGreen, cr));
            const __m128 blue = _mm_add_ps(luma, _mm_mul_ps(cbToBlue, cb));
            const __m128 alpha = alphaRow ? _mm_loadu_ps(alphaRow + x) : zero;
            const __m128i r = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(red, zero), top));
            const __m128i g = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(green, zero), top));
            const __m128i b = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(blue, zero), top));
            const __m128i al = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(alpha, zero), top));
            const __m128i rgba =
                _mm_or_si128(_mm_or_si128(r, _mm_slli_epi32(g, 8)),
                             _mm_or_si128(_mm_slli_epi32(b, 16), _mm_slli_epi32(al, 24)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), rgba);
            o += 16;
        }
#endif
        for (; x < width; ++x) {
            const float luma = yRow[x];
            const float cb = cbRow[x] - 128.0f;
            const float cr = crRow[x] - 128.0f;
            const float red = luma + 1.4022f * cr;
            const float green = luma - 0.3456f * cb - 0.7145f * cr;
            const float blue = luma + 1.771f * cb;
            o[0] = toByte(red);
            o[1] = toByte(green);
            o[2] = toByte(blue);
            o[3] = alphaRow ? toByte(alphaRow[x]) : 0; // three channels: alpha 0, not 255
            o += 4;
        }
    }
}

// Byte 3 of every pixel from the alpha channel's rows, by the same byte rule.
void convertAlphaRows(const ChannelRows& alphaRows, int width, int height, uint8_t* out) {
    for (int y = 0; y < height; ++y) {
        const float* alphaRow = alphaRows.row(y);
        uint8_t* o = out + size_t(y) * size_t(width) * 4 + 3;
        for (int x = 0; x < width; ++x, o += 4)
            *o = toByte(alphaRow[x]);
    }
}

} // namespace

void convertQw2Pixels(const float* const* planes, int channels, int side, int width, int height,
                      uint8_t* out) {
    const ChannelRows cb{planes[0], size_t(side)}, cr{planes[1], size_t(side)};
    const ChannelRows luma{planes[2], size_t(side)};
    const ChannelRows alpha{channels == 4 ? planes[3] : nullptr, size_t(side)};
    convertRows(cb, cr, luma, alpha, width, height, out);
}

namespace {

// One channel's fields in the file.
struct Qw2Channel {
    const uint8_t* stream = nullptr;
    float multiplier = 0.0f;
    int32_t budget = 0;
    int32_t byteCount = 0;
    // Without a bit to read no coefficient is set, and a finite multiplier turns the zeros into
    // +0, which the transform keeps: the whole channel is +0 and needs no plane.
    bool zero() const { return (byteCount <= 0 || budget <= 0) && std::isfinite(multiplier); }
};

// Entries the channel lists can need. Past the first few, every entry is added by a set that a
// bit read from the stream found significant (at most four each), so a short stream needs short
// lists whatever size its header declares.
size_t qw2ListEntries(size_t planeCount, int32_t byteCount) {
    return std::min(planeCount + 2, size_t(8) + size_t(32) * size_t(byteCount));
}

// Coefficients one stream can make significant: each costs a 1 bit and, unless that was the
// stream's last bit, the sign bit after it.
size_t qw2SignificantBound(size_t planeCount, int32_t byteCount) {
    return std::min(planeCount, size_t(4) * size_t(byteCount) + 1);
}

// Sets the set list can hold at once: a set enters it at most once, and only nodes of the top-left
// quarter have descendant sets (a sixteenth of the square grand-descendant ones). The root band's
// three sets are there even on a 2 x 2 square.
size_t qw2SetEntries(size_t planeCount, size_t listEntries) {
    return std::min(listEntries, planeCount / 4 + planeCount / 16 + 4);
}

// Hands mapped pages inside [p, p + bytes) back: lists of a channel that is done would otherwise
// stay resident beside the output until the decode ends. They read as zero when touched again.
void releaseRange(const Workspace& ws, void* p, size_t bytes) {
#ifdef __linux__
    if (!ws.mappedBytes || bytes == 0) return;
    const uintptr_t page = 4096;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
#else
    (void)ws, (void)p, (void)bytes;
#endif
}

// A coefficient of the finest level's three detail quarters, in the list of its input row (modulo
// half the side): whether it lies in the lower half, its column, and its integer value.
struct Qw2Detail {
    uint16_t place; // kQw2LowerHalf | column
    int16_t coefficient;
};
constexpr uint16_t kQw2LowerHalf = 1 << 13;
static_assert(kQw2MaxSide <= kQw2LowerHalf, "a column must fit below the half flag");
// A value starts at +T or -2T and gains only bits below T.
static_assert(kQw2TopThreshold <= 16384, "coefficients must fit 16 bits");

// One channel between its coefficients and its bands of rows: the coarser levels done on the
// top-left quarter of the square, the finest level's details sorted by their input row.
struct Qw2Decoded {
    float* quarter = nullptr; // null: every sample is +0
    // Row m's details are details[rowStart[m]] .. details[rowStart[m + 1] - 1].
    Qw2Detail* details = nullptr;
    int32_t* rowStart = nullptr;
    float multiplier = 0.0f;
    bool finite = true; // multiplier finite: the coefficients not stored are +0
    float zero = 0.0f;  // else they are this
};

// A band's rows hold about this many floats per channel, so that its input rows and the colour
// channels' results stay in cache until they are converted; but a band has at least
// kMinBandRows rows, as each band reads a few input rows more than its own.
constexpr int kBandFloats = 1 << 14;
constexpr int kMinBandRows = 16;
// Band rows lie this many floats further apart than they are long: at a power-of-two distance
// the rows that one column reads compete for the same cache sets.
constexpr size_t kBandRowPad = 16;

// Zeroes a quarter for its next channel. Quarters of 2 MB and more (powers of two, first in the
// workspace) fill whole pages, and mapped ones are handed back instead: they read as zero again
// and leave the resident set until touched, so rows a narrow picture never needs stay out of it.
void clearQuarter(const Workspace& ws, float* p, size_t bytes) {
#ifdef __linux__
    if (ws.mappedBytes && bytes >= kHugePage && madvise(p, bytes, MADV_DONTNEED) == 0) return;
#endif
    std::memset(p, 0, bytes);
}

// Puts a channel's significant coefficients where the bands want them: those of the top-left
// quarter into decoded.quarter (zero elsewhere already), the details sorted by their input row
// (counted, then placed) into decoded.details, so that a band finds its own.
void placeCoefficients(const int32_t* pixels, const int16_t* values, int count, int a,
                       Qw2Decoded& decoded) {
    const int half = a / 2;
    const int shift = log2Side(a);
    float* quarter = decoded.quarter;
    const float multiplier = decoded.multiplier;
    int32_t* start = decoded.rowStart;
    Qw2Detail* details = decoded.details;
    std::fill_n(start, half + 1, 0);
    for (int k = 0; k < count; ++k) {
        const int row = pixels[k] >> shift, column = pixels[k] & (a - 1);
        if (row < half && column < half)
            quarter[size_t(row) * size_t(half) + size_t(column)] = float(values[k]) * multiplier;
        else
            ++start[(row & (half - 1)) + 1];
    }
    for (int m = 0; m < half; ++m)
        start[m + 1] += start[m];
    for (int k = 0; k < count; ++k) {
        const int row = pixels[k] >> shift, column = pixels[k] & (a - 1);
        if (row >= half || column >= half)
            details[start[row & (half - 1)]++] = {
                uint16_t((row >= half ? kQw2LowerHalf : 0) | column), int16_t(values[k])};
    }
    for (int m = half; m > 0; --m) // each start moved to the next row's: move them back
        start[m] = start[m - 1];
    start[0] = 0;
}

// The finest level's input rows for one band of a channel: the quarter's rows with the upper
// half's details beside them, the lower half's details, and zeros between.
void fillWindow(const Qw2Decoded& decoded, int a, const WaveletBand& input, float* upper,
                float* lower, size_t stride) {
    const int half = a / 2;
    const float* quarter = decoded.quarter;
    const Qw2Detail* details = decoded.details;
    const int32_t* start = decoded.rowStart;
    const float multiplier = decoded.multiplier;
    for (int j = 0; j < input.count; ++j) {
        const int m = (input.first + j) & (half - 1);
        float* up = upper + size_t(j) * stride;
        float* low = lower + size_t(j) * stride;
        std::memcpy(up, quarter + size_t(m) * size_t(half), sizeof(float) * size_t(half));
        if (decoded.finite) {
            std::memset(up + half, 0, sizeof(float) * size_t(half));
            std::memset(low, 0, sizeof(float) * size_t(a));
        } else {
            std::fill(up + half, up + a, decoded.zero);
            std::fill(low, low + a, decoded.zero);
        }
        for (int k = start[m]; k < start[m + 1]; ++k)
            (details[k].place & kQw2LowerHalf ? low : up)[details[k].place & (kQw2LowerHalf - 1)] =
                float(details[k].coefficient) * multiplier;
    }
}

} // namespace

uint8_t* decodeQw2(const uint8_t* data, size_t size, int32_t& width, int32_t& height,
                   const char** reason) {
    Qw2Header header;
    if (const char* refused = checkQw2File(data, size, header)) {
        if (reason) *reason = refused;
        return nullptr;
    }
    const int a = qw2SquareSide(header.width, header.height);
    const int half = a / 2;
    const size_t planeCount = size_t(a) * size_t(a);
    const size_t quarterCount = size_t(half) * size_t(half);
    const size_t w = size_t(header.width), h = size_t(header.height);
    WaveletFilters filters;
    setupWaveletFilters(filters, header.filterKind);

    Qw2Channel channels[kQw2MaxChannels];
    int32_t codedBytes = 0; // the longest stream that can set a coefficient
    int slots = 0; // channels that may need a quarter, details and a band: alpha shares the first
    int slot[kQw2MaxChannels] = {};
    size_t offset = kQw2HeaderBytes;
    for (int c = 0; c < header.channels; ++c) {
        const uint8_t* field = data + offset;
        Qw2Channel& channel = channels[c];
        channel.stream = field + kQw2ChannelHeaderBytes;
        channel.multiplier = readF32(field) / 32767.0f;
        channel.budget = readI32(field + 4);
        channel.byteCount = readI32(field + 8);
        if (!channel.zero()) {
            codedBytes = std::max(codedBytes, channel.byteCount);
            slot[c] = c < 3 ? slots++ : 0;
            slots = std::max(slots, 1);
        }
        offset += kQw2ChannelHeaderBytes + size_t(channel.byteCount);
    }

    // Peak memory: the output, and per colour channel with bits the top-left quarter of its
    // square (where the coarser levels are done), the finest level's details and a band of its
    // rows. Alpha reuses the first of each once the colours are in the output. The square itself
    // is never stored.
    const bool anyPlane = slots > 0;
    const int bandRows = std::min(std::max(kMinBandRows, kBandFloats / a), int(h + 1) & ~1);
    const size_t stride = size_t(a) + kBandRowPad;
    const int windowRows = waveletBand(filters.taps, a, 0, bandRows).count;
    const size_t entries = qw2ListEntries(planeCount, codedBytes);
    const size_t quarterBytes = roundUp(sizeof(float) * quarterCount);
    // Pixel list: every coefficient is in it or in the significant list at most once. The
    // significant list gets two entries of slack: its sorting pass stores before it counts.
    const size_t sigEntries =
        qw2SignificantBound(planeCount, std::max<int32_t>(codedBytes, 0)) + 2;
    const size_t pixelListBytes = anyPlane ? roundUp(sizeof(int32_t) * entries) : 0;
    const size_t setListBytes =
        anyPlane ? roundUp(sizeof(int32_t) * qw2SetEntries(planeCount, entries)) : 0;
    const size_t sigBytes = anyPlane ? roundUp(sizeof(int32_t) * sigEntries) : 0;
    const size_t valueBytes = anyPlane ? roundUp(sizeof(int16_t) * sigEntries) : 0;
    const size_t listBytes = pixelListBytes + setListBytes + sigBytes + valueBytes;
    const size_t workBytes = anyPlane ? roundUp(sizeof(float) * inverseWaveletWorkFloats(a)) : 0;
    const size_t windowBytes = anyPlane ? roundUp(sizeof(float) * stride * size_t(windowRows)) : 0;
    const size_t bandBytes = roundUp(sizeof(float) * stride * size_t(bandRows));
    const size_t startBytes = roundUp(sizeof(int32_t) * (size_t(half) + 1));
    size_t detailBytes[kQw2MaxChannels] = {};
    for (int c = 0; c < header.channels; ++c)
        if (!channels[c].zero()) {
            const size_t bound = qw2SignificantBound(planeCount, channels[c].byteCount);
            detailBytes[slot[c]] =
                std::max(detailBytes[slot[c]], startBytes + roundUp(sizeof(Qw2Detail) * bound));
        }
    size_t total = size_t(slots) * (quarterBytes + bandBytes) + listBytes + workBytes +
                   2 * windowBytes + roundUp(sizeof(float) * w);
    for (int k = 0; k < slots; ++k)
        total += detailBytes[k];
    uint8_t* out = allocateOutput(w * h * 4);
    Workspace ws;
    if (!out || !createWorkspace(ws, total)) {
        std::free(out);
        if (reason) *reason = "out of memory";
        return nullptr;
    }
    uint8_t* cursor = ws.start;
    auto take = [&cursor](size_t bytes) {
        uint8_t* p = cursor;
        cursor += bytes;
        return p;
    };
    float* quarters[kQw2MaxChannels] = {};
    float* bands[kQw2MaxChannels] = {};
    for (int k = 0; k < slots; ++k) // first: see clearQuarter
        quarters[k] = reinterpret_cast<float*>(take(quarterBytes));
    const bool mapped = ws.mappedBytes != 0; // fresh mapped pages are zero already
    for (int k = 0; k < slots; ++k) {
        bands[k] = reinterpret_cast<float*>(take(bandBytes));
        // Columns no output needs are never computed, only read beside those that are.
        if (!mapped) std::memset(bands[k], 0, bandBytes);
    }
    Qw2Lists lists;
    lists.side = a;
    lists.insignificantPixels = reinterpret_cast<int32_t*>(take(pixelListBytes));
    lists.insignificantSets = reinterpret_cast<int32_t*>(take(setListBytes));
    lists.significantPixels = reinterpret_cast<int32_t*>(take(sigBytes));
    lists.significantValues = reinterpret_cast<int16_t*>(take(valueBytes));
    float* work = reinterpret_cast<float*>(take(workBytes));
    float* upper = reinterpret_cast<float*>(take(windowBytes));
    float* lower = reinterpret_cast<float*>(take(windowBytes));
    float* zeroRow = reinterpret_cast<float*>(take(roundUp(sizeof(float) * w)));
    std::memset(zeroRow, 0, sizeof(float) * w);
    uint8_t* details[kQw2MaxChannels] = {};
    for (int k = 0; k < slots; ++k)
        details[k] = take(detailBytes[k]);

    // Decodes channel c and does its coarser levels in its quarter; the result has no quarter
    // when the channel turns out all +0. After the last channel before a pass of bands the lists
    // are handed back as soon as each is done with, so that they never add to the output.
    auto decodeChannel = [&](int c, bool quarterClean, bool last) {
        const Qw2Channel& channel = channels[c];
        Qw2Decoded decoded;
        if (channel.zero()) return decoded;
        // The bound holds by the coder's rules; the clamp keeps the details in their store anyway.
        const size_t bound = qw2SignificantBound(planeCount, channel.byteCount);
        const int count = int(
            std::min<size_t>(bound, size_t(decodeQw2Significant(channel.stream, channel.byteCount,
                                                                channel.budget, lists))));
        if (last) releaseRange(ws, lists.insignificantPixels, pixelListBytes + setListBytes);
        const auto releaseSignificant = [&] {
            if (last) releaseRange(ws, lists.significantPixels, sigBytes + valueBytes);
        };
        const float multiplier = channel.multiplier;
        if (count == 0 && std::isfinite(multiplier)) {
            releaseSignificant();
            return decoded;
        }
        // Every other coefficient is 0, and 0 x a finite multiplier is a zero the transform
        // treats like +0, bit for bit.
        float* quarter = quarters[slot[c]];
        decoded.quarter = quarter;
        decoded.finite = std::isfinite(multiplier);
        decoded.zero = decoded.finite ? 0.0f : 0.0f * multiplier;
        if (!decoded.finite)
            std::fill_n(quarter, quarterCount, decoded.zero);
        else if (!quarterClean)
            std::memset(quarter, 0, sizeof(float) * quarterCount);
        decoded.details = reinterpret_cast<Qw2Detail*>(details[slot[c]] + startBytes);
        decoded.rowStart = reinterpret_cast<int32_t*>(details[slot[c]]);
        decoded.multiplier = multiplier;
        placeCoefficients(lists.significantPixels, lists.significantValues, count, a, decoded);
        releaseSignificant();
        inverseWaveletCoarseLevels(filters, quarter, a, work, header.width, header.height);
        return decoded;
    };
    const ChannelRows zeros{zeroRow, 0};
    // Rows y0 .. y0 + rows - 1 of a decoded channel, in band.
    auto bandOf = [&](const Qw2Decoded& decoded, float* band, int y0, int rows) {
        if (!decoded.quarter) return zeros;
        const WaveletBand input = waveletBand(filters.taps, a, y0, rows);
        fillWindow(decoded, a, input, upper, lower, stride);
        inverseWaveletFinestRows(filters, a, upper, lower, stride, rows, band, work);
        return ChannelRows{band, stride};
    };

    int lastColour = -1;
    for (int c = 0; c < 3; ++c)
        if (!channels[c].zero()) lastColour = c;
    Qw2Decoded colours[3];
    for (int c = 0; c < 3; ++c)
        colours[c] = decodeChannel(c, mapped, c == lastColour);
    if (anyPlane) prepareWaveletFinestRows(filters, a, header.width, work);
    for (int y0 = 0; y0 < header.height; y0 += bandRows) {
        const int rows = std::min(bandRows, header.height - y0);
        const ChannelRows cb = bandOf(colours[0], bands[slot[0]], y0, rows);
        const ChannelRows cr = bandOf(colours[1], bands[slot[1]], y0, rows);
        const ChannelRows luma = bandOf(colours[2], bands[slot[2]], y0, rows);
        convertRows(cb, cr, luma, ChannelRows{}, header.width, rows, out + size_t(y0) * w * 4);
    }
    // Alpha last, into byte 3; a three-channel picture or an all-zero alpha keeps the 0.
    if (header.channels == 4 && !channels[3].zero()) {
        bool clean = mapped;
        if (colours[0].quarter || colours[1].quarter || colours[2].quarter) {
            clearQuarter(ws, quarters[0], quarterBytes);
            clean = true;
        }
        const Qw2Decoded alpha = decodeChannel(3, clean, true);
        if (alpha.quarter) {
            prepareWaveletFinestRows(filters, a, header.width, work);
            for (int y0 = 0; y0 < header.height; y0 += bandRows) {
                const int rows = std::min(bandRows, header.height - y0);
                convertAlphaRows(bandOf(alpha, bands[0], y0, rows), header.width, rows,
                                 out + size_t(y0) * w * 4);
            }
        }
    }

    destroyWorkspace(ws);
    width = header.width;
    height = header.height;
    return out;
}
