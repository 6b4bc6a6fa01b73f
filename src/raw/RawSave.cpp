#include "raw/RawSave.h"

#include <algorithm>
#include <vector>

#include "common/Messages.h"
#include "fs/RecoveredFile.h"

namespace kelvara {

ExtractResult saveFind(myJpg& engine, std::size_t index, const std::string& folder) {
    ExtractResult failed;
    if (index >= engine.found().size() || engine.reader == nullptr) {
        failed.message = "no such find";
        return failed;
    }
    const myJpg::Found& f = engine.found()[index];
    RecoveredFile out;
    if (!out.create(folder, f.name)) {
        failed.message = "cannot create " + f.name + " in " + folder + ": " + out.error();
        return failed;
    }
    constexpr std::size_t kPiece = 1 << 20;
    std::vector<std::uint8_t> buffer(kPiece);
    bool complete = true;
    std::int64_t done = 0;
    while (done < f.length) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(kPiece, f.length - done));
        bool ok = engine.reader->seek(f.start + done, 0);
        if (ok) {
            std::fill_n(buffer.begin(), n, 0);
            ok = engine.reader->read(buffer.data(), n);
        }
        if (!ok) {
            complete = false;
            // What could not be read stays zero; a failed seek gives zeros throughout.
            if (!engine.reader->seek(f.start + done, 0)) std::fill_n(buffer.begin(), n, 0);
        }
        if (!out.write(buffer.data(), n)) break;
        done += static_cast<std::int64_t>(n);
    }
    return out.finish(EntryTimesUtc{}, complete,
                      complete ? std::string() : "some sectors could not be read; they are zeros");
}

RawSaveSummary saveCheckedFinds(myJpg& engine, const std::string& folder) {
    RawSaveSummary summary;
    CXHtmlTree* tree = engine.tree;
    std::vector<std::size_t> chosen;
    if (tree != nullptr && engine.rootItem() != kNoItem) {
        for (TreeItem cat = tree->getChildItem(engine.rootItem()); cat != kNoItem; cat = tree->getNextSiblingItem(cat))
            for (TreeItem item = tree->getChildItem(cat); item != kNoItem; item = tree->getNextSiblingItem(item))
                if (tree->getCheck(item))
                    if (const myJpg::Found* f = engine.findForItem(item))
                        chosen.push_back(static_cast<std::size_t>(f - engine.found().data()));
    }
    if (chosen.empty()) {
        showMessage("Please Select item from tree to save");
        return summary;
    }
    for (std::size_t index : chosen) {
        ExtractResult r = saveFind(engine, index, folder);
        if (!r.created) ++summary.failed;
        else if (!r.complete) ++summary.incomplete;
        else ++summary.saved;
        summary.results.push_back(std::move(r));
        summary.findIndexes.push_back(index);
    }
    return summary;
}

}  // namespace kelvara
