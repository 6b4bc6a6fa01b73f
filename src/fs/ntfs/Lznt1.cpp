#include "fs/ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>

namespace kelvara {
namespace {

constexpr std::size_t kChunkOutput = 4096;

// Decodes one compressed chunk's data into dst (at most dstSize bytes); returns bytes made.
std::size_t decodeChunk(const std::uint8_t* src, std::size_t srcSize, std::uint8_t* dst, std::size_t dstSize) {
    std::size_t in = 0, out = 0;
    while (in < srcSize && out < dstSize) {
        const std::uint8_t flags = src[in++];
        for (int bit = 0; bit < 8 && in < srcSize && out < dstSize; ++bit) {
            if (!((flags >> bit) & 1)) {
                dst[out++] = src[in++];
                continue;
            }
            if (srcSize - in < 2) return out;
            const std::uint16_t token = static_cast<std::uint16_t>(src[in] | (src[in + 1] << 8));
            in += 2;
            // The split between offset and length moves with the distance from the
            // chunk's start: 12 length bits at first, one fewer per doubling past 16.
            unsigned lengthBits = 12;
            for (std::size_t p = out - 1; out > 0 && p >= 0x10; p >>= 1) --lengthBits;
            const std::size_t offset = (token >> lengthBits) + 1u;
            std::size_t length = (token & ((1u << lengthBits) - 1)) + 3u;
            if (offset > out) return out;  // reaches before the chunk: corrupt
            length = std::min(length, dstSize - out);
            for (std::size_t k = 0; k < length; ++k, ++out) dst[out] = dst[out - offset];
        }
    }
    return out;
}

}  // namespace

std::size_t lznt1Decompress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    std::size_t pos = 0, produced = 0;
    while (pos + 2 <= in.size() && produced < out.size()) {
        const std::uint16_t header = static_cast<std::uint16_t>(in[pos] | (in[pos + 1] << 8));
        const std::size_t size = (header & 0x0FFF) + 1u;
        if ((header & 0x0FFF) == 0) break;
        pos += 2;
        if (size > in.size() - pos) break;
        const std::size_t room = std::min(kChunkOutput, out.size() - produced);
        std::size_t made;
        if (header & 0x8000) {
            made = decodeChunk(in.data() + pos, size, out.data() + produced, room);
        } else {
            made = std::min(size, room);
            std::memcpy(out.data() + produced, in.data() + pos, made);
        }
        pos += size;
        // A chunk that made less than its 4096 bytes stands for zeros up to them; the
        // last chunk of the input is not padded.
        const bool more = pos + 2 <= in.size() && (in[pos] | (in[pos + 1] << 8)) & 0x0FFF;
        if (more && made < room) {
            std::memset(out.data() + produced + made, 0, room - made);
            made = room;
        }
        produced += made;
    }
    return produced;
}

}  // namespace kelvara
