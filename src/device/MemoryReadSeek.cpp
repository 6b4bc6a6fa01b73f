#include "device/MemoryReadSeek.h"

#include <algorithm>
#include <cstring>

namespace kelvara {

void MemoryReadSeek::setData(std::vector<std::uint8_t> data) {
    data_ = std::move(data);
    position_ = 0;
    length = static_cast<std::int64_t>(data_.size());
    setOpenedSize(data_.size());
}

bool MemoryReadSeek::open(const std::string&) {
    position_ = 0;
    setOpenedSize(data_.size());
    return true;
}

bool MemoryReadSeek::read(void* buffer, std::uint64_t count) {
    ++reads_;
    if (count == 0) return true;
    if (position_ >= data_.size()) return false;
    std::uint64_t got = std::min<std::uint64_t>(count, data_.size() - position_);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memcpy(out, data_.data() + position_, got);
    if (got < count) std::memset(out + got, 0, count - got);
    bool bad = false;
    for (auto [lo, hi] : bad_) {
        std::uint64_t a = std::max(lo, position_), b = std::min(hi, position_ + got);
        if (a < b) {
            std::memset(out + (a - position_), 0, b - a);
            bad = true;
        }
    }
    position_ += got;
    return got == count && !bad;
}

bool MemoryReadSeek::seek(std::int64_t offset, int origin) {
    std::int64_t base = origin == 1 ? static_cast<std::int64_t>(position_)
                        : origin == 2 ? static_cast<std::int64_t>(data_.size())
                                      : baseOffset;
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) || target < 0) return false;
    position_ = static_cast<std::uint64_t>(target);
    return true;
}

}  // namespace kelvara
