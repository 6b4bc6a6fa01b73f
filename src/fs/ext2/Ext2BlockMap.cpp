#include "fs/ext2/Ext2BlockMap.h"

#include <algorithm>

namespace kelvara::ext2 {

BlockMap::Step BlockMap::flush() {
    if (pending_.count == 0) return Step::Go;
    const BlockRun run = pending_;
    pending_ = BlockRun{};
    return (*onRun_)(run) ? Step::Go : Step::Stop;
}

BlockMap::Step BlockMap::emit(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool zeros) {
    // Runs must move forward; one that overlaps what came before is a broken map.
    if (logical < nextLogical_) {
        sound_ = false;
        if (logical + count <= nextLogical_) return Step::Go;
        const std::uint64_t skip = nextLogical_ - logical;
        logical += skip;
        physical += skip;
        count -= skip;
    }
    if (logical >= limit_) return Step::Stop;
    count = std::min(count, limit_ - logical);
    if (count == 0) return Step::Go;
    nextLogical_ = logical + count;
    if (pending_.count != 0 && pending_.zeros == zeros && pending_.logical + pending_.count == logical &&
        (zeros || pending_.physical + pending_.count == physical)) {
        pending_.count += count;
        return Step::Go;
    }
    if (flush() == Step::Stop) return Step::Stop;
    pending_ = BlockRun{logical, physical, count, zeros};
    return Step::Go;
}

BlockMap::Step BlockMap::indirect(std::uint32_t block, int level, std::uint64_t base) {
    if (base >= limit_) return Step::Stop;
    const std::uint64_t perBlock = blockSize_ / 4;
    std::uint64_t span = 1;
    for (int i = 1; i < level; ++i) span *= perBlock;
    if (block >= blocksCount_ || nodeBudget_ == 0) {
        sound_ = false;
        return Step::Go;
    }
    --nodeBudget_;
    std::vector<std::uint8_t>& buf = levelBuffers_[level - 1];
    if (!read_(block, buf.data())) {
        sound_ = false;
        return Step::Go;
    }
    const ByteReader words(buf.data(), buf.size());
    for (std::uint64_t j = 0; j < perBlock; ++j) {
        const std::uint64_t sub = base + j * span;
        if (sub >= limit_) return Step::Stop;
        const std::uint32_t w = words.le32(j * 4);
        if (w == 0) continue;
        const Step s = level == 1 ? emit(sub, w, 1, false) : indirect(w, level - 1, sub);
        if (s == Step::Stop) return s;
    }
    return Step::Go;
}

BlockMap::Step BlockMap::extentNode(const ByteReader& node, int expectedDepth) {
    const std::uint16_t entries = node.le16(ext::entries);
    const std::uint16_t depth = node.le16(ext::depth);
    if (node.le16(ext::magic) != ext::kMagic || entries > node.le16(ext::max) ||
        !node.has(ext::kHeaderSize, std::size_t(entries) * ext::kEntrySize) || depth > ext::kMaxDepth ||
        (expectedDepth >= 0 && depth != expectedDepth)) {
        sound_ = false;
        return Step::Go;
    }
    for (std::uint16_t i = 0; i < entries; ++i) {
        const std::size_t e = ext::kHeaderSize + std::size_t(i) * ext::kEntrySize;
        if (depth == 0) {
            const std::uint64_t logical = node.le32(e + ext::eeBlock);
            std::uint32_t len = node.le16(e + ext::eeLen);
            const bool unwritten = len > ext::kInitMaxLen;
            if (unwritten) len -= ext::kInitMaxLen;
            const std::uint64_t physical = node.le32(e + ext::eeStartLo) | (std::uint64_t(node.le16(e + ext::eeStartHi)) << 32);
            if (len == 0) continue;
            if (!unwritten && (physical >= blocksCount_ || len > blocksCount_ - physical)) sound_ = false;
            if (emit(logical, physical, len, unwritten) == Step::Stop) return Step::Stop;
        } else {
            const std::uint64_t logical = node.le32(e + ext::eiBlock);
            if (logical >= limit_) return Step::Stop;
            // The next index entry starts where this one's range ends.
            if (i + 1 < entries && node.le32(e + ext::kEntrySize + ext::eiBlock) <= nextLogical_) continue;
            const std::uint64_t leaf = node.le32(e + ext::eiLeafLo) | (std::uint64_t(node.le16(e + ext::eiLeafHi)) << 32);
            if (leaf >= blocksCount_ || nodeBudget_ == 0) {
                sound_ = false;
                continue;
            }
            --nodeBudget_;
            std::vector<std::uint8_t>& buf = levelBuffers_[depth - 1];
            if (!read_(leaf, buf.data())) {
                sound_ = false;
                continue;
            }
            if (extentNode(ByteReader(buf.data(), buf.size()), depth - 1) == Step::Stop) return Step::Stop;
        }
    }
    return Step::Go;
}

bool BlockMap::walk(const Inode& inode, std::uint64_t limitBlocks, const OnRun& onRun) {
    limit_ = limitBlocks;
    nextLogical_ = 0;
    sound_ = true;
    pending_ = BlockRun{};
    onRun_ = &onRun;
    // Every node read has to bring at least one block of the file, give or take the
    // index levels above it; beyond that the map is looping or garbage.
    nodeBudget_ = std::min<std::uint64_t>(limitBlocks, std::uint64_t(1) << 24) + 64;
    levelBuffers_.assign(ext::kMaxDepth, std::vector<std::uint8_t>(blockSize_));
    if (limitBlocks == 0) return true;

    Step s = Step::Go;
    if (inode.usesExtents()) {
        s = extentNode(ByteReader(inode.block.data(), inode.block.size()), -1);
    } else {
        const std::uint64_t perBlock = blockSize_ / 4;
        for (std::uint32_t i = 0; i < ino::kDirectBlocks && s == Step::Go; ++i) {
            if (const std::uint32_t w = inode.blockWord(i)) s = emit(i, w, 1, false);
            if (i + 1 >= limit_) s = Step::Stop;
        }
        std::uint64_t base = ino::kDirectBlocks;
        std::uint64_t span = perBlock;
        for (std::uint32_t level = 1; level <= 3 && s == Step::Go; ++level) {
            if (const std::uint32_t w = inode.blockWord(ino::kSingleIndirect + level - 1))
                s = indirect(w, static_cast<int>(level), base);
            base += span;
            span *= perBlock;
            if (base >= limit_) break;
        }
    }
    if (s == Step::Go || pending_.count != 0) flush();
    onRun_ = nullptr;
    return sound_;
}

}  // namespace kelvara::ext2
