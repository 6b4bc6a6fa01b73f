#include "fs/hfsp/ForkMap.h"

#include <algorithm>

namespace kelvara::hfsp {

bool ForkMap::add(const HfsExtent& e) {
    if (e.startBlock == 0 || e.blockCount == 0) return false;
    runs_.push_back({blocks_, e.startBlock, e.blockCount});
    blocks_ += e.blockCount;
    return true;
}

std::uint64_t ForkMap::add(const ExtentRecord& r) {
    const std::uint64_t before = blocks_;
    for (const auto& e : r) add(e);
    return blocks_ - before;
}

void ForkMap::clip(std::uint64_t limitBlock) {
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        Run& r = runs_[i];
        if (r.volumeBlock >= limitBlock || r.count > limitBlock - r.volumeBlock) {
            if (r.volumeBlock < limitBlock) {
                r.count = limitBlock - r.volumeBlock;
                ++i;
            }
            runs_.resize(i);
            break;
        }
    }
    blocks_ = runs_.empty() ? 0 : runs_.back().fileBlock + runs_.back().count;
}

bool ForkMap::run(std::uint64_t fileBlock, std::uint64_t& volumeBlock, std::uint64_t& length) const {
    if (fileBlock >= blocks_) return false;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), fileBlock,
                               [](std::uint64_t b, const Run& r) { return b < r.fileBlock; });
    --it;  // runs_ starts at file block 0, so some run precedes
    const std::uint64_t into = fileBlock - it->fileBlock;
    volumeBlock = it->volumeBlock + into;
    length = it->count - into;
    return true;
}

}  // namespace kelvara::hfsp
