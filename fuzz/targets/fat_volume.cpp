// Both FAT parsers over any bytes taken as a volume: the standard scan, the advanced
// scan (finder, entry scan, rebuild) and the list texts of every entry found.

#include "device/MemoryReadSeek.h"
#include "fs/ParserFactory.h"
#include "fuzz/FuzzTarget.h"
#include "widgets/CXHtmlTree.h"

KELVARA_FUZZ_TARGET(fat_volume) {
    kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
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
            for (kelvara::EntryRef r = 0; parser->isEntry(r); ++r) {
                parser->formatTimes(r);
                parser->formatSize(r);
                parser->times(r);
            }
            parser->countFiles(parser->volumeRoot());
        }
    }
    return 0;
}
