#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "device/MemoryReadSeek.h"
#include "results/VolumeScanDlg.h"
#include "support/TestSupport.h"
#include "results/FakeVolumeParser.h"

using namespace kelvara;
using kelvara::test::FakeVolumeParser;
namespace fs = std::filesystem;

namespace {

const char* const kDone = "Scanning processing done.Select save button to save the data.";

std::string readText(const std::string& path) {
    auto b = kelvara::test::readFileBytes(path);
    return std::string(b.begin(), b.end());
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A results page over a fake parser, with scripted services.
struct PageHarness {
    explicit PageHarness(std::unique_ptr<FakeVolumeParser> parser, std::string fileSystem = "ntfs", int mode = 1,
                         bool withReader = true) {
        fake = parser.get();
        auto owned = std::make_shared<std::unique_ptr<FakeVolumeParser>>(std::move(parser));
        VolumeScanSetup setup;
        setup.volume.FILE_SYSTEM = std::move(fileSystem);
        setup.volume.VOLUME = "1";
        setup.scanMode = mode;
        setup.reader = withReader ? &reader : nullptr;
        ui::UiServices services;
        services.messages = &messages;
        services.folders = &folders;
        services.shell = &shell;
        page = std::make_unique<VolumeScanDlg>(services, std::move(setup), nullptr,
                                               [owned](const std::string&) -> std::unique_ptr<VolumeParser> {
                                                   return std::move(*owned);
                                               });
    }
    void scan() {
        page->onInitDialog();
        page->waitForWorker();
    }
    CXHtmlTree& tree() { return page->tree(); }
    TreeItem root() { return tree().getRootItem(); }
    TreeItem child(TreeItem parent, const std::string& text) {
        for (TreeItem c = tree().getChildItem(parent); c != kNoItem; c = tree().getNextSiblingItem(c))
            if (tree().getItemText(c) == text) return c;
        return kNoItem;
    }
    std::vector<std::string> childTexts(TreeItem parent) {
        std::vector<std::string> out;
        for (TreeItem c = tree().getChildItem(parent); c != kNoItem; c = tree().getNextSiblingItem(c))
            out.push_back(tree().getItemText(c));
        return out;
    }
    std::vector<std::string> column(int col) {
        std::vector<std::string> out;
        for (const auto& r : page->list().rows()) out.push_back(r.cells.at(static_cast<std::size_t>(col)));
        return out;
    }
    void save(TreeItem item, const std::optional<std::string>& folder) {
        tree().selectItem(item);
        folders.queueAnswer(folder);
        page->onSave();
    }
    void search(const std::string& pattern) {
        page->setText(IDC_SEARCH_EDIT, pattern);
        page->onSearch();
        page->waitForWorker();
    }

    MemoryReadSeek reader{std::vector<std::uint8_t>(4096, 0)};
    ui::ScriptedMessages messages;
    ui::ScriptedFolderPicker folders;
    ui::RecordingShell shell;
    FakeVolumeParser* fake = nullptr;
    std::unique_ptr<VolumeScanDlg> page;
};

// ROOT: Docs (a.txt, b.txt, c.txt, Sub (d.txt, e.txt)), Pics (only folders: One, Two (x.jpg)),
// top.txt, gone.txt (deleted), Empty (no children), $BadClus inside Docs.
std::unique_ptr<FakeVolumeParser> sampleVolume() {
    auto p = std::make_unique<FakeVolumeParser>();
    const EntryRef docs = p->dir("Docs", p->root);
    p->file("a.txt", docs, "alpha");
    p->file("b.txt", docs, "bravo", true);
    p->file("c.txt", docs, "charlie");
    const EntryRef sub = p->dir("Sub", docs);
    p->file("d.txt", sub, "delta");
    p->file("e.txt", sub, "echo");
    const EntryRef pics = p->dir("Pics", p->root);
    p->dir("One", pics);
    const EntryRef two = p->dir("Two", pics);
    p->file("x.jpg", two, "xray");
    p->file("top.txt", p->root, "top");
    p->file("gone.txt", p->root, "gone", true);
    p->dir("Empty", p->root);
    return p;
}

}  // namespace

TEST(VolumeScanDlg, InitialisesControlsAndEndsTheScanWithTheCommonEnd) {
    PageHarness h(sampleVolume(), "NTFS");  // the kind is compared ignoring case
    h.scan();
    VolumeScanDlg& p = *h.page;
    EXPECT_EQ(p.windowTitle(), kApplicationTitle);
    EXPECT_EQ(p.text(IDC_SEARCH), "Search");
    EXPECT_EQ(p.text(IDC_SAVE), "Save");
    EXPECT_EQ(p.text(IDC_PAUSE), "Pause");
    EXPECT_EQ(p.text(IDC_RESUME), "Resume");
    EXPECT_EQ(p.text(IDC_STOP), "Stop");
    EXPECT_EQ(p.text(IDC_BACK), "Back");
    EXPECT_EQ(p.text(ui::IDOK), "EXIT");
    EXPECT_FALSE(p.isVisible(ui::IDOK));
    for (int id : {1062, 1063, 1068, 1069, 1070, 1076, 1077, 1107}) EXPECT_FALSE(p.isVisible(id)) << id;
    EXPECT_EQ(p.text(IDC_VOLUME_DATA), "1");
    const auto cols = p.list().columns();
    ASSERT_EQ(cols.size(), 6u);
    const std::vector<std::pair<std::string, int>> want = {{"File(s) List", 80}, {"Creation Time", 90},
                                                           {"Access Time", 90},  {"Modification Time", 90},
                                                           {"Size", 80},         {"Attribute", 70}};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(cols[i].text, want[i].first);
        EXPECT_EQ(cols[i].width, want[i].second);
    }
    EXPECT_EQ(p.list().extendedStyle(), 0x425u);
    EXPECT_EQ(p.list().headerImage(), 1);

