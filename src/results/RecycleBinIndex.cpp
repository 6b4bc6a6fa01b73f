#include "results/RecycleBinIndex.h"

#include <algorithm>

#include "common/ByteReader.h"
#include "common/Text.h"

namespace kelvara {

std::optional<std::string> recycledOriginalName(const std::uint8_t* data, std::size_t size) {
    ByteReader b(data, size);
    if (!b.has(0, 8)) return std::nullopt;
    std::size_t offset = 24, units = 260;
    if (b.le64(0) == 2) {
        if (!b.has(24, 4)) return std::nullopt;
        offset = 28;
        units = b.le32(24);
    }
    if (!b.has(offset, 2)) return std::nullopt;
    units = std::min(units, (size - offset) / 2);
    const std::string path = utf16leToUtf8(b.bytes() + offset, units, true);
    const std::size_t slash = path.rfind('\\');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return std::nullopt;
    return name;
}

}  // namespace kelvara
