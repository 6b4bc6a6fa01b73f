#pragma once
// A reader over bytes in memory: the image a test or a fuzzer builds. Ranges can be
// marked unreadable to stand for bad sectors.

#include <cstdint>
#include <utility>
#include <vector>

#include "device/readWriteInterface.h"

namespace kelvara {

class MemoryReadSeek final : public readWriteInterface {
public:
    MemoryReadSeek() = default;
    explicit MemoryReadSeek(std::vector<std::uint8_t> data) { setData(std::move(data)); }

    void setData(std::vector<std::uint8_t> data);
    std::vector<std::uint8_t>& data() { return data_; }
    // Bytes in [offset, offset + count) read as failed (zeros, read() false).
    void markUnreadable(std::uint64_t offset, std::uint64_t count) {
        bad_.emplace_back(offset, offset + count);
    }

    // Memory readers have nothing to open; open() succeeds and keeps the data.
    bool open(const std::string& path) override;
    bool read(void* buffer, std::uint64_t count) override;
    bool seek(std::int64_t offset, int origin = 0) override;

    std::uint64_t readCount() const { return reads_; }

private:
    std::vector<std::uint8_t> data_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> bad_;
    std::uint64_t position_ = 0;
    std::uint64_t reads_ = 0;
};

}  // namespace kelvara
