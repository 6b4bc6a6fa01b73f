#include "cli/ResultsSession.h"

#include <cstdio>

#include "common/Text.h"
#include "fs/ParserFactory.h"

namespace kelvara::cli {

ResultsSession::ResultsSession(const ScanArgs& args) : args_(args) {}

ResultsSession::~ResultsSession() = default;

std::vector<std::string> splitTreePath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/' || c == '\\') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

bool ResultsSession::scan() {
    volume_ = openVolume(args_, progress_);
    VolumeScanSetup setup;
    setup.volume = volume_.record;
    setup.volume.FILE_SYSTEM = parserKindFor(volume_.record.FILE_SYSTEM);
    setup.scanMode = volume_.mode;
    setup.reader = volume_.reader.get();
    if (volume_.mode == 2) {
        // What the advance options page does before it opens the results page.
        auto parser = createWiredParser(volume_, progress_);
        const auto candidates = parser->prepareAdvanced(args_.advanced);
        for (const auto& c : candidates) std::fprintf(stderr, "%s\n", c.c_str());
        if (candidates.empty()) {
            std::fprintf(stderr, "kelvara-cli: the advanced finders found nothing on this volume\n");
            return false;
        }
        if (args_.advanced.entry < 0 || static_cast<std::size_t>(args_.advanced.entry) >= candidates.size())
            throw UsageError(strprintf("there is no candidate %d (%zu found)", args_.advanced.entry, candidates.size()));
        setup.candidates = candidates;
        setup.candidateSelection = args_.advanced.entry;
        if (args_.advanced.sectorsPerCluster) {
            setup.sectorsPerCluster = {std::to_string(*args_.advanced.sectorsPerCluster)};
            setup.sectorsSelection = 0;
        }
        setup.preparedParser = std::move(parser);
    }
    ui::UiServices services;
    services.messages = &messages_;
    services.folders = &folders_;
    page_ = std::make_unique<VolumeScanDlg>(services, std::move(setup));
    page_->setFrontEndSink(&progress_);
    page_->onInitDialog();
    page_->waitForWorker();
    if (!page_->workerStarted()) {
        std::fprintf(stderr, "kelvara-cli: no %s scan was run for this %s volume\n", args_.mode.c_str(),
                     volume_.record.FILE_SYSTEM.c_str());
        return false;
    }
    const TreeItem root = page_->tree().getRootItem();
    return root != kNoItem && page_->tree().itemHasChildren(root);
}

TreeItem ResultsSession::findPath(const std::string& path) {
    CXHtmlTree& tree = page_->tree();
    TreeItem item = tree.getRootItem();
    if (item == kNoItem) return kNoItem;
    std::vector<std::string> parts = splitTreePath(path);
    if (!parts.empty() && parts.front() == tree.getItemText(item)) parts.erase(parts.begin());
    for (std::size_t k = 0; k < parts.size(); ++k) {
        page_->onTreeItemExpanding(item);
        tree.expand(item, ExpandCode::Expand);
        const bool last = k + 1 == parts.size();
        TreeItem found = kNoItem;
        for (TreeItem c = tree.getChildItem(item); c != kNoItem; c = tree.getNextSiblingItem(c)) {
            if (tree.getItemText(c) != parts[k]) continue;
            // On the way down a folder is wanted; a file of the same name is passed over.
            const bool folder = tree.getItemImage(c) == page_->folderIconIndex();
            if (last || folder) {
                found = c;
                break;
            }
            if (found == kNoItem) found = c;
        }
        if (found == kNoItem) return kNoItem;
        item = found;
    }
    return item;
}

}  // namespace kelvara::cli
