#pragma once
// One checked little/big-endian reader for on-disk structures. Every field read is
// bounds-checked against the slice it was handed; a read outside the slice yields 0
// and marks the reader as having seen a short structure, so a caller can treat
// "the structure is shorter than it claims" as data rather than as a crash.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelvara {

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::byte> data) : data_(data) {}
    ByteReader(const void* data, std::size_t size)
        : data_(static_cast<const std::byte*>(data), size) {}

    std::size_t size() const { return data_.size(); }
    const std::byte* data() const { return data_.data(); }
    const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(data_.data()); }

    // True when [offset, offset + length) lies inside the slice. Written as
    // subtractions so that no sum can overflow.
    bool has(std::size_t offset, std::size_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }

    // A sub-slice; an out-of-range request gives an empty reader.
    ByteReader sub(std::size_t offset, std::size_t length) const {
        if (!has(offset, length)) {
            truncated_ = true;
            return {};
        }
        return ByteReader(data_.subspan(offset, length));
    }
    // From offset to the end (empty when offset is past the end).
    ByteReader from(std::size_t offset) const {
        if (offset > data_.size()) {
            truncated_ = true;
            return {};
        }
        return ByteReader(data_.subspan(offset));
    }

    std::uint8_t u8(std::size_t off) const { return has(off, 1) ? bytes()[off] : miss(); }
    std::uint16_t le16(std::size_t off) const { return static_cast<std::uint16_t>(le(off, 2)); }
    std::uint32_t le32(std::size_t off) const { return static_cast<std::uint32_t>(le(off, 4)); }
    std::uint64_t le64(std::size_t off) const { return le(off, 8); }
    std::uint16_t be16(std::size_t off) const { return static_cast<std::uint16_t>(be(off, 2)); }
    std::uint32_t be32(std::size_t off) const { return static_cast<std::uint32_t>(be(off, 4)); }
    std::uint64_t be64(std::size_t off) const { return be(off, 8); }

    // Little-endian unsigned of 1 to 8 bytes.
    std::uint64_t le(std::size_t off, std::size_t width) const {
        if (width == 0 || width > 8 || !has(off, width)) return miss();
        std::uint64_t v = 0;
        for (std::size_t i = width; i-- > 0;) v = (v << 8) | bytes()[off + i];
        return v;
    }
    std::uint64_t be(std::size_t off, std::size_t width) const {
        if (width == 0 || width > 8 || !has(off, width)) return miss();
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < width; ++i) v = (v << 8) | bytes()[off + i];
        return v;
    }

    // True when the bytes at off equal the given text (no terminator compared).
    bool matches(std::size_t off, std::string_view text) const {
        if (!has(off, text.size())) return false;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (bytes()[off + i] != static_cast<std::uint8_t>(text[i])) return false;
        return true;
    }

    // Whether any read so far fell outside the slice.
    bool truncated() const { return truncated_; }

private:
    std::uint64_t miss() const {
        truncated_ = true;
        return 0;
    }

    std::span<const std::byte> data_;
    mutable bool truncated_ = false;
};

}  // namespace kelvara
