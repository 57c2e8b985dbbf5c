// Little-endian fields appended to a byte vector: what every writer here, and the importer's
// record of its result, lay their files out with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct ByteWriter {
    std::vector<uint8_t>& out;

    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) {
        out.push_back(uint8_t(v));
        out.push_back(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void f32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        u32(bits);
    }
    // s in a fixed field of `field` bytes: cut to fit, padded with zeros.
    void text(const std::string& s, size_t field) {
        for (size_t i = 0; i < field; ++i)
            out.push_back(i < s.size() ? uint8_t(s[i]) : 0);
    }
    void zeros(size_t n) { out.insert(out.end(), n, 0); }
    void append(const void* data, size_t size) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        out.insert(out.end(), p, p + size);
    }
    void append(const std::vector<uint8_t>& v) { append(v.data(), v.size()); }
    // A 32-bit length, then that many bytes.
    void sized(const void* data, size_t size) {
        u32(uint32_t(size));
        append(data, size);
    }
    void sized(const std::string& s) { sized(s.data(), s.size()); }
    void sized(const std::vector<uint8_t>& v) { sized(v.data(), v.size()); }
};
