#pragma once
// The sector reader: every byte taken from a disk, a volume or an image goes through
// one of these. Positions passed to seek are relative to baseOffset, so a parser can
// address its volume from the volume's first byte.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvara {

constexpr std::uint32_t kSectorSize = 512;

// Sector count of the object opened last by any reader (its size in bytes / 512).
extern std::atomic<std::uint64_t> deviceSectorCount;

class readWriteInterface {
public:
    virtual ~readWriteInterface() = default;

    virtual bool open(const std::string& path) = 0;
    // Reads count bytes at the current position. True only when all bytes came; a short
    // read delivers zeros for the rest; a read that delivers nothing leaves buffer as it
    // was.
    virtual bool read(void* /*buffer*/, std::uint64_t /*count*/) { return true; }
    // Moves to baseOffset + offset (origin 0: from the beginning, 1: current, 2: end).
    virtual bool seek(std::int64_t /*offset*/, int /*origin*/ = 0) { return true; }

    // Sectors of the object this reader opened (its byte size / 512).
    std::uint64_t sectorCount() const { return sectorCount_; }
    std::uint64_t byteSize() const { return byteSize_; }
    // The bytes from baseOffset to the end of the object (0 when baseOffset lies past it).
    std::uint64_t bytesAfterBase() const {
        const std::uint64_t base = baseOffset > 0 ? static_cast<std::uint64_t>(baseOffset) : 0;
        return byteSize_ > base ? byteSize_ - base : 0;
    }

    std::int64_t baseOffset = 0;
    std::int64_t length = 0;

protected:
    void setOpenedSize(std::uint64_t bytes) {
        byteSize_ = bytes;
        sectorCount_ = bytes / kSectorSize;
        deviceSectorCount.store(sectorCount_);
    }

private:
    std::uint64_t sectorCount_ = 0;
    std::uint64_t byteSize_ = 0;
};

// seek(offset) then read(count): the pair every parser uses.
inline bool readAt(readWriteInterface& reader, std::int64_t offset, void* buffer,
                   std::uint64_t count) {
    return reader.seek(offset, 0) && reader.read(buffer, count);
}

}  // namespace kelvara
