#pragma once
// The recycle bin's $I index files: the deleted file's original path, from which the
// matching $R entry gets its name back.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kelvara {

// Largest $I file read; real ones are 544 bytes (version 1) or at most 28 + 2 x 32767.
constexpr std::size_t kMaxRecycleIndexSize = 70000;

// The file name (the part after the last '\') of the original path stored in an $I
// file: version 1 holds it at byte 24 in 520 bytes, version 2 (the 64-bit version field
// at byte 0 is 2) has a 32-bit character count at 24 and the path at 28. Both are read
// up to their terminator and never past the data. Nothing when there is no usable name.
std::optional<std::string> recycledOriginalName(const std::uint8_t* data, std::size_t size);

}  // namespace kelvara
