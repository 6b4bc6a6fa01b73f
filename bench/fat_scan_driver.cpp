// Runs a standard FAT scan of an image through the parser interface and prints how
// many entries it found; for bench/fat_scan.sh until kelvara-cli has `scan`.
#include <cstdio>
#include <string>

#include "device/FileReadSeek.h"
#include "fs/ParserFactory.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    kelvara::FileReadSeek reader;
    if (!reader.open(argv[1])) return 1;
    auto parser = kelvara::createParser(argv[2]);
    parser->reader = &reader;
    parser->volume.FILE_SYSTEM = argv[2];
    parser->volume.VOLUME_SIZE = std::to_string(reader.byteSize() / 1048576) + "  MB";
    if (!parser->runScan(1)) return 1;
    std::printf("%llu files\n", static_cast<unsigned long long>(parser->countFiles(parser->volumeRoot())));
    return 0;
}