    EXPECT_TRUE(p.workerStarted());
    EXPECT_EQ(h.fake->scannedMode, 1);
    EXPECT_FALSE(p.scanRunning());
    EXPECT_TRUE(p.isEnabled(IDC_BACK));
    EXPECT_EQ(h.messages.count(kDone), 1u);
    EXPECT_EQ(p.text(IDC_STATUS), kDone);
    for (int id : {IDC_PROGRESS, IDC_PAUSE, IDC_RESUME, IDC_STOP}) EXPECT_FALSE(p.isVisible(id)) << id;
    EXPECT_EQ(h.fake->reader, &h.reader);
    EXPECT_EQ(h.fake->tree, &h.tree());
}

TEST(VolumeScanDlg, DispatchFollowsTheKindAndModeTable) {
    struct Case {
        std::string fs;
        int mode;
        bool reader;
        bool worker;
        std::string message;
        std::string status;
        bool backEnabled;
    };
    const std::vector<Case> cases = {
        {"ntfs", 3, true, true, kDone, kDone, true},
        {"fat32", 3, true, false, "", "", false},  // no deep mode for FAT32: the page stays as it is
        {"fat16", 2, true, true, kDone, kDone, true},
        {"extX", 2, true, false, "", "", false},
        {"exFat", 1, true, true, kDone, kDone, true},
        {"HFS+", 3, true, true, "", "Work Done.", true},
        {"xfs", 1, true, false, "not a valid drive.", "Not a valid Drive .Go back", true},
        {"ntfs", 1, false, false, "Please Restart the program to re begin necessary initialization...", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fs + " mode " + std::to_string(c.mode));
        auto parser = std::make_unique<FakeVolumeParser>(asciiLower(c.fs) == "exfat" ? "fat64" : c.fs);
        PageHarness h(std::move(parser), c.fs, c.mode, c.reader);
        h.scan();
        EXPECT_EQ(h.page->workerStarted(), c.worker);
        EXPECT_EQ(h.page->scanRunning(), !c.worker);  // only a worker clears it
        if (c.message.empty()) {
            EXPECT_TRUE(h.messages.shown().empty());
        } else {
            EXPECT_EQ(h.messages.texts(), std::vector<std::string>{c.message});
        }
        if (!c.status.empty()) {
            EXPECT_EQ(h.page->text(IDC_STATUS), c.status);
        }
        EXPECT_EQ(h.page->isEnabled(IDC_BACK), c.backEnabled);
        if (c.worker) {
            EXPECT_EQ(h.fake->scannedMode, c.mode);
        }
    }
    // A scan with its own end (HFS+) keeps its texts and still gets placeholders.
    auto hfs = sampleVolume();
    auto own = std::make_unique<FakeVolumeParser>("HFS+");
    own->entries = hfs->entries;
    own->root = hfs->root;
    own->scanResult = false;
    PageHarness h(std::move(own), "HFS+");
    h.scan();
    EXPECT_EQ(h.page->text(IDC_STATUS), "Work Aborted....");
    EXPECT_TRUE(h.messages.shown().empty());
    EXPECT_EQ(h.childTexts(h.child(h.root(), "Docs")), std::vector<std::string>{kPlaceholderText});
    EXPECT_FALSE(h.page->isVisible(IDC_PROGRESS));
    EXPECT_TRUE(h.page->isEnabled(IDC_BACK));
}

