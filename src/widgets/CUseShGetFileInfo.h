#pragma once
// Icon indexes by name only, never touching a file: one index per kind of file, the
// same for every name with the same extension, and fixed indexes for folders and the
// placeholder item.

#include <string_view>

namespace kelvara {

class CUseShGetFileInfo {
public:
    static constexpr int kPlaceholderIcon = 1;  // the "..DUMY.." item
    static constexpr int kGenericFileIcon = 2;  // a name without a known extension
    static constexpr int kFolderIcon = 3;

    int getFileIconIndex(std::string_view name, bool shellSize = false) const;
    int getFolderIconIndex() const { return kFolderIcon; }
};

}  // namespace kelvara
