#include "cli/ResultsOutput.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace kelvara::cli {

void printFileList(VolumeScanDlg& page, bool json, const std::string& firstKey, bool rowsAreItems) {
    static const char* const keys[] = {nullptr, "created", "accessed", "modified", "size", "attributes"};
    const auto rows = page.list().rows();
    VolumeParser* parser = page.currentParser();
    if (!json) {
        for (const auto& r : rows) {
            std::string line;
            for (std::size_t c = 0; c < r.cells.size(); ++c) line += (c ? "\t" : "") + r.cells[c];
            std::printf("%s\n", line.c_str());
        }
        return;
    }
    nlohmann::json out = nlohmann::json::array();
    for (const auto& r : rows) {
        nlohmann::json row;
        for (std::size_t c = 0; c < r.cells.size() && c < 6; ++c) row[c ? keys[c] : firstKey] = r.cells[c];
        const EntryRef entry = rowsAreItems ? page.tree().getItemData(static_cast<TreeItem>(r.data)) : r.data;
        if (parser && parser->isEntry(entry)) {
            row["bytes"] = parser->size(entry);
            row["deleted"] = parser->isDeleted(entry);
        }
        out.push_back(std::move(row));
    }
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace kelvara::cli
