// The NTFS parser over any bytes: the standard scan (boot sector, or the search when it
// is damaged), the advanced scan over the first MFT found and the deep scan, every
// entry's texts, and the extraction of the files.

#include <filesystem>

#include "device/MemoryReadSeek.h"
#include "fs/ntfs/ntfs.h"
#include "fuzz/FuzzTarget.h"
#include "platform/Output.h"
#include "widgets/CXHtmlTree.h"

KELVARA_FUZZ_TARGET(ntfs_volume) {
    kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
    const auto folder = kelvara::platform::createPrivateTemporaryDirectory("kelvara-fuzz");
    for (int mode : {1, 2, 3}) {
        kelvara::ntfs p;
        kelvara::CXHtmlTree tree;
        p.reader = &reader;
        p.tree = &tree;
        p.volume.VOLUME_SIZE = "64  MB";
        if (mode == 2) p.prepareAdvanced(kelvara::AdvancedChoice{});
        p.runScan(mode);
        std::size_t extracted = 0;
        for (std::size_t i = 0; i < p.entries.size(); ++i) {
            const auto ref = static_cast<kelvara::EntryRef>(i);
            if (!p.isEntry(ref)) continue;
            p.formatTimes(ref);
            p.name(ref);
            p.hasChildren(ref);
            // Sizes are claims; only small files are written out.
            if (folder && !p.isDirectory(ref) && p.size(ref) < (1u << 20) && extracted++ < 64) {
                const auto r = p.extractEntry(ref, *folder);
                if (r.created) std::filesystem::remove(r.path);
            }
        }
        p.countFiles(p.volumeRoot());
    }
    if (folder) std::filesystem::remove_all(*folder);
    return 0;
}
