#include "fs/VolumeParser.h"

#include <unordered_set>
#include <vector>

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

}  // namespace kelvara
