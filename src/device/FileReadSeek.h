#pragma once
// The reader over a block device or an image file, opened read-only.

#include "device/readWriteInterface.h"
#include "platform/RawFile.h"

namespace kelvara {

class FileReadSeek final : public readWriteInterface {
public:
    // Opens path read-only. On failure shows "invalid handle ..." and returns false;
    // the previous object (and the sector count) stays.
    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint64_t count) override;
    bool seek(std::int64_t offset, int origin = 0) override;

    // Why the last open failed (for the command line's own message).
    const std::string& openError() const { return openError_; }

private:
    platform::RawFile file_;
    std::uint64_t position_ = 0;
    std::string openError_;
};

}  // namespace kelvara
