// Both FAT parsers over any bytes taken as a volume: the standard scan, the advanced
// scan (finder, entry scan, rebuild), the list texts of every entry found and the
// extraction of the small files.

#include <filesystem>

#include "device/MemoryReadSeek.h"
#include "fs/ParserFactory.h"
#include "fuzz/FuzzTarget.h"
#include "platform/Output.h"
#include "widgets/CXHtmlTree.h"

KELVARA_FUZZ_TARGET(fat_volume) {
    kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
    static const auto folder = kelvara::platform::createPrivateTemporaryDirectory("kelvara-fuzz-fat");
    for (const char* kind : {"fat16", "fat32"}) {
        for (int mode : {1, 2}) {
            auto parser = kelvara::createParser(kind);
            kelvara::CXHtmlTree tree;
            parser->reader = &reader;
            parser->tree = &tree;
            parser->volume.FILE_SYSTEM = kind;
            parser->volume.VOLUME_SIZE = "1  MB";
            if (mode == 2) {
                kelvara::AdvancedChoice choice;
                choice.sectorsPerCluster = 1;
                parser->prepareAdvanced(choice);
            }
            parser->runScan(mode);
            std::size_t extracted = 0;
            for (kelvara::EntryRef r = 0; parser->isEntry(r); ++r) {
                parser->formatTimes(r);
                parser->formatSize(r);
                parser->times(r);
                if (folder && !parser->isDirectory(r) && parser->size(r) < (1u << 20) && extracted++ < 16) {
                    const auto result = parser->extractEntry(r, *folder);
                    if (result.created) std::filesystem::remove(result.path);
                }
            }
            parser->countFiles(parser->volumeRoot());
        }
    }
    return 0;
}
