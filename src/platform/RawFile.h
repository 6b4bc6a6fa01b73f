#pragma once
// Read-only access to a disk, a partition or an image file. The only place that opens
// a source; it never asks for write access.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvara::platform {

class RawFile {
public:
    RawFile() = default;
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    RawFile(RawFile&& other) noexcept;
    RawFile& operator=(RawFile&& other) noexcept;

    // Opens path read-only. On failure returns false and error() says why.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // Size in bytes: a block device's byte size, a file's length.
    std::uint64_t size() const { return size_; }
    bool isBlockDevice() const { return blockDevice_; }
    const std::string& error() const { return error_; }

    // Reads up to count bytes at offset. Returns the number of bytes delivered from the
    // start of the request; bytes the device could not deliver (a bad area in the middle)
    // are zero-filled and counted in unreadable.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t count,
                       std::size_t* unreadable = nullptr);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    bool blockDevice_ = false;
    std::string error_;
};

}  // namespace kelvara::platform
