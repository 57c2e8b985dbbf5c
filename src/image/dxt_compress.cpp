#include "image/dxt_compress.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring> // stb_dxt uses memcpy without including it
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#include <stb/stb_dxt.h>

namespace {

// stb's alpha half for a block of one alpha value: both endpoints that value, every index 1
// (the second endpoint). Opaque pictures are all such blocks, and stb's general search over
// them took a quarter of the compression time.
void writeUniformAlphaBlock(uint8_t alpha, uint8_t* out) {
    static const uint8_t kIndicesAllOne[6] = {0x49, 0x92, 0x24, 0x49, 0x92, 0x24};
    out[0] = alpha;
    out[1] = alpha;
    std::memcpy(out + 2, kIndicesAllOne, sizeof kIndicesAllOne);
}

// The colour half. stb's principal-axis search (covariance and power iteration per block) was
// three quarters of the load time of the demo's pictures; the end points here come from the
// block's bounding box instead: its diagonal that follows the colours' correlation, pulled in
// by a sixteenth of the range at each end (the extremes are rarely worth a palette entry).
// stb's projection onto the line and its least-squares refinement then do the rest.
// Lowest and highest value of each channel (alpha last) over the block's 16 pixels.
void blockBounds(const uint8_t* block, int low[4], int high[4]) {
#ifdef __SSE2__
    const __m128i* rows = reinterpret_cast<const __m128i*>(block);
    const __m128i r0 = _mm_loadu_si128(rows), r1 = _mm_loadu_si128(rows + 1);
    const __m128i r2 = _mm_loadu_si128(rows + 2), r3 = _mm_loadu_si128(rows + 3);
    __m128i lo = _mm_min_epu8(_mm_min_epu8(r0, r1), _mm_min_epu8(r2, r3));
    __m128i hi = _mm_max_epu8(_mm_max_epu8(r0, r1), _mm_max_epu8(r2, r3));
    lo = _mm_min_epu8(lo, _mm_shuffle_epi32(lo, 0x4e));
    hi = _mm_max_epu8(hi, _mm_shuffle_epi32(hi, 0x4e));
    lo = _mm_min_epu8(lo, _mm_shuffle_epi32(lo, 0xb1));
    hi = _mm_max_epu8(hi, _mm_shuffle_epi32(hi, 0xb1));
    const uint32_t l = uint32_t(_mm_cvtsi128_si32(lo)), h = uint32_t(_mm_cvtsi128_si32(hi));
    for (int c = 0; c < 4; ++c) {
        low[c] = int((l >> (8 * c)) & 255);
        high[c] = int((h >> (8 * c)) & 255);
    }
#else
    for (int c = 0; c < 4; ++c) {
        int lo = block[c], hi = block[c];
        for (int i = 1; i < 16; ++i) {
            const int v = block[i * 4 + c];
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        low[c] = lo;
        high[c] = hi;
    }
#endif
}

// Sums over the block of the products of the pixels' offsets from the box centre (doubled,
// to stay integer) for the channel pairs red-green, green-blue and blue-red: their signs say
// which diagonal of the box the colours follow.
void blockCovariances(const uint8_t* block, const int low[3], const int high[3], int& rg, int& gb,
                      int& br) {
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i centre = _mm_setr_epi16(short(low[0] + high[0]), short(low[1] + high[1]),
                                          short(low[2] + high[2]), 0, short(low[0] + high[0]),
                                          short(low[1] + high[1]), short(low[2] + high[2]), 0);
    const __m128i redBlue = _mm_setr_epi16(-1, 0, -1, 0, -1, 0, -1, 0);
    __m128i sumRedBlue = zero, sumGreenAlpha = zero;
    for (int row = 0; row < 4; ++row) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block) + row);
        for (const __m128i wide :
             {_mm_unpacklo_epi8(pixels, zero), _mm_unpackhi_epi8(pixels, zero)}) {
            const __m128i offset = _mm_sub_epi16(_mm_add_epi16(wide, wide), centre);
            // (g, b, r, a) beside (r, g, b, a): with every other lane masked, the pairwise
            // products give r*g and b*r, then g*b (and a*a, unused).
            const __m128i partner = _mm_shufflehi_epi16(
                _mm_shufflelo_epi16(offset, _MM_SHUFFLE(3, 0, 2, 1)), _MM_SHUFFLE(3, 0, 2, 1));
            sumRedBlue =
                _mm_add_epi32(sumRedBlue, _mm_madd_epi16(_mm_and_si128(offset, redBlue), partner));
            sumGreenAlpha = _mm_add_epi32(
                sumGreenAlpha, _mm_madd_epi16(_mm_andnot_si128(redBlue, offset), partner));
        }
    }
    alignas(16) int32_t a[4], b[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), sumRedBlue);
    _mm_store_si128(reinterpret_cast<__m128i*>(b), sumGreenAlpha);
    rg = a[0] + a[2];
    br = a[1] + a[3];
    gb = b[0] + b[2];
