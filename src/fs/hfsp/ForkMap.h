#pragma once
// Where the blocks of one fork lie on the volume: its extents in file order, so that
// block n of a file (or node n of a B-tree file) is found through them rather than
// assumed to follow the first extent.

#include <cstdint>
#include <vector>

#include "fs/hfsp/HfsStructures.h"

namespace kelvara::hfsp {

class ForkMap {
public:
    // Appends an extent; extents with start block 0 or no blocks are not part of a fork.
    // False when it was not taken.
    bool add(const HfsExtent& e);
    // Appends every usable extent of a record; returns the blocks it added.
    std::uint64_t add(const ExtentRecord& r);
    // Drops every block from the first one at or past limitBlock on: a B-tree file
    // cannot continue beyond its volume.
    void clip(std::uint64_t limitBlock);
    std::uint64_t blocks() const { return blocks_; }
    std::size_t extentCount() const { return runs_.size(); }

    // The contiguous run that holds file block n: its volume block and how many file
    // blocks from n on follow it on the volume. False when n lies beyond the fork.
    bool run(std::uint64_t fileBlock, std::uint64_t& volumeBlock, std::uint64_t& length) const;

private:
    struct Run {
        std::uint64_t fileBlock;
        std::uint64_t volumeBlock;
        std::uint64_t count;
    };
    std::vector<Run> runs_;
    std::uint64_t blocks_ = 0;
};

}  // namespace kelvara::hfsp
