// Save and the tree double click of the results page.

#include <unordered_set>

#include "common/SafeName.h"
#include "common/Text.h"
#include "platform/Output.h"
#include "results/VolumeScanDlg.h"

namespace kelvara {

void VolumeScanDlg::onSave() {
    if (!isEnabled(IDC_SAVE)) return;
    auto lock = lockParserForUi();
    if (!lock) return;
    std::optional<std::string> chosen;
    if (services().folders) chosen = services().folders->browseForFolder("Please choose a folder.");
    setOutputFolder(chosen.value_or(std::string()));
    const std::string folder = outputFolder();
    if (folder.empty()) {
        messageBox("select output folder");
        return;
    }

    // The selected folder; "ROOT" stands for the volume's root folder.
    const TreeItem selected = tree_.getSelectedItem();
    EntryRef dir = kNoEntry;
    if (selected != kNoItem && selected == tree_.getRootItem()) {
        dir = parser_->volumeRoot();
        if (!parser_->isEntry(dir)) return;
    } else {
        dir = entryOf(selected);
        if (dir == kNoEntry || !parser_->isSaveableDirectory(dir)) return;
    }

    // A stopped scan must not keep Save from writing what it found.
    stopRequested_ = 0;
    parser_->stopFlag = 0;

    lastSave_ = SaveOutcome{};
    const std::uint64_t n = parser_->countFiles(dir);
    lastSave_.found = n;
    lastSave_.asked = true;
    sink_.setRange(0, static_cast<std::int64_t>(n));
    const std::string question = strprintf(
        "number of files found inside this folder = %lld .do u want to continue dumping these files..?",
        static_cast<long long>(n));
    if (messageBox(question, MessageIcon::Question, MessageButtons::YesNo) != MessageAnswer::Yes) return;
    lastSave_.ran = true;
    saveDirectory(dir, folder, lastSave_);
    sink_.setPos(static_cast<std::int64_t>(n));
    setText(IDC_STATUS, strprintf("work done. %llu files written, %llu failed",
                                  static_cast<unsigned long long>(lastSave_.written),
                                  static_cast<unsigned long long>(lastSave_.failed)));
    messageBox("work done");
}

// Everything below dir into folder: directories become sub-folders, files are written by
// the parser. Iterative, and each entry is visited once, so neither a deep chain nor a
// loop in hostile links can overflow the stack or hang.
void VolumeScanDlg::saveDirectory(EntryRef dir, const std::string& folder, SaveOutcome& outcome) {
    // Each frame keeps the length of its folder's path in one shared string, so a deep
    // chain costs one path, not one per level.
    struct Frame {
        EntryRef next;
        std::size_t pathLength;
        bool missing;  // the folder could not be made; nothing below can be written
    };
    std::string path = folder;
    std::vector<Frame> stack{{parser_->firstChild(dir), path.size(), false}};
    std::unordered_set<EntryRef> seen{dir};
    std::uint64_t counter = 0;
    while (!stack.empty() && !stopRequested()) {
        Frame& f = stack.back();
        const EntryRef c = f.next;
        if (c < 0 || !parser_->isEntry(c)) {
            stack.pop_back();
            continue;
        }
        if (!seen.insert(c).second) {  // a chain that loops back ends here
            f.next = kNoEntry;
            continue;
        }
        f.next = parser_->nextSibling(c);
        path.resize(f.pathLength);
        sink_.setPos(static_cast<std::int64_t>(counter));
        const std::string name = parser_->name(c);
        if (parser_->isDirectory(c)) {
            if (parser_->isSelfLink(c)) continue;
            bool missing = f.missing;
            if (!name.empty() && !missing) {
                auto made = platform::createUniqueDirectory(path, makeSafeName(name));
                if (made) path = *made;
                else missing = true;
            }
            stack.push_back({parser_->firstChild(c), path.size(), missing});  // f is not used after this
            continue;
        }
        ++counter;
        setText(IDC_STATUS, "saving File  " + platform::joinPath(path, name));
        setText(IDC_FILE_SIZE, strprintf("File size: %llu kb",
                                         static_cast<unsigned long long>(parser_->size(c) / 1024)));
        if (parser_->skipOnSave(c)) {
            ++outcome.skipped;
        } else if (f.missing) {
            ++outcome.failed;
            outcome.failures.push_back("no folder for " + name + " below " + path);
        } else {
            const ExtractResult r = parser_->extractEntry(c, path);
            if (r.created && r.complete) {
                ++outcome.written;
            } else {
                ++outcome.failed;
                outcome.failures.push_back(r.message.empty() ? (r.path.empty() ? name : r.path) : r.message);
            }
        }
        setText(IDC_FILE_SIZE, "");
    }
}

void VolumeScanDlg::onTreeDoubleClick() {
    if (!isEnabled(IDC_TREE)) return;
    auto lock = lockParserForUi();
    if (!lock) return;
    lastDump_ = ExtractResult{};
    const TreeItem item = tree_.getSelectedItem();
    const EntryRef e = entryOf(item);
    if (e == kNoEntry) return;
    if (parser_->isDirectory(e)) {
        insertChildren(item, false);
        if (!tree_.itemHasChildren(item)) return;
        list_.deleteAllItems();
        int row = 0;
        for (TreeItem c = tree_.getChildItem(item); c != kNoItem; c = tree_.getNextSiblingItem(c)) {
            if (tree_.getItemImage(c) == folderIconIndex_) continue;
            const int r = list_.insertItem(row++, tree_.getItemText(c));
            list_.setItemData(r, c);
        }
        return;
    }
    const std::string folder = outputFolder();
    if (folder.empty()) {
        messageBox("select output folder");
        return;
    }
    lastDump_ = parser_->extractEntry(e, folder);
    if (parser_->reportsDumpedPath() && lastDump_.created)
        messageBox(strprintf("file is dumped in path  :  %s   ", lastDump_.path.c_str()));
}

}  // namespace kelvara
