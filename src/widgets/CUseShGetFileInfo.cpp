#include "widgets/CUseShGetFileInfo.h"

#include <array>
#include <string>

#include "common/Text.h"

namespace kelvara {
namespace {

struct IconGroup {
    int index;
    std::array<const char*, 16> extensions;
};

// Extensions grouped the way a file manager shows them.
constexpr IconGroup kGroups[] = {
    {10, {"jpg", "jpeg", "png", "gif", "bmp", "tif", "tiff", "webp", "heic", "ico", "raw", "cr2", "nef", "svg", "psd"}},
    {11, {"txt", "log", "csv", "md", "ini", "cfg", "xml", "json", "htm", "html"}},
    {12, {"pdf"}},
    {13, {"doc", "docx", "odt", "rtf"}},
    {14, {"xls", "xlsx", "ods"}},
    {15, {"ppt", "pptx", "odp"}},
    {16, {"mp3", "wav", "ogg", "flac", "m4a", "aac", "wma"}},
    {17, {"mp4", "mov", "avi", "mkv", "wmv", "mpg", "mpeg", "m4v", "3gp", "webm"}},
    {18, {"zip", "rar", "7z", "gz", "tar", "bz2", "xz", "cab", "iso"}},
    {19, {"exe", "dll", "sys", "msi", "bat", "cmd", "com", "so"}},
};

}  // namespace

int CUseShGetFileInfo::getFileIconIndex(std::string_view name, bool) const {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 >= name.size()) return kGenericFileIcon;
    const std::string ext = asciiLower(name.substr(dot + 1));
    for (const auto& group : kGroups)
        for (const char* e : group.extensions)
            if (e && ext == e) return group.index;
    return kGenericFileIcon;
}

}  // namespace kelvara
