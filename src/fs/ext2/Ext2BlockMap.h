#pragma once
// Where an inode's data lies: its block map (12 direct words, then single, double and
// triple indirect blocks) or its extent tree (any depth), walked in logical order as
// runs of consecutive blocks. Blocks the walk does not report are holes and read as
// zeros; unwritten extents are reported as zero runs.

#include <cstdint>
#include <functional>
#include <vector>

#include "fs/ext2/Ext2Structures.h"

namespace kelvara::ext2 {

struct BlockRun {
    std::uint64_t logical = 0;   // first logical block of the file
    std::uint64_t physical = 0;  // first block of the volume (unused for zero runs)
    std::uint64_t count = 0;
    bool zeros = false;          // unwritten extent: reads as zeros
};

class BlockMap {
public:
    // Reads one block of the volume into out (blockSize bytes); false when it failed.
    using ReadBlock = std::function<bool(std::uint64_t block, std::uint8_t* out)>;
    // Receives each run; returning false ends the walk.
    using OnRun = std::function<bool(const BlockRun&)>;

    BlockMap(ReadBlock read, std::uint32_t blockSize, std::uint64_t blocksCount)
        : read_(std::move(read)), blockSize_(blockSize), blocksCount_(blocksCount) {}

    // Walks the runs below limitBlocks logical blocks. False when part of the map
    // could not be read or made no sense (what was found is still reported).
    bool walk(const Inode& inode, std::uint64_t limitBlocks, const OnRun& onRun);

private:
    enum class Step { Go, Stop };
    Step emit(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool zeros);
    Step flush();
    Step indirect(std::uint32_t block, int level, std::uint64_t base);
    Step extentNode(const ByteReader& node, int expectedDepth);

    ReadBlock read_;
    std::uint32_t blockSize_;
    std::uint64_t blocksCount_;
    std::uint64_t limit_ = 0;
    std::uint64_t nextLogical_ = 0;
    std::uint64_t nodeBudget_ = 0;
    bool sound_ = true;
    BlockRun pending_;
    const OnRun* onRun_ = nullptr;
    std::vector<std::vector<std::uint8_t>> levelBuffers_;
};

}  // namespace kelvara::ext2
