#include "device/FileReadSeek.h"

#include <cstring>

#include "common/Messages.h"

namespace kelvara {

std::atomic<std::uint64_t> deviceSectorCount{0};

bool FileReadSeek::open(const std::string& path) {
    platform::RawFile file;
    if (!file.open(path)) {
        openError_ = file.error();
        showMessage("invalid handle ...");
        return false;
    }
    openError_.clear();
    file_ = std::move(file);
    position_ = 0;
    length = static_cast<std::int64_t>(file_.size());
    setOpenedSize(file_.size());
    return true;
}

bool FileReadSeek::read(void* buffer, std::uint64_t count) {
    if (count == 0) return true;
    if (!file_.isOpen()) return false;
    std::size_t unreadable = 0;
    std::size_t got = file_.readAt(position_, buffer, static_cast<std::size_t>(count), &unreadable);
    position_ += got;
    if (got == 0) return false;
    if (got < count) std::memset(static_cast<unsigned char*>(buffer) + got, 0, count - got);
    return got == count && unreadable == 0;
}

bool FileReadSeek::seek(std::int64_t offset, int origin) {
    if (!file_.isOpen()) return false;
    std::int64_t base = 0;
    if (origin == 1) base = static_cast<std::int64_t>(position_);
    else if (origin == 2) base = static_cast<std::int64_t>(file_.size());
    else if (origin != 0) return false;
    std::int64_t target = 0;
    if (__builtin_add_overflow(base, offset, &target) ||
        __builtin_add_overflow(target, origin == 0 ? baseOffset : 0, &target) || target < 0)
        return false;
    position_ = static_cast<std::uint64_t>(target);
    return true;
}

}  // namespace kelvara