#else
    rg = gb = br = 0;
    for (int i = 0; i < 16; ++i) {
        const int r = 2 * block[i * 4] - low[0] - high[0];
        const int g = 2 * block[i * 4 + 1] - low[1] - high[1];
        const int b = 2 * block[i * 4 + 2] - low[2] - high[2];
        rg += r * g;
        gb += g * b;
        br += b * r;
    }
#endif
}

// The two-bit index of each pixel: its projection on the line between the end points, cut at
// the midpoints between the four palette colours, exactly as stb's matcher cuts them. The
// SSE2 path projects four pixels at a time; stb's one-pixel loop was half of the compression
// time.
uint32_t matchColors(const uint8_t* block, const uint8_t* palette) {
    const int dirR = palette[0] - palette[4];
    const int dirG = palette[1] - palette[5];
    const int dirB = palette[2] - palette[6];
    int stops[4];
    for (int i = 0; i < 4; ++i)
        stops[i] = palette[i * 4] * dirR + palette[i * 4 + 1] * dirG + palette[i * 4 + 2] * dirB;
    const int c0Point = stops[1] + stops[3];
    const int halfPoint = stops[3] + stops[2];
    const int c3Point = stops[2] + stops[0];
    uint32_t mask = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i dir = _mm_setr_epi16(short(dirR), short(dirG), short(dirB), 0, short(dirR),
                                       short(dirG), short(dirB), 0);
    const __m128i half = _mm_set1_epi32(halfPoint);
    const __m128i second = _mm_set1_epi32(c0Point);
    const __m128i third = _mm_set1_epi32(c3Point);
    const __m128i two = _mm_set1_epi32(2), three = _mm_set1_epi32(3);
    const __m128i placeBits = _mm_setr_epi16(1, 0, 4, 0, 16, 0, 64, 0);
    for (int row = 0; row < 4; ++row) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block) + row);
        // r*dirR + g*dirG and b*dirB per pixel, then the two halves added.
        __m128i front = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), dir);
        __m128i back = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), dir);
        front = _mm_add_epi32(front, _mm_srli_epi64(front, 32));
        back = _mm_add_epi32(back, _mm_srli_epi64(back, 32));
        __m128i dots = _mm_castps_si128(_mm_shuffle_ps(
            _mm_castsi128_ps(front), _mm_castsi128_ps(back), _MM_SHUFFLE(2, 0, 2, 0)));
        dots = _mm_add_epi32(dots, dots);
        const __m128i lower = _mm_cmplt_epi32(dots, half);
        // Lower half: 1 near the second end point, else 3; upper: 2 near the third, else 0.
        const __m128i low = _mm_xor_si128(three, _mm_and_si128(_mm_cmplt_epi32(dots, second), two));
        const __m128i high = _mm_and_si128(_mm_cmplt_epi32(dots, third), two);
        const __m128i index =
            _mm_or_si128(_mm_and_si128(lower, low), _mm_andnot_si128(lower, high));
        // Each pixel's index to its bit place, then the four added into one byte.
        __m128i placed = _mm_madd_epi16(index, placeBits);
        placed = _mm_add_epi32(placed, _mm_shuffle_epi32(placed, 0x4e));
        placed = _mm_add_epi32(placed, _mm_shuffle_epi32(placed, 0xb1));
        mask |= uint32_t(_mm_cvtsi128_si32(placed)) << (8 * row);
    }
