#pragma once
// The file allocation table of a FAT12, FAT16 or FAT32 volume, read through a cache:
// the whole table when it fits in 256 MiB, otherwise a sliding window, so that a chain
// lookup costs no disk read of its own. Every value is checked before it is trusted:
// end marks, the bad-cluster mark, free entries and numbers outside the volume all end
// a chain.

#include <cstdint>
#include <optional>
#include <vector>

#include "device/readWriteInterface.h"

namespace kelvara {

enum class FatWidth { Fat12, Fat16, Fat32 };

class FatTable {
public:
    static constexpr std::uint64_t kWholeTableLimit = 256ull << 20;
    static constexpr std::uint64_t kWindowBytes = 4ull << 20;

    // fatOffset and fatBytes in bytes from the volume start; clusterLimit is one past
    // the highest cluster number of the volume (cluster count + 2).
    void configure(readWriteInterface* reader, std::uint64_t fatOffset, std::uint64_t fatBytes,
                   FatWidth width, std::uint32_t clusterLimit);
    void clear();
    bool configured() const { return reader_ != nullptr; }

    FatWidth width() const { return width_; }
    std::uint32_t clusterLimit() const { return limit_; }
    std::uint64_t offset() const { return offset_; }

    // The table's value for cluster c (FAT32 masked to 28 bits); 0 when c lies outside
    // the table or its bytes cannot be read.
    std::uint32_t entry(std::uint32_t c);

    // Whether v continues a chain: not free, reserved, bad, an end mark, or outside the
    // volume.
    bool isCluster(std::uint32_t v) const { return v >= 2 && v < limit_ && v < badMark(); }
    // The next cluster of a chain, or nothing at its end.
    std::optional<std::uint32_t> next(std::uint32_t c);

    std::uint32_t badMark() const;

    // Bytes one entry takes for a table of this many clusters.
    static std::uint64_t tableBytes(FatWidth width, std::uint64_t clusterLimit);

private:
    bool load(std::uint64_t byteOffset, std::uint64_t need);

    readWriteInterface* reader_ = nullptr;
    std::uint64_t offset_ = 0;
    std::uint64_t bytes_ = 0;
    FatWidth width_ = FatWidth::Fat16;
    std::uint32_t limit_ = 0;
    std::vector<std::uint8_t> cache_;
    std::uint64_t cacheStart_ = 0;  // table byte offset of cache_[0]
    bool whole_ = false;
    bool loadedWhole_ = false;
};

}  // namespace kelvara