TEST(VolumeScanDlg, PlaceholdersAreAddedOnceAndReplacedOnce) {
    PageHarness h(sampleVolume());
    h.scan();
    const TreeItem docs = h.child(h.root(), "Docs");
    EXPECT_EQ(h.childTexts(docs), std::vector<std::string>{kPlaceholderText});
    EXPECT_EQ(h.tree().getItemImage(h.tree().getChildItem(docs)), 1);
    EXPECT_TRUE(h.childTexts(h.child(h.root(), "Empty")).empty());  // no children, no placeholder
    EXPECT_TRUE(h.childTexts(h.child(h.root(), "top.txt")).empty());

    // Opening fills it; a label click, a collapse and a second opening add nothing.
    h.tree().expand(docs, ExpandCode::Expand);
    const std::vector<std::string> filled = {"a.txt", "b.txt", "c.txt", "Sub"};
    EXPECT_EQ(h.childTexts(docs), filled);
    EXPECT_EQ(h.childTexts(h.child(docs, "Sub")), std::vector<std::string>{kPlaceholderText});
    h.tree().clickLabel(docs);
    h.tree().expand(docs, ExpandCode::Collapse);
    h.tree().expand(docs, ExpandCode::Expand);
    EXPECT_EQ(h.childTexts(docs), filled);
    // Opening draws no red; a label click on the next level does.
    EXPECT_EQ(h.tree().getItemColor(h.child(docs, "b.txt")), kDefaultColor);
}

TEST(VolumeScanDlg, LabelClickFillsTheListWithSixColumns) {
    PageHarness h(sampleVolume());
    h.scan();
    const TreeItem docs = h.child(h.root(), "Docs");
    h.tree().clickLabel(docs);
    EXPECT_EQ(h.column(0), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));  // no sub-folders
    const auto row = h.page->list().rows().at(1);
    EXPECT_EQ(row.cells, (std::vector<std::string>{"b.txt", "c:b.txt", "a:b.txt", "m:b.txt", "5 Bytes", "-D"}));
    EXPECT_EQ(row.data, h.child(docs, "b.txt"));
    EXPECT_EQ(h.tree().getItemColor(h.child(docs, "b.txt")), kRed);  // deleted, filled by a label click
    EXPECT_EQ(h.tree().getItemColor(h.child(docs, "a.txt")), kDefaultColor);

    // A file shows itself; "ROOT" (whose data word is 0, entry 0 of the parser) is ignored.
    h.tree().clickLabel(h.child(h.root(), "top.txt"));
    EXPECT_EQ(h.column(0), std::vector<std::string>{"top.txt"});
    h.tree().clickLabel(h.root());
    EXPECT_EQ(h.column(0), std::vector<std::string>{"top.txt"});

    // A folder of only folders empties the list.
    h.tree().clickLabel(h.child(h.root(), "Pics"));
    EXPECT_EQ(h.page->list().getItemCount(), 0);
    EXPECT_EQ(h.childTexts(h.child(h.root(), "Pics")), (std::vector<std::string>{"One", "Two"}));
}