#else
    for (int i = 0; i < 16; ++i) {
        const int dot =
            2 * (block[i * 4] * dirR + block[i * 4 + 1] * dirG + block[i * 4 + 2] * dirB);
        uint32_t index;
        if (dot < halfPoint)
            index = dot < c0Point ? 1 : 3;
        else
            index = dot < c3Point ? 2 : 0;
        mask |= index << (2 * i);
    }
#endif
    return mask;
}

#ifdef __SSE2__
// For each byte of indices (four pixels), the four weights of the first end point (3, 0, 2
// and 1 thirds for indices 0 to 3), one byte each.
constexpr std::array<uint32_t, 256> makeRowWeights() {
    std::array<uint32_t, 256> table{};
    const uint32_t weight[4] = {3, 0, 2, 1};
    for (uint32_t m = 0; m < 256; ++m)
        for (int j = 0; j < 4; ++j)
            table[m] |= weight[(m >> (2 * j)) & 3] << (8 * j);
    return table;
}
constexpr std::array<uint32_t, 256> kRowWeights = makeRowWeights();
#endif

// Set bits of a word; __builtin_popcount is a library call on processors without POPCNT.
int bitCount(uint32_t v) {
    v = v - ((v >> 1) & 0x55555555u);
    v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
    return int((((v + (v >> 4)) & 0x0f0f0f0fu) * 0x01010101u) >> 24);
}

// stb's least-squares refinement of the end points for the given indices, with the same
// integer sums and the same float steps, so the result is stb's bit for bit; the SSE2 path
// sums four pixels at a time and counts the indices by bits instead of a table per pixel.
bool refineEndpoints(const uint8_t* block, uint16_t* max16, uint16_t* min16, uint32_t mask) {
#ifdef __SSE2__
    if ((mask ^ (mask << 2)) < 4) // one index for all: stb solves that from the mean colour
        return stb__RefineBlock(const_cast<uint8_t*>(block), max16, min16, mask) != 0;
    const __m128i zero = _mm_setzero_si128();
    __m128i weighted = zero, plain = zero; // 16-bit sums: pixels 0 and 2 of a row, 1 and 3
    for (int row = 0; row < 4; ++row) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block) + row);
        const __m128i front = _mm_unpacklo_epi8(pixels, zero),
                      back = _mm_unpackhi_epi8(pixels, zero);
        const __m128i bytes = _mm_cvtsi32_si128(int(kRowWeights[(mask >> (8 * row)) & 255]));
        const __m128i pairs =
            _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), _mm_unpacklo_epi8(bytes, zero));
        // (w0 x4, w1 x4) and (w2 x4, w3 x4): each pixel's weight on its four channels.
        const __m128i frontWeights = _mm_unpacklo_epi32(pairs, pairs);
        const __m128i backWeights = _mm_unpackhi_epi32(pairs, pairs);
        weighted = _mm_add_epi16(weighted, _mm_add_epi16(_mm_mullo_epi16(front, frontWeights),
                                                         _mm_mullo_epi16(back, backWeights)));
        plain = _mm_add_epi16(plain, _mm_add_epi16(front, back));
    }
    alignas(16) uint16_t w[8], p[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(w), weighted);
    _mm_store_si128(reinterpret_cast<__m128i*>(p), plain);
    const int at1R = w[0] + w[4], at1G = w[1] + w[5], at1B = w[2] + w[6];
    const int at2R = 3 * (p[0] + p[4]) - at1R;
    const int at2G = 3 * (p[1] + p[5]) - at1G;
    const int at2B = 3 * (p[2] + p[6]) - at1B;
    const uint32_t lowBits = mask & 0x55555555u, highBits = (mask >> 1) & 0x55555555u;
    const int threes = bitCount(lowBits & highBits);
    const int ones = bitCount(lowBits & ~highBits);
    const int twos = bitCount(highBits & ~lowBits);
    const int zeros = 16 - ones - twos - threes;
    const int xx = 9 * zeros + 4 * twos + threes;
    const int yy = 9 * ones + twos + 4 * threes;
    const int xy = 2 * (twos + threes);

    const uint16_t oldMax = *max16, oldMin = *min16;
    const float f = 3.0f / 255.0f / float(xx * yy - xy * xy);
    *max16 = uint16_t(stb__Quantize5(float(at1R * yy - at2R * xy) * f) << 11 |
                      stb__Quantize6(float(at1G * yy - at2G * xy) * f) << 5 |
                      stb__Quantize5(float(at1B * yy - at2B * xy) * f));
    *min16 = uint16_t(stb__Quantize5(float(at2R * xx - at1R * xy) * f) << 11 |
                      stb__Quantize6(float(at2G * xx - at1G * xy) * f) << 5 |
                      stb__Quantize5(float(at2B * xx - at1B * xy) * f));
    return oldMax != *max16 || oldMin != *min16;
