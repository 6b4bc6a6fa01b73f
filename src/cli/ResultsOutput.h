#pragma once
// Printing the results page's file list: one tab-separated line per row, or JSON.

#include <string>

#include "results/VolumeScanDlg.h"

namespace kelvara::cli {

// firstKey names column 0 ("name" for a folder's list, "path" for search rows). Rows hold
// a tree item (rowsAreItems) or a parser entry.
void printFileList(VolumeScanDlg& page, bool json, const std::string& firstKey, bool rowsAreItems);

}  // namespace kelvara::cli
