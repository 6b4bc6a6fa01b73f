// The exFAT parser over any bytes: the standard scan, the finders and the advanced
// scan, the texts of every entry and the extraction of a few of them.

#include <filesystem>
#include <unistd.h>

#include "device/MemoryReadSeek.h"
#include "fs/fat/Fat64Class.h"
#include "fuzz/FuzzTarget.h"
#include "widgets/CXHtmlTree.h"

namespace {

const std::string& outputFolder() {
    static const std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "kelvara-fuzz-exfat.XXXXXX").string();
        if (!::mkdtemp(p.data())) p.clear();
        return p;
    }();
    return path;
}

void visit(kelvara::Fat64Class& parser) {
    std::size_t extracted = 0;
    for (std::size_t i = 0; i < parser.entries().size(); ++i) {
        const auto ref = kelvara::EntryRef(i);
        parser.formatTimes(ref);
        parser.formatSize(ref);
        parser.times(ref);
        parser.countFiles(ref);
        if (!parser.isDirectory(ref) && extracted < 4 && !outputFolder().empty()) {
            const auto r = parser.extractEntry(ref, outputFolder());
            if (r.created) std::filesystem::remove(r.path);
            ++extracted;
        }
    }
}

}  // namespace

KELVARA_FUZZ_TARGET(exfat_volume) {
    for (int mode : {1, 2}) {
        kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
        kelvara::CXHtmlTree tree;
        tree.initialize();
        kelvara::Fat64Class parser;
        parser.reader = &reader;
        parser.tree = &tree;
        parser.volume.FILE_SYSTEM = "fat64";  // no size text: the reader's size is used
        if (mode == 2) {
            kelvara::AdvancedChoice choice;
            choice.clusterShift = 0;
            parser.prepareAdvanced(choice);
        }
        parser.runScan(mode);
        visit(parser);
    }
    return 0;
}