TEST(VolumeScanDlg, CheckedFolderGivesCheckedChildrenAndListClicksMirrorOntoTheTree) {
    PageHarness h(sampleVolume());
    h.scan();
    const TreeItem docs = h.child(h.root(), "Docs");
    h.tree().setCheck(docs, true);  // before it was ever opened
    h.tree().clickLabel(docs);
    for (const auto& name : {"a.txt", "b.txt", "c.txt", "Sub"}) EXPECT_TRUE(h.tree().getCheck(h.child(docs, name))) << name;
    EXPECT_TRUE(h.tree().getCheck(docs));

    // Unchecking row a.txt in the list unchecks it in the tree; the folder turns mixed.
    ASSERT_EQ(h.page->list().getItemCount(), 3);
    h.page->list().setCheck(0, true);
    h.page->list().clickCheckBox(0);
    EXPECT_FALSE(h.page->list().getCheck(0));
    EXPECT_FALSE(h.tree().getCheck(h.child(docs, "a.txt")));
    EXPECT_EQ(h.tree().stateImage(docs), 3);
    h.page->list().clickCheckBox(0);
    EXPECT_TRUE(h.tree().getCheck(h.child(docs, "a.txt")));

    // Search rows carry records, not tree items: their check boxes leave the tree alone.
    h.tree().setCheck(docs, false);
    h.search("txt");
    ASSERT_GT(h.page->list().getItemCount(), 0);
    for (int r = 0; r < h.page->list().getItemCount(); ++r) h.page->list().clickCheckBox(r);
    EXPECT_EQ(h.tree().getCheckedCount(), 0);
}

TEST(VolumeScanDlg, SaveAsksAboutEveryFileBelowAndRecreatesSubFolders) {
    auto v = sampleVolume();
    const EntryRef docs = 2;
    v->file("$BadClus", docs, "bad");
    v->dir(".", docs);  // a self link is neither created nor walked
    PageHarness h(std::move(v));
    h.scan();
    kelvara::test::ScratchDir out;
    h.save(h.child(h.root(), "Docs"), out.path());
    // a, b, c, $BadClus and the two in Sub: 6 counted, $BadClus never written.
    EXPECT_TRUE(h.messages.wasShown(
        "number of files found inside this folder = 6 .do u want to continue dumping these files..?"));
    EXPECT_EQ(h.folders.titles(), std::vector<std::string>{"Please choose a folder."});
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"Sub", "a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(namesIn(out.file("Sub")), (std::vector<std::string>{"d.txt", "e.txt"}));
    EXPECT_EQ(readText(out.file("Sub/e.txt")), "echo");
    EXPECT_EQ(fs::last_write_time(out.file("a.txt")).time_since_epoch().count() != 0, true);
    const SaveOutcome& s = h.page->lastSave();
    EXPECT_EQ(s.found, 6u);
    EXPECT_EQ(s.written, 5u);
    EXPECT_EQ(s.failed, 0u);
    EXPECT_EQ(s.skipped, 1u);
    EXPECT_TRUE(h.messages.wasShown("work done"));
    EXPECT_EQ(h.page->text(IDC_STATUS), "work done. 5 files written, 0 failed");
    EXPECT_EQ(h.page->control(IDC_PROGRESS).position, 6);

    // A second Save of the same folder never overwrites: the taken names get variants.
    h.save(h.child(h.root(), "Docs"), out.path());
    EXPECT_TRUE(fs::exists(out.file("a (2).txt")));
    EXPECT_TRUE(fs::exists(out.file("Sub (2)/d.txt")));
    EXPECT_EQ(readText(out.file("a.txt")), "alpha");
}

