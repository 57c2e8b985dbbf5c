#include "support/scene_bomb.h"

#include "writers/byte_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

// One gzip member holding the bytes; gzread reads concatenated members as one stream.
std::vector<uint8_t> gzipMember(const uint8_t* bytes, size_t count) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, uLong(count)));
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = uInt(count);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

std::vector<uint8_t> zeroMember(size_t count) {
    const std::vector<uint8_t> zeros(count, 0);
    return gzipMember(zeros.data(), zeros.size());
}

} // namespace

bool writeSceneBomb(const std::string& path, int64_t fileBytes, int32_t keyBytes) {
    constexpr int64_t kPiece = int64_t(8) << 20;
    const int64_t dataBytes = keyBytes > 1 ? int64_t(keyBytes) - 1 : 0;
    const std::vector<uint8_t> piece = zeroMember(size_t(kPiece));
    const std::vector<uint8_t> tail = zeroMember(size_t(dataBytes % kPiece));
    const int64_t pieces = dataBytes / kPiece;
    const int64_t keyFileBytes = 16 + pieces * int64_t(piece.size()) + int64_t(tail.size());
    const int64_t keys = std::max<int64_t>(1, std::min<int64_t>(65535, fileBytes / keyFileBytes));

    std::vector<uint8_t> head(302, 0);
    const uint32_t endTicks = 4800;
    std::memcpy(head.data() + 4, &endTicks, 4);
    head[8] = 1; // one track, no elements counted
    const char name[64] = "bomb";
    head.insert(head.end(), name, name + 64);
    head.push_back(uint8_t(keys & 0xff));
    head.push_back(uint8_t(keys >> 8));
    head.push_back(3); // a type nothing uses
    head.push_back(0);

    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = true;
    const auto put = [&](const std::vector<uint8_t>& bytes) {
        ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    };
    put(gzipMember(head.data(), head.size()));
    for (int64_t k = 0; k < keys && ok; ++k) {
        std::vector<uint8_t> keyHead;
        ByteWriter w{keyHead};
        w.u32(uint32_t(keyBytes));
        w.u32(0);
        w.u8(0);
        put(gzipMember(keyHead.data(), keyHead.size()));
        for (int64_t p = 0; p < pieces; ++p)
            put(piece);
        if (dataBytes % kPiece) put(tail);
    }
    return std::fclose(file) == 0 && ok;
}
