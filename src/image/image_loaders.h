// PNG and JPEG adapters: decode an open stdio stream into a malloc'd buffer of 4-byte pixels
// (blue, green, red, fourth byte), rows from the top down, no gaps. They take ownership of the
// stream and close it exactly once on every path; on failure they return null and leave the
// size untouched. No GL, no messages of their own: a refusal's reason is handed back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Larger pictures are refused before anything is allocated: 16 reduced levels cover 65536
// pixels a side, and the pixel count keeps a level within 256 MB.
constexpr int32_t kMaxImageSide = 65536;
constexpr int64_t kMaxImagePixels = int64_t(1) << 26;

// Room for the reason an adapter gives for a refusal: the library's own message, or our
// size limit with the picture's size.
constexpr size_t kImageReasonBytes = 160;

// The fourth byte is alpha, 255 where the image has none. Grey pictures come out as colour.
// reason, when given (kImageReasonBytes), receives why a file was refused.
uint8_t* loadPng(FILE* file, int32_t* width, int32_t* height, char* reason = nullptr);

// The fourth byte carries no meaning (the texture manager sets it). Grey pictures come out as
// colour; other component counts (CMYK) and files that end early are refused. reason as above.
uint8_t* loadJpeg(FILE* file, int32_t* width, int32_t* height, char* reason = nullptr);

// The texture manager's side of the same: why its last loadImageFile failed ("" after a
// success), and the largest side it accepts before decoding (0: only the adapters' limits).
// loadTexture sets the side to the GL context's maximum texture size for the pictures it
// uploads, so a picture GL cannot take is refused before memory is spent on it.
const char* imageLoadFailure();
void setImageSideLimit(int32_t maxSide);

inline bool imageSizeAllowed(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height <= kMaxImagePixels;
}

// The reason for a picture imageSizeAllowed refuses (reason: kImageReasonBytes).
inline void describeOversizedImage(char* reason, int64_t width, int64_t height) {
    std::snprintf(reason, kImageReasonBytes,
                  "%lldx%lld pixels is outside the size allowed (1 to %i a side, %lld in all)",
                  static_cast<long long>(width), static_cast<long long>(height), int(kMaxImageSide),
                  static_cast<long long>(kMaxImagePixels));
}