TEST(VolumeScanDlg, SaveRefusalsAndFailures) {
    auto v = sampleVolume();
    v->unreadable.insert("c.txt");
    PageHarness h(std::move(v));
    h.scan();
    kelvara::test::ScratchDir out;
    const TreeItem docs = h.child(h.root(), "Docs");

    h.save(docs, std::nullopt);  // the folder browser cancelled
    EXPECT_EQ(h.messages.texts().back(), "select output folder");

    h.messages.queueAnswer(MessageAnswer::No);
    h.save(docs, out.path());
    EXPECT_TRUE(namesIn(out.path()).empty());
    EXPECT_FALSE(h.page->lastSave().ran);

    const auto shownBefore = h.messages.shown().size();
    h.save(h.child(h.root(), "top.txt"), out.path());  // not a folder: nothing happens
    EXPECT_EQ(h.messages.shown().size(), shownBefore);

    h.save(docs, out.path());
    EXPECT_EQ(h.page->lastSave().written, 4u);
    EXPECT_EQ(h.page->lastSave().failed, 1u);  // read incompletely
    EXPECT_EQ(h.page->text(IDC_STATUS), "work done. 4 files written, 1 failed");
}

TEST(VolumeScanDlg, SaveOnRootSavesTheWholeVolume) {
    auto v = sampleVolume();
    const EntryRef orphans = v->dir("ORPHAN_ENTRY", v->root);
    v->file("lost.bin", orphans, "lost");
    PageHarness h(std::move(v));
    h.scan();
    kelvara::test::ScratchDir out;
    h.save(h.root(), out.path());
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"Docs", "Empty", "ORPHAN_ENTRY", "Pics", "gone.txt", "top.txt"}));
    EXPECT_EQ(readText(out.file("ORPHAN_ENTRY/lost.bin")), "lost");
    EXPECT_EQ(readText(out.file("Pics/Two/x.jpg")), "xray");
    EXPECT_EQ(h.page->lastSave().written, 9u);
}