#else
    return stb__RefineBlock(const_cast<uint8_t*>(block), max16, min16, mask) != 0;
#endif
}

// Blocks whose colours spread over at most this many levels in every channel are encoded as
// their mean colour. A line through so little spread mostly fits the 5:6:5 rounding of its
// ends; over the demo's pictures (a fifth of their blocks) the mean loses less, in a tenth of
// the time.
constexpr int kFlatSpread = 4;

// Each colour channel's mean over the block's 16 pixels, rounded.
void blockMean(const uint8_t* block, int mean[3]) {
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    __m128i sum = zero; // 16-bit sums of pixels 0 and 1 of each row (16 x 255 fits)
    for (int row = 0; row < 4; ++row) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block) + row);
        sum = _mm_add_epi16(
            sum, _mm_add_epi16(_mm_unpacklo_epi8(pixels, zero), _mm_unpackhi_epi8(pixels, zero)));
    }
    sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
    alignas(16) uint16_t sums[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), sum);
    for (int c = 0; c < 3; ++c)
        mean[c] = (sums[c] + 8) >> 4;
#else
    for (int c = 0; c < 3; ++c) {
        int sum = 8;
        for (int i = 0; i < 16; ++i)
            sum += block[i * 4 + c];
        mean[c] = sum >> 4;
    }
#endif
}

void compressColorBlock(const uint8_t* block, const int low[4], const int high[4], uint8_t* out) {
    uint32_t mask = 0;
    uint16_t max16, min16;
    if (std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2]}) <= kFlatSpread) {
        // Nearly one colour: its mean, which stb's tables reach exactly through the 2/3 point.
        int mean[3];
        blockMean(block, mean);
        const int r = mean[0], g = mean[1], b = mean[2];
        mask = 0xaaaaaaaau;
        max16 =
            uint16_t((stb__OMatch5[r][0] << 11) | (stb__OMatch6[g][0] << 5) | stb__OMatch5[b][0]);
        min16 =
            uint16_t((stb__OMatch5[r][1] << 11) | (stb__OMatch6[g][1] << 5) | stb__OMatch5[b][1]);
    } else {
        // The widest channel leads; a channel falling as it rises runs the other way. Selects,
        // not branches: these choices follow the picture, which no predictor guesses.
        const int w0 = high[0] - low[0], w1 = high[1] - low[1], w2 = high[2] - low[2];
        const int lead = w2 > std::max(w0, w1) ? 2 : w1 > w0 ? 1 : 0;
        int rg, gb, br;
        blockCovariances(block, low, high, rg, gb, br);
        const bool against[3] = {(lead == 1 && rg < 0) || (lead == 2 && br < 0),
                                 (lead == 0 && rg < 0) || (lead == 2 && gb < 0),
                                 (lead == 0 && br < 0) || (lead == 1 && gb < 0)};
        int first[3], second[3];
        for (int c = 0; c < 3; ++c) {
            const int inset = (high[c] - low[c]) / 16;
            const int top = high[c] - inset, bottom = low[c] + inset;
            first[c] = against[c] ? bottom : top;
            second[c] = against[c] ? top : bottom;
        }
        max16 = stb__As16Bit(first[0], first[1], first[2]);
        min16 = stb__As16Bit(second[0], second[1], second[2]);
        uint8_t palette[16];
        if (max16 != min16) {
            stb__EvalColors(palette, max16, min16);
            mask = matchColors(block, palette);
        }
        if (refineEndpoints(block, &max16, &min16, mask)) {
            if (max16 != min16) {
                stb__EvalColors(palette, max16, min16);
                mask = matchColors(block, palette);
            } else {
                mask = 0;
            }
        }
    }
    // Four colours need the first end point above the second.
    const uint32_t flip = uint32_t(0) - uint32_t(max16 < min16);
    const uint16_t both = uint16_t((max16 ^ min16) & flip);
    max16 = uint16_t(max16 ^ both);
    min16 = uint16_t(min16 ^ both);
    mask ^= flip & 0x55555555u;
    out[0] = uint8_t(max16);
    out[1] = uint8_t(max16 >> 8);
    out[2] = uint8_t(min16);
    out[3] = uint8_t(min16 >> 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = uint8_t(mask >> (8 * i));
}

} // namespace

