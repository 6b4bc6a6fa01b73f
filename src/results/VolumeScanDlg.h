#pragma once
// The results page (template 139): creates the parser for the chosen volume, runs its
// scan on a worker thread with Pause, Resume and Stop, and then serves the tree, the
// file list, Save, the double click and the search. It talks to the parser only through
// VolumeParser, and to the user only through its controls and its services.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/readWriteInterface.h"
#include "fs/VolumeParser.h"
#include "partition/VolumeRecord.h"
#include "ui/Dialog.h"
#include "ui/PageSink.h"
#include "ui/WorkerThread.h"
#include "widgets/CCheckListCtrl.h"
#include "widgets/CUseShGetFileInfo.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara {

struct SearchMatcher;

// Control ids of the page.
enum VolumeScanControl : int {
    IDC_VOLUME_LABEL = 1056,
    IDC_VOLUME_DATA = 1322,
    IDC_SEARCH_EDIT = 1319,
    IDC_SEARCH = 1318,
    IDC_TREE = 1042,
    IDC_LIST = 1268,
    IDC_PROGRESS = 1055,
    IDC_PAUSE = 1060,
    IDC_RESUME = 1061,
    IDC_STOP = 1059,
    IDC_STATUS = 1033,
    IDC_BACK = 1057,
    IDC_SAVE = 1269,
    IDC_HELP = 1326,
    IDC_FILE_SIZE = 1325,
    IDC_TFS_LABEL = 1062,
    IDC_TFS_LIST = 1063,
    IDC_SPC_LABEL = 1068,
    IDC_SPC_LIST = 1069,
    IDC_ADVANCED_LABEL = 1070,
    IDC_HEAP_LABEL = 1076,
    IDC_HEAP_LIST = 1077,
    IDC_OUTPUT_FOLDER = 1107,
};

// Commands of the Help menu.
constexpr int ID_HELP_MANUAL = 32771;
constexpr int ID_HELP_WEBPAGE = 32774;
constexpr int ID_HELP_ABOUT = 32775;
constexpr int kResultsPageId = 139;

inline constexpr const char* kProductWebPage = "https://www.kelvara.example/";
inline constexpr const char* kProductManual = "https://www.kelvara.example/manual.html";
inline constexpr const char* kPlaceholderText = "..DUMY..";

// What the earlier pages hand to the results page.
struct VolumeScanSetup {
    VolumeRecord volume;
    int scanMode = 1;
    bool isVolume = false;                // reopen the reader on the volume's path
    readWriteInterface* reader = nullptr;  // the current reader
    // Mode 2: the parser the advance options page created and prepared, with the texts
    // and selections of its three lists (MFT candidates, sectors per cluster, heap offset).
    std::unique_ptr<VolumeParser> preparedParser;
    std::vector<std::string> candidates, sectorsPerCluster, heapOffsets;
    int candidateSelection = -1, sectorsSelection = -1, heapSelection = -1;
};

// What the last Save did.
struct SaveOutcome {
    bool asked = false;     // the confirmation was shown
    bool ran = false;       // the walk ran (confirmed)
    std::uint64_t found = 0;    // the count the confirmation asked about
    std::uint64_t written = 0;  // files written completely
    std::uint64_t failed = 0;   // files that could not be created or read completely
    std::uint64_t skipped = 0;  // counted but never written ($BadClus)
    std::vector<std::string> failures;
};

class VolumeScanDlg : public ui::CDialog {
public:
    using ParserMaker = std::function<std::unique_ptr<VolumeParser>(const std::string& kind)>;

    // maker defaults to createParser.
    VolumeScanDlg(ui::UiServices services, VolumeScanSetup setup, ui::CDialog* owner = nullptr,
                  ParserMaker maker = {});
    ~VolumeScanDlg() override;

    // Initialisation: controls, the dispatch on the file-system name, the worker.
    void onInitDialog();
    // Where the worker's progress and status go besides the page (the command line's
    // display). Set before onInitDialog.
    void setFrontEndSink(ProgressSink* sink) { sink_.setForward(sink); }

    // Buttons and commands.
    void onPause();
    void onResume();
    void onStop();
    void onBack();
    void onExit();
    void onCancel();
    void onHelpCommand(int command);
    void onSave();
    void onSearch();

    // Tree and list events (the tree's own notifications arrive through its owner).
    void onTreeLabelClick(TreeItem item);
    void onTreeItemExpanding(TreeItem item);
    void onTreeDoubleClick();
    void onListClick(int row, bool onCheckBox);

    // Waits for the running worker (scan or search) to end.
    void waitForWorker();

    CXHtmlTree& tree() { return tree_; }
    CCheckListCtrl& list() { return list_; }
    VolumeParser* currentParser() const { return parser_.get(); }
    bool workerStarted() const { return workerStarted_; }
    bool scanRunning() const { return scanRunning_.load() != 0; }
    bool stopRequested() const { return stopRequested_.load() != 0; }
    bool showsSearchResults() const { return showsSearchResults_.load() != 0; }
    bool searchRunning() const { return searchRunning_.load(); }
    int scanMode() const { return scanMode_; }
    std::string outputFolder() const { return text(IDC_OUTPUT_FOLDER); }
    void setOutputFolder(const std::string& folder) { setText(IDC_OUTPUT_FOLDER, folder); }
    const SaveOutcome& lastSave() const { return lastSave_; }
    const ExtractResult& lastDump() const { return lastDump_; }
    int folderIconIndex() const { return folderIconIndex_; }

private:
    void dispatch();
    void startScanWorker();
    void scanWorker();
    void commonEnd();
    void addPlaceholders();
    void restoreRecycledNames();
    void finishScanControls();
    void stopAll();

    // The entry an item shows; kNoEntry for "ROOT", placeholders and foreign data.
    EntryRef entryOf(TreeItem item) const;
    // Inserts the missing children of a directory item; the parser lock is held.
    void insertChildren(TreeItem dir, bool colorDeleted);
    void addRow(int row, const std::string& text, EntryRef entry, std::int64_t data);
    // The chain of an entry's children with a guard against loops.
    template <typename F>
    void forEachChild(EntryRef dir, F&& f) const;

    void saveDirectory(EntryRef dir, const std::string& folder, SaveOutcome& outcome);

    void searchWorker();
    void searchDirectory(const SearchMatcher& matcher, EntryRef entry, const std::string& path,
                         std::uint64_t& rows);
    void appendSearchRow(std::uint64_t& rows, const std::string& path, EntryRef entry);
    void restoreTreeAfterSearch();

    // The parser is used by one thread at a time: UI handlers wait for the search worker
    // and give way to a running scan.
    std::unique_lock<std::mutex> lockParserForUi();

    VolumeScanSetup setup_;
    ParserMaker maker_;
    std::unique_ptr<VolumeParser> parser_;
    CXHtmlTree tree_;
    CCheckListCtrl list_;
    CUseShGetFileInfo icons_;
    ui::PageSink sink_;
    ui::WorkerThread worker_;
    std::mutex parserMutex_;
    int scanMode_ = 1;
    int folderIconIndex_;
    bool workerStarted_ = false;
    std::atomic<std::uint8_t> scanRunning_{0};
    std::atomic<std::uint8_t> stopRequested_{0};
    std::atomic<std::uint8_t> showsSearchResults_{0};
    std::atomic<bool> searchRunning_{false};
    std::string searchPattern_;
    SaveOutcome lastSave_;
    ExtractResult lastDump_;
};

}  // namespace kelvara
