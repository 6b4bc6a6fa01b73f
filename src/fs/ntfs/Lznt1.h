#pragma once
// LZNT1, the compression of NTFS compression units.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvara {

// Decompresses one compression unit's stored bytes into out. Every chunk stands for
// 4096 bytes of output: a literal chunk is copied, a compressed one decoded, and what a
// chunk leaves short of 4096 is zero. Stops at a zero chunk header, at a chunk that
// runs past the input, or when out is full. Returns the bytes of out produced (the
// rest of out is left untouched).
std::size_t lznt1Decompress(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

}  // namespace kelvara