size_t dxt5Bytes(int32_t width, int32_t height) {
    return size_t((width + 3) / 4) * size_t((height + 3) / 4) * 16;
}

void compressDxt5Block(const uint8_t* rgba, uint8_t* out) {
    int low[4], high[4];
    blockBounds(rgba, low, high);
    if (low[3] == high[3])
        writeUniformAlphaBlock(uint8_t(low[3]), out);
    else
        stb__CompressAlphaBlock(out, const_cast<uint8_t*>(rgba) + 3, 4);
    compressColorBlock(rgba, low, high, out + 8);
}

void compressDxt5(const uint8_t* rgba, int32_t width, int32_t height, uint8_t* blocks) {
    uint8_t buffers[2][16 * 4];
    uint8_t* block = buffers[0];
    const uint8_t* previous = nullptr;
    for (int32_t by = 0; by < height; by += 4) {
        for (int32_t bx = 0; bx < width; bx += 4) {
            if (bx + 4 <= width && by + 4 <= height) {
                for (int32_t y = 0; y < 4; ++y)
                    std::memcpy(block + y * 16,
                                rgba + (size_t(by + y) * size_t(width) + size_t(bx)) * 4, 16);
            } else {
                for (int32_t y = 0; y < 4; ++y) {
                    const int32_t sy = std::min(by + y, height - 1);
                    for (int32_t x = 0; x < 4; ++x) {
                        const int32_t sx = std::min(bx + x, width - 1);
                        std::memcpy(block + (y * 4 + x) * 4,
                                    rgba + (size_t(sy) * size_t(width) + size_t(sx)) * 4, 4);
                    }
                }
            }
            // Flat and transparent areas repeat whole blocks: the one before's bytes serve.
            if (previous && std::memcmp(block, previous, sizeof buffers[0]) == 0)
                std::memcpy(blocks, blocks - 16, 16);
            else
                compressDxt5Block(block, blocks);
            previous = block;
            block = block == buffers[0] ? buffers[1] : buffers[0];
            blocks += 16;
        }
    }
}

namespace {

// Case-blind: drivers spell the same renderer differently ("SwiftShader", "Google
// SwiftShader", "swiftshader").
bool containsIgnoringCase(const char* text, const char* part) {
    const size_t partLength = std::strlen(part);
    for (const char* at = text; *at; ++at) {
        size_t i = 0;
        while (i < partLength && at[i] &&
               std::tolower(static_cast<unsigned char>(at[i])) ==
                   std::tolower(static_cast<unsigned char>(part[i])))
            ++i;
        if (i == partLength) return true;
    }
    return false;
}

} // namespace

bool isSoftwareRenderer(const char* renderer) {
    if (!renderer) return false;
    for (const char* name : {"llvmpipe", "softpipe", "swiftshader"})
        if (containsIgnoringCase(renderer, name)) return true;
    return false;
}

DxtChoice chooseDxt(bool asked, bool forced, const char* renderer) {
    if (!asked) return DxtChoice::off;
    if (forced || !isSoftwareRenderer(renderer)) return DxtChoice::on;
    return DxtChoice::offOnSoftwareRenderer;
}
