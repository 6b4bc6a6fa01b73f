// The HFS+ parser over any bytes taken as a volume: the standard scan (catalog B-tree
// walk) and the whole-volume leaf search of the advanced and deep scans, every entry's
// texts, and the extraction of the files it lists.

#include <filesystem>

#include "device/MemoryReadSeek.h"
#include "fs/hfsp/HFSP.h"
#include "fuzz/FuzzTarget.h"
#include "platform/Output.h"
#include "widgets/CXHtmlTree.h"

KELVARA_FUZZ_TARGET(hfsp_volume) {
    kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
    const auto folder = kelvara::platform::createPrivateTemporaryDirectory("kelvara-fuzz-hfsp");
    for (int mode : {1, 2, 3}) {
        kelvara::HFSP p;
        kelvara::CXHtmlTree tree;
        tree.initialize();
        p.reader = &reader;
        p.tree = &tree;
        // Small search windows, so that the window edges are met by small inputs.
        p.searchWindowBytes = 65536;
        if (mode != 1) p.prepareAdvanced(kelvara::AdvancedChoice{});
        p.runScan(mode);
        std::size_t extracted = 0;
        for (const auto& [cnid, entry] : p.entries()) {
            const auto ref = static_cast<kelvara::EntryRef>(cnid);
            p.formatTimes(ref);
            p.formatAttributes(ref);
            p.formatSize(ref);
            p.times(ref);
            p.name(ref);
            p.hasChildren(ref);
            if (folder && !p.isDirectory(ref) && !p.skipOnSave(ref) && p.size(ref) < (1u << 20) && extracted++ < 32) {
                const auto r = p.extractEntry(ref, *folder);
                if (r.created) std::filesystem::remove(r.path);
            }
        }
        p.countFiles(p.volumeRoot());
    }
    if (folder) std::filesystem::remove_all(*folder);
    return 0;
}
