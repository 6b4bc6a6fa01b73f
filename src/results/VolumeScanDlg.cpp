#include "results/VolumeScanDlg.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <unordered_set>

#include "common/Text.h"
#include "fs/ParserFactory.h"
#include "platform/Output.h"
#include "results/RecycleBinIndex.h"

namespace kelvara {

namespace {

const char* const kScanDone = "Scanning processing done.Select save button to save the data.";

bool isKnownKind(const std::string& k) {
    return k == "ntfs" || k == "fat32" || k == "fat16" || k == "fat" || k == "extx" || k == "fat64" ||
           k == "exfat" || k == "hfs+";
}

}  // namespace

VolumeScanDlg::VolumeScanDlg(ui::UiServices services, VolumeScanSetup setup, ui::CDialog* owner,
                             ParserMaker maker)
    : ui::CDialog(kResultsPageId, services, owner),
      setup_(std::move(setup)),
      maker_(maker ? std::move(maker) : ParserMaker([](const std::string& k) { return createParser(k); })),
      sink_(*this, IDC_PROGRESS, IDC_STATUS),
      folderIconIndex_(icons_.getFolderIconIndex()) {}

VolumeScanDlg::~VolumeScanDlg() {
    stopAll();
    worker_.join();
}

template <typename F>
void VolumeScanDlg::forEachChild(EntryRef dir, F&& f) const {
    std::unordered_set<EntryRef> seen;
    for (EntryRef c = parser_->firstChild(dir); c >= 0 && parser_->isEntry(c) && seen.insert(c).second; c = parser_->nextSibling(c)) {
        if (!f(c)) return;
    }
}

void VolumeScanDlg::onInitDialog() {
    setWindowTitle(kApplicationTitle);
    addControl(IDC_VOLUME_LABEL, "Volume Data:");
    addControl(IDC_VOLUME_DATA);
    addControl(IDC_SEARCH_EDIT);
    addControl(IDC_SEARCH, "Search");
    addControl(ui::IDC_STATIC, "* Use \"|\" to find multiple file type ");
    addControl(IDC_TREE);
    addControl(IDC_LIST);
    addControl(IDC_PROGRESS);
    addControl(IDC_PAUSE, "Pause");
    addControl(IDC_RESUME, "Resume");
    addControl(IDC_STOP, "Stop");
    addControl(IDC_STATUS);
    addControl(IDC_BACK, "Back");
    addControl(IDC_SAVE, "Save");
    addControl(IDC_HELP, "Help");
    setItems(IDC_HELP, {"Help", "About", "Software Webpage"});
    addControl(IDC_FILE_SIZE);
    addControl(ui::IDOK, "EXIT");
    show(ui::IDOK, false);
    addControl(IDC_TFS_LABEL, "TFS :");
    addControl(IDC_TFS_LIST);
    addControl(IDC_SPC_LABEL, "Sector Per Cluster :");
    addControl(IDC_SPC_LIST);
    addControl(IDC_ADVANCED_LABEL, "ADVANCED INPUT :");
    addControl(IDC_HEAP_LABEL, "Heap Offset :");
    addControl(IDC_HEAP_LIST);
    addControl(IDC_OUTPUT_FOLDER);

    scanRunning_ = 1;
    tree_.initialize(true, true);
    tree_.setSmartCheckBoxes(true);
    tree_.setOwner([this](unsigned msg, TreeItem item, std::int64_t param) {
        if (msg == WM_TREE_LABEL_CLICK) onTreeLabelClick(item);
        else if (msg == WM_XHTMLTREE_ITEM_EXPANDED && param == 1) onTreeItemExpanding(item);
    });
    show(IDC_OUTPUT_FOLDER, false);
    enable(IDC_BACK, false);

    list_.insertColumn(0, "File(s) List", LVCFMT_LEFT, 80);
    list_.insertColumn(1, "Creation Time", LVCFMT_LEFT, 90);
    list_.insertColumn(2, "Access Time", LVCFMT_LEFT, 90);
    list_.insertColumn(3, "Modification Time", LVCFMT_LEFT, 90);
    list_.insertColumn(4, "Size", LVCFMT_LEFT, 80);
    list_.insertColumn(5, "Attribute", LVCFMT_LEFT, 70);
    list_.setExtendedStyle(kResultsListStyle);
    list_.initHeaderCheckBox();
    list_.setOwner([this](unsigned code, int row, std::int64_t param) {
        if (code == NM_CLICK_LIST) onListClick(row, param != 0);
    });

    scanMode_ = setup_.scanMode;
    if (scanMode_ == 2 && setup_.preparedParser) {
        setItems(IDC_TFS_LIST, setup_.candidates, setup_.candidateSelection);
        setItems(IDC_SPC_LIST, setup_.sectorsPerCluster, setup_.sectorsSelection);
        setItems(IDC_HEAP_LIST, setup_.heapOffsets, setup_.heapSelection);
    }
    setText(IDC_VOLUME_DATA, setup_.volume.displayName.empty() ? setup_.volume.VOLUME : setup_.volume.displayName);
    for (int id : {IDC_TFS_LABEL, IDC_TFS_LIST, IDC_SPC_LABEL, IDC_SPC_LIST, IDC_ADVANCED_LABEL, IDC_HEAP_LABEL,
                   IDC_HEAP_LIST, IDC_OUTPUT_FOLDER})
        show(id, false);

    dispatch();
}

void VolumeScanDlg::dispatch() {
    const std::string kind = asciiLower(setup_.volume.FILE_SYSTEM);
    auto notValid = [this] {
        messageBox("not a valid drive.");
        enable(IDC_BACK, true);
        setText(IDC_STATUS, "Not a valid Drive .Go back");
    };
    if (!isKnownKind(kind)) {
        notValid();
        return;
    }
    if (!setup_.reader) {
        messageBox("Please Restart the program to re begin necessary initialization...");
        return;
    }
    if (kind == "ntfs") setText(IDC_STATUS, "ntfs partition selected....");
    if (kind == "hfs+") setText(IDC_STATUS, "HFS+ partition selected....");

    // ext and HFS+ always get a fresh parser; the others reuse the one the advance
    // options page prepared.
    const bool reusable = kind != "extx" && kind != "hfs+";
    if (scanMode_ == 2 && reusable && setup_.preparedParser) parser_ = std::move(setup_.preparedParser);
    else parser_ = maker_(setup_.volume.FILE_SYSTEM);
    if (!parser_) {
        notValid();
        return;
    }
    parser_->tree = &tree_;
    parser_->sink = &sink_;
    parser_->reader = setup_.reader;
    parser_->volume = setup_.volume;
    parser_->pauseHook = [this] { worker_.checkpoint(); };
    if (setup_.isVolume) setup_.reader->open(setup_.volume.VOLUME);

    if (!parser_->hasWorker(scanMode_)) return;  // the page stays as initialised
    startScanWorker();
}

void VolumeScanDlg::startScanWorker() {
    workerStarted_ = true;
    worker_.start([this] { scanWorker(); });
}

void VolumeScanDlg::scanWorker() {
    // HFS+ ends with its own texts ("Work Done." / "Work Aborted....") instead of the
    // completion message.
    const bool statusEnd = parser_->hasOwnEndOfScan();
    {
        std::lock_guard<std::mutex> lock(parserMutex_);
        parser_->runScan(scanMode_);
        addPlaceholders();
        if (!statusEnd) restoreRecycledNames();
    }
    enable(IDC_BACK, true);
    if (!statusEnd) {
        messageBox(kScanDone);
        setText(IDC_STATUS, kScanDone);
    }
    finishScanControls();
    scanRunning_ = 0;
}

void VolumeScanDlg::finishScanControls() {
    for (int id : {IDC_PROGRESS, IDC_PAUSE, IDC_RESUME, IDC_STOP}) show(id, false);
}

EntryRef VolumeScanDlg::entryOf(TreeItem item) const {
    if (!parser_ || !tree_.isValid(item) || item == tree_.getRootItem()) return kNoEntry;
    if (tree_.getItemText(item) == kPlaceholderText && tree_.getItemImage(item) == CUseShGetFileInfo::kPlaceholderIcon)
        return kNoEntry;
    const EntryRef e = tree_.getItemData(item);
    return parser_->isEntry(e) ? e : kNoEntry;
}

void VolumeScanDlg::addPlaceholders() {
    const TreeItem root = tree_.getRootItem();
    if (root == kNoItem) return;
    for (TreeItem x = tree_.getChildItem(root); x != kNoItem; x = tree_.getNextSiblingItem(x)) {
        if (tree_.getItemImage(x) == 0 || tree_.itemHasChildren(x)) continue;
        const EntryRef e = entryOf(x);
        if (e == kNoEntry || !parser_->hasChildren(e)) continue;
        const int icon = CUseShGetFileInfo::kPlaceholderIcon;
        TreeItem p = tree_.insertItem(kPlaceholderText, icon, icon, x, tree_.getCheck(x));
        tree_.setItemData(p, kNoEntry);
    }
}

void VolumeScanDlg::restoreRecycledNames() {
    if (!parser_->restoresRecycledNames()) return;
    const TreeItem root = tree_.getRootItem();
    if (root == kNoItem) return;
    std::optional<std::string> scratch;  // private folder for the $I copies
    for (TreeItem x = tree_.getChildItem(root); x != kNoItem; x = tree_.getNextSiblingItem(x)) {
        const std::string text = tree_.getItemText(x);
        if (tree_.getItemImage(x) != folderIconIndex_ || (text != "$RECYCLE.BIN" && text != "$RECYCLEBIN")) continue;
        const EntryRef bin = entryOf(x);
        if (bin == kNoEntry) continue;
        std::vector<EntryRef> users;
        forEachChild(bin, [&](EntryRef u) {
            if (parser_->isDirectory(u)) users.push_back(u);
            return true;
        });
        for (EntryRef user : users) {
            std::map<std::string, std::string> names;  // $I name -> original name
            std::vector<EntryRef> indexFiles;
            forEachChild(user, [&](EntryRef c) {
                if (parser_->name(c).rfind("$I", 0) == 0) indexFiles.push_back(c);
                return true;
            });
            for (EntryRef c : indexFiles) {
                if (!scratch)
                    scratch = platform::createUniqueDirectory(platform::temporaryDirectory(), "kelvara-recycle");
                if (!scratch) return;
                const ExtractResult r = parser_->extractEntry(c, *scratch);
                if (!r.created) continue;
                std::vector<std::uint8_t> bytes;
                {
                    std::ifstream in(r.path, std::ios::binary);
                    bytes.resize(kMaxRecycleIndexSize + 1);
                    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                    bytes.resize(static_cast<std::size_t>(in.gcount()));
                }
                std::error_code ec;
                std::filesystem::remove(r.path, ec);
                if (bytes.size() > kMaxRecycleIndexSize) continue;
                if (auto original = recycledOriginalName(bytes.data(), bytes.size()))
                    names[parser_->name(c)] = *original;
            }
            for (const auto& named : names) {
                // Named, not bound: lambdas may not capture structured bindings everywhere.
                const std::string& original = named.second;
                const std::string dataName = "$R" + named.first.substr(2);
                forEachChild(user, [&](EntryRef c) {
                    if (parser_->name(c) == dataName) parser_->setName(c, original);
                    return true;
                });
            }
        }
    }
    if (scratch) {
        std::error_code ec;
        std::filesystem::remove_all(*scratch, ec);
    }
}

std::unique_lock<std::mutex> VolumeScanDlg::lockParserForUi() {
    if (!parser_ || scanRunning()) return {};
    return std::unique_lock<std::mutex>(parserMutex_);
}

void VolumeScanDlg::insertChildren(TreeItem dir, bool colorDeleted) {
    const EntryRef e = entryOf(dir);
    if (e == kNoEntry) return;
    const bool checked = tree_.getCheck(dir);
    const TreeItem first = tree_.getChildItem(dir);
    if (first != kNoItem) {
        if (tree_.getItemText(first) != kPlaceholderText) return;  // already filled
        tree_.deleteItem(first);
    }
    forEachChild(e, [&](EntryRef c) {
        if (c == e) return true;  // a directory listed inside itself
        const std::string name = parser_->name(c);
        TreeItem item;
        if (parser_->isDirectory(c)) {
            item = tree_.insertItem(name, folderIconIndex_, folderIconIndex_, dir, checked);
            if (parser_->hasChildren(c)) {
                const int icon = CUseShGetFileInfo::kPlaceholderIcon;
                TreeItem p = tree_.insertItem(kPlaceholderText, icon, icon, item, checked);
                tree_.setItemData(p, kNoEntry);
            }
        } else {
            const int icon = icons_.getFileIconIndex(name);
            item = tree_.insertItem(name, icon, icon, dir, checked);
        }
        tree_.setItemData(item, c);
        if (colorDeleted && parser_->isDeleted(c)) tree_.setItemColor(item, kRed);
        return true;
    });
}

void VolumeScanDlg::addRow(int row, const std::string& text, EntryRef entry, std::int64_t data) {
    const EntryTimeTexts t = parser_->formatTimes(entry);
    const int r = list_.insertItem(row, text);
    list_.setItemText(r, 1, t.created);
    list_.setItemText(r, 2, t.accessed);
    list_.setItemText(r, 3, t.modified);
    list_.setItemText(r, 4, parser_->formatSize(entry));
    list_.setItemText(r, 5, t.attributes);
    list_.setItemData(r, data);
}

void VolumeScanDlg::onTreeLabelClick(TreeItem item) {
    if (!isEnabled(IDC_TREE)) return;
    auto lock = lockParserForUi();
    if (!lock) return;
    const EntryRef e = entryOf(item);
    if (e == kNoEntry) return;
    if (parser_->isDirectory(e)) {
        insertChildren(item, true);
        if (!tree_.itemHasChildren(item)) return;
        list_.deleteAllItems();
        showsSearchResults_ = 0;
        int row = 0;
        for (TreeItem c = tree_.getChildItem(item); c != kNoItem; c = tree_.getNextSiblingItem(c)) {
            const EntryRef ce = entryOf(c);
            if (ce == kNoEntry || parser_->isDirectory(ce)) continue;
            addRow(row++, tree_.getItemText(c), ce, c);
        }
    } else {
        list_.deleteAllItems();
        showsSearchResults_ = 0;
        addRow(0, tree_.getItemText(item), e, item);
    }
}

void VolumeScanDlg::onTreeItemExpanding(TreeItem item) {
    if (!isEnabled(IDC_TREE)) return;
    auto lock = lockParserForUi();
    if (!lock) return;
    insertChildren(item, false);
}

void VolumeScanDlg::onListClick(int row, bool onCheckBox) {
    if (!onCheckBox || showsSearchResults()) return;
    const bool wasChecked = list_.getCheck(row);
    const TreeItem item = static_cast<TreeItem>(list_.getItemData(row));
    if (tree_.isValid(item)) tree_.setCheck(item, !wasChecked);
}

void VolumeScanDlg::stopAll() {
    if (parser_) parser_->stopFlag = 1;
    stopRequested_ = 1;
}

void VolumeScanDlg::onPause() {
    if (!worker_.exists()) return;
    worker_.pause();
    setText(IDC_STATUS, "Pause button pressed");
}

void VolumeScanDlg::onResume() {
    if (!worker_.exists()) return;
    worker_.resume();
    setText(IDC_STATUS, "Resume button pressed");
}

void VolumeScanDlg::onStop() {
    if (!parser_) return;
    parser_->stopFlag = 1;
    stopRequested_ = 1;
    setText(IDC_STATUS, "stop button pressed.Please wait for the process to be stopped.");
}

void VolumeScanDlg::onBack() {
    if (!isEnabled(IDC_BACK)) return;
    if (worker_.running()) stopAll();
    worker_.join();
    goBack();
}

void VolumeScanDlg::onExit() {
    if (parser_) {
        stopAll();
        setText(IDC_STATUS, "All thread Stopped");
    }
    worker_.join();
    destroyWindow();
    requestExit(0);
}

void VolumeScanDlg::onCancel() {
    if (messageBox("Do you want to Close Application ?", MessageIcon::Question, MessageButtons::YesNo) !=
        MessageAnswer::Yes)
        return;
    if (services().shell) services().shell->openUrl(kProductWebPage);
    onExit();
}

void VolumeScanDlg::onHelpCommand(int command) {
    if (!services().shell) return;
    if (command == ID_HELP_MANUAL) services().shell->openUrl(kProductManual);
    else if (command == ID_HELP_WEBPAGE) services().shell->openUrl(kProductWebPage);
}

void VolumeScanDlg::waitForWorker() { worker_.join(); }

}  // namespace kelvara
