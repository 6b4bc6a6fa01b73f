#include "fs/VolumeParser.h"

#include <unordered_set>
#include <vector>

#include "common/Text.h"

namespace kelvara {

std::uint64_t VolumeParser::countFiles(EntryRef dir) const {
    std::uint64_t count = 0;
    std::vector<EntryRef> stack{dir};
    std::unordered_set<EntryRef> seen{dir};
    while (!stack.empty()) {
        EntryRef d = stack.back();
        stack.pop_back();
        std::unordered_set<EntryRef> siblings;  // a sibling chain that loops ends
        for (EntryRef c = firstChild(d); c != kNoEntry && siblings.insert(c).second; c = nextSibling(c)) {
            if (isDirectory(c)) {
                if (seen.insert(c).second) stack.push_back(c);
            } else {
                ++count;
            }
        }
    }
    return count;
}

bool VolumeParser::hasWorker(int mode) const {
    const std::string k = asciiLower(kindName());
    if (k == "ntfs" || k == "hfs+") return mode >= 1 && mode <= 3;
    if (k == "fat16" || k == "fat" || k == "fat32" || k == "fat64" || k == "exfat") return mode == 1 || mode == 2;
    if (k == "extx") return mode == 1;
    return false;
}

bool VolumeParser::restoresRecycledNames() const {
    const std::string k = asciiLower(kindName());
    return k == "ntfs" || k == "fat32" || k == "fat64" || k == "exfat";
}

bool VolumeParser::reportsDumpedPath() const {
    const std::string k = asciiLower(kindName());
    return k == "fat64" || k == "exfat" || k == "extx" || k == "hfs+";
}

bool VolumeParser::hasOwnEndOfScan() const { return asciiLower(kindName()) == "hfs+"; }

}  // namespace kelvara
