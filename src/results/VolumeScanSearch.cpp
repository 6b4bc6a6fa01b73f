// The search of the results page: a worker walks the parser's records below every
// top-level item and lists each file whose name matches the pattern.

#include <locale>
#include <optional>
#include <regex>
#include <unordered_set>

#include "common/Text.h"
#include "results/VolumeScanDlg.h"

namespace kelvara {

namespace {

const char* const kBadPattern = "such characters are not allowed for search.Try again with different pattern.";
const char* const kSearchDone = "Searching Finished";

std::wstring toWide(const std::string& utf8) {
    const std::u32string u = utf8ToUtf32(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
}

std::string trim(std::string s) {
    s = trimRight(std::move(s));
    std::size_t k = 0;
    while (k < s.size() && (s[k] == ' ' || s[k] == '\t' || s[k] == '\r' || s[k] == '\n')) ++k;
    return s.substr(k);
}

// Unicode case folding needs a UTF-8 locale; without one only ASCII letters fold.
std::locale matchingLocale() {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
        try {
            return std::locale(name);
        } catch (const std::exception&) {
        }
    }
    return std::locale::classic();
}

// The page's colours while a directory is searched: the window colour with each
// component of 10 or more reduced by 10, and grey text.
constexpr std::uint32_t kWindowColor = 0xFFFFFF;
constexpr std::uint32_t kGrayTextColor = 0x6D6D6D;

std::uint32_t dimmed(std::uint32_t rgb) {
    std::uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        std::uint32_t c = (rgb >> shift) & 0xFF;
        if (c >= 10) c -= 10;
        out |= c << shift;
    }
    return out;
}

}  // namespace

struct SearchMatcher {
    std::wregex expression;
    bool matches(const std::string& name) const { return std::regex_search(toWide(name), expression); }
};

void VolumeScanDlg::onSearch() {
    if (scanRunning()) {
        messageBox("Please wait for other process to complete", MessageIcon::Information, MessageButtons::Ok);
        return;
    }
    if (!parser_ || searchRunning() || !isEnabled(IDC_SEARCH)) return;
    if (worker_.running()) return;
    searchRunning_ = true;
    enable(IDC_SEARCH, false);
    workerStarted_ = true;
    if (!worker_.start([this] { searchWorker(); })) {
        searchRunning_ = false;
        enable(IDC_SEARCH, true);
    }
}

void VolumeScanDlg::appendSearchRow(std::uint64_t& rows, const std::string& path, EntryRef entry) {
    addRow(static_cast<int>(rows), path, entry, entry);
    ++rows;
    setText(IDC_STATUS, strprintf("searched file %lld", static_cast<long long>(rows)));
}

void VolumeScanDlg::restoreTreeAfterSearch() {
    enable(IDC_TREE, true);
    setColors(IDC_TREE, ui::kNoColor, ui::kNoColor);
    enable(IDC_SAVE, true);
}

void VolumeScanDlg::searchWorker() {
    for (int id : {IDC_PROGRESS, IDC_PAUSE, IDC_RESUME, IDC_STOP}) show(id, true);
    searchPattern_ = text(IDC_SEARCH_EDIT);
    list_.deleteAllItems();
    showsSearchResults_ = 1;
    std::uint64_t rows = 0;

    // Ends without "Searching Finished": the rows so far stay, the progress controls too.
    auto abandon = [this] {
        messageBox(kBadPattern);
        searchRunning_ = false;
        enable(IDC_SEARCH, true);
    };

    const TreeItem root = tree_.getRootItem();
    if (!searchPattern_.empty() && root != kNoItem && tree_.itemHasChildren(root)) {
        const std::string base = tree_.getItemText(root) + "\\";
        std::optional<SearchMatcher> matcher;
        try {
            SearchMatcher m;
            m.expression.imbue(matchingLocale());
            m.expression.assign(toWide(searchPattern_), std::regex::ECMAScript | std::regex::icase);
            matcher = std::move(m);
        } catch (const std::regex_error&) {
            abandon();
            return;
        }
        for (TreeItem x = tree_.getChildItem(root); x != kNoItem && !stopRequested();
             x = tree_.getNextSiblingItem(x)) {
            worker_.checkpoint();
            const std::string text = tree_.getItemText(x);
            const EntryRef data = tree_.getItemData(x);
            if (tree_.itemHasChildren(x)) {
                searchDirectory(*matcher, data, base + text, rows);
                continue;
            }
            std::unique_lock<std::mutex> lock(parserMutex_);
            if (!parser_->isEntry(data)) continue;
            const std::string name = parser_->name(data);
            bool hit = false;
            try {
                hit = matcher->matches(name);
            } catch (const std::regex_error&) {
                lock.unlock();
                abandon();
                return;
            }
            if (hit) appendSearchRow(rows, base + name, data);
        }
    }

    // A Stop that came before any directory was walked must not leave the parser stopped.
    stopRequested_ = 0;
    parser_->stopFlag = 0;
    messageBox(kSearchDone);
    setText(IDC_STATUS, kSearchDone);
    for (int id : {IDC_PROGRESS, IDC_PAUSE, IDC_RESUME, IDC_STOP}) show(id, false);
    searchRunning_ = false;
    enable(IDC_SEARCH, true);
}

// One top-level directory: its records are walked, not its tree items, so folders that
// were never opened are searched in full and no tree items are made. Iterative, each
// record visited once.
void VolumeScanDlg::searchDirectory(const SearchMatcher& matcher, EntryRef entry, const std::string& pathText,
                                    std::uint64_t& rows) {
    enable(IDC_TREE, false);
    setColors(IDC_TREE, dimmed(kWindowColor), kGrayTextColor);
    enable(IDC_SAVE, false);
    const std::string path = trim(pathText);
    {
        std::lock_guard<std::mutex> lock(parserMutex_);
        if (parser_->isEntry(entry) && parser_->isSaveableDirectory(entry)) {
            const std::uint64_t n = parser_->countFiles(entry);
            sink_.setRange(0, static_cast<std::int64_t>(n & 0xFFFFFFFFu));
            struct Frame {
                EntryRef next;
                std::size_t pathLength;  // of its folder's path in the shared text
            };
            std::string text = path;
            std::vector<Frame> stack{{parser_->firstChild(entry), text.size()}};
            std::unordered_set<EntryRef> seen{entry};
            std::uint64_t counter = 0;
            while (!stack.empty()) {
                Frame& f = stack.back();
                const EntryRef c = f.next;
                if (c < 0 || !parser_->isEntry(c)) {
                    stack.pop_back();
                    continue;
                }
                sink_.setPos(static_cast<std::int64_t>(counter));
                if (parser_->stopRequested()) break;
                if (!seen.insert(c).second) {
                    f.next = kNoEntry;
                    continue;
                }
                f.next = parser_->nextSibling(c);
                text.resize(f.pathLength);
                const std::string name = parser_->name(c);
                if (!parser_->isDirectory(c)) {
                    ++counter;
                    try {
                        if (matcher.matches(name)) appendSearchRow(rows, trimRight(text) + "\\" + name, c);
                    } catch (const std::regex_error&) {
                        f.next = kNoEntry;  // the rest of this directory is skipped
                    }
                    continue;
                }
                if (parser_->isSelfLink(c)) continue;
                text = trimRight(std::move(text));
                if (!name.empty()) text += "\\" + name;
                stack.push_back({parser_->firstChild(c), text.size()});
            }
            sink_.setPos(static_cast<std::int64_t>(n));
        }
        parser_->stopFlag = 0;
    }
    restoreTreeAfterSearch();
}

}  // namespace kelvara
