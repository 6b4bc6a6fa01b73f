#include "fs/fat/FatTable.h"

#include <algorithm>

namespace kelvara {

void FatTable::configure(readWriteInterface* reader, std::uint64_t fatOffset, std::uint64_t fatBytes,
                         FatWidth width, std::uint32_t clusterLimit) {
    clear();
    reader_ = reader;
    offset_ = fatOffset;
    width_ = width;
    limit_ = clusterLimit;
    // Entries past the last cluster are never looked up, so they are never read.
    bytes_ = std::min(fatBytes, tableBytes(width, clusterLimit));
    whole_ = bytes_ <= kWholeTableLimit;
}

void FatTable::clear() {
    reader_ = nullptr;
    cache_.clear();
    cache_.shrink_to_fit();
    cacheStart_ = 0;
    bytes_ = 0;
    limit_ = 0;
    loadedWhole_ = false;
}

std::uint64_t FatTable::tableBytes(FatWidth width, std::uint64_t clusterLimit) {
    switch (width) {
    case FatWidth::Fat12: return (clusterLimit * 3 + 1) / 2 + 1;
    case FatWidth::Fat16: return clusterLimit * 2;
    case FatWidth::Fat32: return clusterLimit * 4;
    }
    return 0;
}

std::uint32_t FatTable::badMark() const {
    switch (width_) {
    case FatWidth::Fat12: return 0xFF7;
    case FatWidth::Fat16: return 0xFFF7;
    case FatWidth::Fat32: return 0x0FFFFFF7;
    }
    return 0;
}

bool FatTable::load(std::uint64_t byteOffset, std::uint64_t need) {
    if (whole_) {
        if (!loadedWhole_) {
            loadedWhole_ = true;
            cache_.assign(static_cast<std::size_t>(bytes_), 0);
            cacheStart_ = 0;
            // Read in pieces so that one bad sector costs only its own piece.
            constexpr std::uint64_t piece = 1 << 20;
            for (std::uint64_t at = 0; at < bytes_; at += piece) {
                const std::uint64_t n = std::min(piece, bytes_ - at);
                readAt(*reader_, static_cast<std::int64_t>(offset_ + at), cache_.data() + at, n);
            }
        }
        return byteOffset + need <= cache_.size();
    }
    if (byteOffset >= cacheStart_ && byteOffset + need <= cacheStart_ + cache_.size()) return true;
    const std::uint64_t start = byteOffset / kWindowBytes * kWindowBytes;
    const std::uint64_t n = std::min(kWindowBytes + 4, bytes_ - start);
    cache_.assign(static_cast<std::size_t>(n), 0);
    cacheStart_ = start;
    readAt(*reader_, static_cast<std::int64_t>(offset_ + start), cache_.data(), n);
    return byteOffset + need <= cacheStart_ + cache_.size();
}

std::uint32_t FatTable::entry(std::uint32_t c) {
    if (!reader_ || c >= limit_) return 0;
    std::uint64_t at = 0;
    std::uint64_t need = 0;
    switch (width_) {
    case FatWidth::Fat12: at = c + c / 2; need = 2; break;
    case FatWidth::Fat16: at = std::uint64_t(c) * 2; need = 2; break;
    case FatWidth::Fat32: at = std::uint64_t(c) * 4; need = 4; break;
    }
    if (at + need > bytes_ || !load(at, need)) return 0;
    const std::uint8_t* p = cache_.data() + (at - cacheStart_);
    switch (width_) {
    case FatWidth::Fat12: {
        const std::uint32_t v = p[0] | (std::uint32_t(p[1]) << 8);
        return (c & 1) ? (v >> 4) : (v & 0xFFF);
    }
    case FatWidth::Fat16: return p[0] | (std::uint32_t(p[1]) << 8);
    case FatWidth::Fat32:
        return (p[0] | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                (std::uint32_t(p[3]) << 24)) & 0x0FFFFFFF;
    }
    return 0;
}

std::optional<std::uint32_t> FatTable::next(std::uint32_t c) {
    const std::uint32_t v = entry(c);
    if (!isCluster(v)) return std::nullopt;
    return v;
}

}  // namespace kelvara
