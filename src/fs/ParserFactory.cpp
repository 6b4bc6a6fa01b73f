#include "fs/ParserFactory.h"

#include "common/Text.h"
#include "fs/ext2/ext2Class.h"
#include "fs/fat/Fat16Class.h"
#include "fs/fat/Fat32Class.h"
#include "fs/fat/Fat64Class.h"
#include "fs/hfsp/HFSP.h"
#include "fs/ntfs/ntfs.h"

namespace kelvara {

std::unique_ptr<VolumeParser> createParser(const std::string& fileSystem) {
    const std::string kind = asciiLower(fileSystem);
    if (kind == "ntfs") return std::make_unique<ntfs>();
    if (kind == "fat32") return std::make_unique<Fat32Class>();
    if (kind == "fat16" || kind == "fat") return std::make_unique<Fat16Class>();
    if (kind == "fat64" || kind == "exfat") return std::make_unique<Fat64Class>();
    if (kind == "hfs+") return std::make_unique<HFSP>();
    if (kind == "extx") return std::make_unique<ext2Class>();
    return nullptr;
}

std::string parserKindFor(const std::string& listed) {
    const std::string k = asciiLower(listed);
    if (k == "ntfs") return "ntfs";
    if (k == "fat12" || k == "fat16" || k == "fat") return "fat16";
    if (k == "fat32") return "fat32";
    if (k == "fat64" || k == "exfat") return "fat64";
    if (k == "extx") return "extX";
    if (k == "hfs+") return "HFS+";
    return listed;
}

}  // namespace kelvara
