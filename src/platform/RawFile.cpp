#include "platform/RawFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kelvara::platform {

RawFile::~RawFile() { close(); }

RawFile::RawFile(RawFile&& other) noexcept { *this = std::move(other); }

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        blockDevice_ = other.blockDevice_;
        error_ = std::move(other.error_);
    }
    return *this;
}

bool RawFile::open(const std::string& path) {
    close();
    error_.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        error_ = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = "is a directory";
        ::close(fd);
        return false;
    }
    blockDevice_ = S_ISBLK(st.st_mode);
    size_ = 0;
    if (blockDevice_) {
        std::uint64_t bytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) size_ = bytes;
    } else if (S_ISREG(st.st_mode)) {
        size_ = static_cast<std::uint64_t>(st.st_size);
    } else {
        off_t end = ::lseek(fd, 0, SEEK_END);
        if (end > 0) size_ = static_cast<std::uint64_t>(end);
    }
    fd_ = fd;
    return true;
}

void RawFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    blockDevice_ = false;
}

std::size_t RawFile::readAt(std::uint64_t offset, void* buffer, std::size_t count,
                            std::size_t* unreadable) {
    if (unreadable) *unreadable = 0;
    if (fd_ < 0) return 0;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    std::size_t bad = 0;
    while (done < count) {
        ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) break;  // end of the object
        if (errno == EINTR) continue;
        // A bad area: step over it one 512-byte sector at a time so that what lies
        // behind it still arrives, and zero what cannot be read.
        if (offset + done >= size_ && size_ != 0) break;
        std::size_t step = std::min<std::size_t>(512 - ((offset + done) % 512), count - done);
        ssize_t m = ::pread(fd_, out + done, step, static_cast<off_t>(offset + done));
        if (m > 0) {
            done += static_cast<std::size_t>(m);
            continue;
        }
        if (m == 0) break;
        std::memset(out + done, 0, step);
        done += step;
        bad += step;
    }
    if (unreadable) *unreadable = bad;
    return done;
}

}  // namespace kelvara::platform
