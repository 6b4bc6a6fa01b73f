// LZNT1 over any bytes as one compression unit's stored bytes, into outputs of the
// usual unit size and of odd sizes that end inside a chunk.

#include <vector>

#include "fs/ntfs/Lznt1.h"
#include "fuzz/FuzzTarget.h"

KELVARA_FUZZ_TARGET(lznt1) {
    const std::span<const std::uint8_t> in(data, size);
    for (std::size_t outSize : {std::size_t(65536), std::size_t(4096), std::size_t(4095), std::size_t(1)}) {
        // Exactly sized, so that a write past the end is caught by the sanitizers.
        std::vector<std::uint8_t> out(outSize);
        const std::size_t produced = kelvara::lznt1Decompress(in, out);
        if (produced > outSize) __builtin_trap();
    }
    return 0;
}
