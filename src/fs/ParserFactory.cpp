#include "fs/ParserFactory.h"

#include "common/Text.h"
#include "fs/ext2/ext2Class.h"

namespace kelvara {

std::unique_ptr<VolumeParser> createParser(const std::string& fileSystem) {
    const std::string kind = asciiLower(fileSystem);
    // Each file system adds its line here.
    if (kind == "extx") return std::make_unique<ext2Class>();
    (void)kind;
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