TEST(VolumeScanDlg, StopDuringTheScanThenSaveStillWrites) {
    auto v = sampleVolume();
    std::atomic<bool> inLoop{false};
    v->duringScan = [&](FakeVolumeParser& p) {
        inLoop = true;
        while (!p.stopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    PageHarness h(std::move(v));
    h.page->onInitDialog();
    while (!inLoop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(h.page->scanRunning());
    EXPECT_FALSE(h.page->isEnabled(IDC_BACK));
    h.page->onSearch();  // refused while the scan runs
    EXPECT_EQ(h.messages.texts(), std::vector<std::string>{"Please wait for other process to complete"});
    h.page->onStop();
    EXPECT_EQ(h.page->text(IDC_STATUS), "stop button pressed.Please wait for the process to be stopped.");
    h.page->waitForWorker();
    EXPECT_TRUE(h.messages.wasShown(kDone));
    EXPECT_TRUE(h.page->stopRequested());

    kelvara::test::ScratchDir out;
    h.save(h.child(h.root(), "Docs"), out.path());
    EXPECT_EQ(h.page->lastSave().written, 5u);
    EXPECT_FALSE(h.page->stopRequested());
}

TEST(VolumeScanDlg, PauseHoldsTheWorkerAtItsStopChecks) {
    auto v = sampleVolume();
    std::atomic<int> checks{0};
    v->duringScan = [&](FakeVolumeParser& p) {
        while (!p.stopRequested()) {
            ++checks;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    PageHarness h(std::move(v));
    h.page->onInitDialog();
    h.page->onResume();  // without a pause: the worker runs on
    while (checks < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(h.page->text(IDC_STATUS), "Resume button pressed");
    h.page->onPause();
    EXPECT_EQ(h.page->text(IDC_STATUS), "Pause button pressed");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const int held = checks;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(checks, held);
    h.page->onResume();
    while (checks <= held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // EXIT stops and joins even a paused worker.
    h.page->onPause();
    h.page->onExit();
    EXPECT_TRUE(h.page->exitRequested());
    EXPECT_EQ(h.page->exitCode(), 0);
    EXPECT_TRUE(h.page->isDestroyed());
    EXPECT_FALSE(h.page->scanRunning());
}

TEST(VolumeScanDlg, HostileChainsNeitherOverflowNorHang) {
    auto v = std::make_unique<FakeVolumeParser>();
    // 100,000 nested nameless folders (they add no folder and no path) with a file at the bottom.
    EntryRef d = v->dir("deep", v->root);
    const EntryRef top = d;
    for (int i = 0; i < 100000; ++i) d = v->dir("", d);
    v->file("bottom.txt", d, "b");
    // A folder whose child chain loops, and a folder that contains its own parent.
    const EntryRef loop = v->dir("loop", v->root);
    const EntryRef f1 = v->file("f1", loop);
    const EntryRef f2 = v->file("f2", loop);
    v->entries[static_cast<std::size_t>(f2)].next = f1;
    const EntryRef cyc = v->dir("cycle", v->root);
    const EntryRef inner = v->dir("inner", cyc);
    v->link(inner, cyc);
    PageHarness h(std::move(v));
    h.scan();
    EXPECT_EQ(h.fake->countFiles(top), 1u);
    EXPECT_EQ(h.fake->countFiles(loop), 2u);

    kelvara::test::ScratchDir out;
    h.save(h.child(h.root(), "loop"), out.path());
    EXPECT_EQ(namesIn(out.path()), (std::vector<std::string>{"f1", "f2"}));
    EXPECT_EQ(h.page->lastSave().written, 2u);
    h.save(h.child(h.root(), "cycle"), out.path());
    EXPECT_EQ(h.page->lastSave().written, 0u);
    h.save(h.child(h.root(), "deep"), out.path());
    EXPECT_EQ(h.page->lastSave().found, 1u);
    EXPECT_EQ(readText(out.file("bottom.txt")), "b");
    h.search("bottom");
    ASSERT_EQ(h.page->list().getItemCount(), 1);
    EXPECT_EQ(h.page->list().getItemText(0, 0), "ROOT\\deep\\bottom.txt");
    h.tree().clickLabel(h.child(h.root(), "loop"));
    EXPECT_EQ(h.column(0), (std::vector<std::string>{"f1", "f2"}));
}

namespace {

std::string indexFileV1(const std::string& path) {
    std::vector<std::uint8_t> b(544, 0);
    kelvara::test::put64(b, 0, 1);
    kelvara::test::put64(b, 8, 1234);
    for (std::size_t i = 0; i < path.size(); ++i) kelvara::test::put16(b, 24 + 2 * i, static_cast<std::uint8_t>(path[i]));
    return std::string(b.begin(), b.end());
}

std::string indexFileV2(const std::string& path, std::uint32_t count) {
    std::vector<std::uint8_t> b(28 + 2 * (path.size() + 1), 0);
    kelvara::test::put64(b, 0, 2);
    kelvara::test::put32(b, 24, count);
    for (std::size_t i = 0; i < path.size(); ++i) kelvara::test::put16(b, 28 + 2 * i, static_cast<std::uint8_t>(path[i]));
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(VolumeScanDlg, RecycledFilesGetTheirNamesBack) {
    for (std::string kind : {"ntfs", "fat32", "fat64", "fat16"}) {
        SCOPED_TRACE(kind);
        auto v = std::make_unique<FakeVolumeParser>(kind);
        const EntryRef bin = v->dir("$RECYCLE.BIN", v->root);
        const EntryRef user = v->dir("S-1-5-21-1000", bin);
        v->file("$I123456.txt", user, indexFileV1("C:\\Users\\me\\report.txt"));
        const EntryRef r1 = v->file("$R123456.txt", user, "report");
        v->file("$IABCDEF.png", user, indexFileV2("D:\\pics\\holiday.png", 19));
        const EntryRef r2 = v->file("$RABCDEF.png", user, "png");
        // Only names that begin with $I are index files; a count past the data is bounded.
        v->file("A$I1", user, indexFileV1("C:\\x\\wrong.txt"));
        const EntryRef r3 = v->file("A$R1", user);
        v->file("$IXYZ", user, indexFileV2("C:\\long\\name.txt", 100000));
        const EntryRef r4 = v->file("$RXYZ", user);
        v->file("$IEMPTY", user, std::string(8, '\0'));
        const EntryRef r5 = v->file("$REMPTY", user);
        PageHarness h(std::move(v), kind);
        h.scan();
        const bool restores = kind != "fat16";
        EXPECT_EQ(h.fake->name(r1), restores ? "report.txt" : "$R123456.txt");
        EXPECT_EQ(h.fake->name(r2), restores ? "holiday.png" : "$RABCDEF.png");
        EXPECT_EQ(h.fake->name(r3), "A$R1");
        EXPECT_EQ(h.fake->name(r4), restores ? "name.txt" : "$RXYZ");
        EXPECT_EQ(h.fake->name(r5), "$REMPTY");
    }
}

TEST(VolumeScanDlg, SearchListsMatchingFilesWithTheirPaths) {
    auto v = sampleVolume();
    const EntryRef pics = 9;
    ASSERT_EQ(v->name(pics), "Pics");
    v->file("photo.JPG", pics);
    v->file("jpgtool.exe", pics);
    v->file("notes.doc", pics);
    v->file("ÉLAN.png", v->root);
    PageHarness h(std::move(v));
    h.scan();

    h.search("jpg|png");
    EXPECT_EQ(h.column(0), (std::vector<std::string>{"ROOT\\Pics\\Two\\x.jpg", "ROOT\\Pics\\photo.JPG",
                                                     "ROOT\\Pics\\jpgtool.exe", "ROOT\\ÉLAN.png"}));
    EXPECT_TRUE(h.page->showsSearchResults());
    EXPECT_EQ(h.messages.count("Searching Finished"), 1u);
    EXPECT_EQ(h.page->text(IDC_STATUS), "Searching Finished");
    EXPECT_FALSE(h.page->isVisible(IDC_PROGRESS));
    EXPECT_TRUE(h.page->isEnabled(IDC_SEARCH));
    EXPECT_TRUE(h.page->isEnabled(IDC_TREE));
    const auto row = h.page->list().rows().at(1);
    EXPECT_EQ(row.cells.at(1), "c:photo.JPG");
    EXPECT_EQ(h.fake->name(row.data), "photo.JPG");  // search rows carry the record

    h.search("élan");  // Unicode letters match ignoring case
    EXPECT_EQ(h.column(0), std::vector<std::string>{"ROOT\\ÉLAN.png"});

    h.search("");  // an empty pattern empties the list
    EXPECT_EQ(h.page->list().getItemCount(), 0);
    EXPECT_EQ(h.messages.count("Searching Finished"), 3u);

    h.search("top");
    EXPECT_EQ(h.column(0), std::vector<std::string>{"ROOT\\top.txt"});
    // A later label click ends the search-results state.
    h.tree().clickLabel(h.child(h.root(), "Docs"));
    EXPECT_FALSE(h.page->showsSearchResults());
}

TEST(VolumeScanDlg, InvalidSearchPatternShowsTheMessageAndEndsAtOnce) {
    PageHarness h(sampleVolume());
    h.scan();
    h.search("*.txt");
    EXPECT_EQ(h.messages.texts().back(),
              "such characters are not allowed for search.Try again with different pattern.");
    EXPECT_EQ(h.messages.count("Searching Finished"), 0u);
    EXPECT_EQ(h.page->list().getItemCount(), 0);
    EXPECT_TRUE(h.page->isVisible(IDC_PROGRESS));  // left as it was
    EXPECT_TRUE(h.page->isEnabled(IDC_TREE));
    EXPECT_TRUE(h.page->isEnabled(IDC_SAVE));
    EXPECT_TRUE(h.page->isEnabled(IDC_SEARCH));
    h.search("a\\.txt");
    EXPECT_EQ(h.column(0), std::vector<std::string>{"ROOT\\Docs\\a.txt"});
}

TEST(VolumeScanDlg, StopDuringASearchEndsItAndBackJoins) {
    auto v = sampleVolume();
    const EntryRef docs = 2;
    for (int i = 0; i < 3000; ++i) v->file("f" + std::to_string(i) + ".txt", docs);
    PageHarness h(std::move(v));
    h.scan();
    h.page->setText(IDC_SEARCH_EDIT, "txt");
    h.page->onPause();  // no worker runs: nothing happens
    h.page->onSearch();
    EXPECT_FALSE(h.page->isEnabled(IDC_SEARCH));
    h.page->onStop();
    h.page->waitForWorker();
    EXPECT_TRUE(h.messages.wasShown("Searching Finished"));
    EXPECT_FALSE(h.page->stopRequested());
    EXPECT_EQ(h.fake->stopFlag.load(), 0);
    // The next search starts over with an empty list.
    h.search("f1.txt");
    EXPECT_EQ(h.column(0), std::vector<std::string>{"ROOT\\Docs\\f1.txt"});

    h.page->setText(IDC_SEARCH_EDIT, "txt");
    h.page->onSearch();
    h.page->onBack();  // stops and joins before the page goes
    EXPECT_TRUE(h.page->isDestroyed());
    EXPECT_FALSE(h.page->searchRunning());
}

TEST(VolumeScanDlg, DoubleClickDumpsAFileOrListsAFoldersFiles) {
    for (std::string kind : {"ntfs", "fat64"}) {
        SCOPED_TRACE(kind);
        auto v = sampleVolume();
        auto fake = std::make_unique<FakeVolumeParser>(kind);
        fake->entries = v->entries;
        fake->root = v->root;
        PageHarness h(std::move(fake), kind);
        h.scan();
        const TreeItem top = h.child(h.root(), "top.txt");
        h.tree().selectItem(top);
        h.page->onTreeDoubleClick();
        EXPECT_EQ(h.messages.texts().back(), "select output folder");
        EXPECT_EQ(h.fake->extractCalls, 0);

        kelvara::test::ScratchDir out;
        h.page->setOutputFolder(out.path());
        h.page->onTreeDoubleClick();
        EXPECT_EQ(readText(out.file("top.txt")), "top");
        const std::string dumped = strprintf("file is dumped in path  :  %s   ", out.file("top.txt").c_str());
        EXPECT_EQ(h.messages.wasShown(dumped), kind == "fat64");

        h.tree().selectItem(h.child(h.root(), "Docs"));
        h.page->onTreeDoubleClick();
        EXPECT_EQ(h.column(0), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
        EXPECT_EQ(h.page->list().rows().at(0).cells.at(1), "");  // names only
    }
}

TEST(VolumeScanDlg, CloseAsksAndOpensTheWebPageOnYes) {
    PageHarness h(sampleVolume());
    h.scan();
    h.messages.queueAnswer(MessageAnswer::No);
    h.page->onCancel();
    EXPECT_FALSE(h.page->isDestroyed());
    EXPECT_EQ(h.messages.shown().back().text, "Do you want to Close Application ?");
    EXPECT_EQ(h.messages.shown().back().buttons, MessageButtons::YesNo);
    h.page->onCancel();
    EXPECT_TRUE(h.page->isDestroyed());
    EXPECT_TRUE(h.page->exitRequested());
    EXPECT_EQ(h.shell.urls(), std::vector<std::string>{kProductWebPage});
    EXPECT_EQ(h.page->text(IDC_STATUS), "All thread Stopped");
    EXPECT_TRUE(ui::CDialog::preTranslateKey(13));
    EXPECT_TRUE(ui::CDialog::preTranslateKey(27));
    EXPECT_FALSE(ui::CDialog::preTranslateKey(32));
}
