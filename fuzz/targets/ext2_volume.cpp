// The ext2/ext3/ext4 scan over any bytes as a volume, then every entry's texts, times and
// extraction, as the results page would ask for them.

#include <unistd.h>

#include <filesystem>

#include "common/Text.h"
#include "device/MemoryReadSeek.h"
#include "fs/ext2/ext2Class.h"
#include "fuzz/FuzzTarget.h"
#include "platform/Output.h"

KELVARA_FUZZ_TARGET(ext2_volume) {
    using namespace kelvara;
    MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
    ext2Class parser;
    parser.reader = &reader;
    parser.volume.VOLUME_SIZE = strprintf("%zu  MB", size / 1048576 + 1);
    parser.runScan(1);
    static const std::string out = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("kelvara-fuzz-ext2-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    int extracted = 0;
    for (EntryRef ref = 0; ref < static_cast<EntryRef>(parser.entries().size()); ++ref) {
        if (!parser.isEntry(ref)) continue;
        parser.formatTimes(ref);
        parser.formatSize(ref);
        if (parser.isDirectory(ref) || parser.size(ref) > (1u << 20) || extracted >= 8) continue;
        const ExtractResult r = parser.extractEntry(ref, out);
        if (r.created) std::filesystem::remove(r.path);
        ++extracted;
    }
    return 0;
}
