#include "fs/ntfs/NtfsRunList.h"

namespace kelvara {

RunListResult decodeRunList(const ByteReader& list, std::uint64_t maxClusters) {
    RunListResult result;
    std::size_t pos = 0;
    std::int64_t lcn = 0;
    std::uint64_t total = 0;
    while (pos < list.size()) {
        const std::uint8_t header = list.u8(pos);
        const std::size_t lengthWidth = header & 0x0F;
        const std::size_t offsetWidth = header >> 4;
        if (lengthWidth == 0) {
            result.ended = true;
            break;
        }
        if (lengthWidth > 8 || offsetWidth > 8 || !list.has(pos + 1, lengthWidth + offsetWidth)) break;
        DataRun run;
        run.length = list.le(pos + 1, lengthWidth);
        if (offsetWidth == 0) {
            run.sparse = true;
        } else {
            std::uint64_t raw = list.le(pos + 1 + lengthWidth, offsetWidth);
            if (offsetWidth < 8 && (raw >> (offsetWidth * 8 - 1)) & 1) raw |= ~0ull << (offsetWidth * 8);
            std::int64_t next = 0;
            if (__builtin_add_overflow(lcn, static_cast<std::int64_t>(raw), &next) || next < 0) break;
            lcn = next;
            run.start = static_cast<std::uint64_t>(lcn);
        }
        if (run.length > maxClusters - total) break;
        total += run.length;
        result.runs.push_back(run);
        pos += 1 + lengthWidth + offsetWidth;
    }
    return result;
}

}  // namespace kelvara
