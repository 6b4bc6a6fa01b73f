// The run-list decoder over any bytes: the first eight give the cluster limit, the rest
// is the list. Every run kept must lie within the limit and start at cluster >= 0.

#include <cstring>

#include "fs/ntfs/NtfsRunList.h"
#include "fuzz/FuzzTarget.h"

KELVARA_FUZZ_TARGET(ntfs_runlist) {
    std::uint64_t maxClusters = 0;
    if (size >= 8) std::memcpy(&maxClusters, data, 8);
    const std::size_t skip = size >= 8 ? 8 : size;
    const std::vector<std::uint8_t> list(data + skip, data + size);
    for (std::uint64_t limit : {maxClusters, ~std::uint64_t(0)}) {
        const auto result = kelvara::decodeRunList(kelvara::ByteReader(list.data(), list.size()), limit);
        std::uint64_t total = 0;
        for (const auto& run : result.runs) {
            if (run.length > limit - total) __builtin_trap();
            total += run.length;
        }
    }
    return 0;
}
