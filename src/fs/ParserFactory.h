#pragma once
// One parser object for a volume's file-system kind text, compared ignoring case:
// "ntfs"; "fat32"; "fat16" or "fat"; "fat64" or "exFat"; "extX"; "HFS+".

#include <memory>
#include <string>

#include "fs/VolumeParser.h"

namespace kelvara {

// nullptr when no parser reads that kind.
std::unique_ptr<VolumeParser> createParser(const std::string& fileSystem);

// The kind text the scanners list for a volume ("NTFS", "FAT12", ...) as the results page
// spells it ("ntfs", "fat16", ...); other texts are returned unchanged.
std::string parserKindFor(const std::string& listedFileSystem);

}  // namespace kelvara
