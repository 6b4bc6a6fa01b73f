#include "common/SafeName.h"

#include <cstdint>

namespace kelvara {
namespace {

constexpr std::size_t kMaxNameBytes = 255;

// Cuts s to at most n bytes without splitting a UTF-8 sequence.
std::string cutUtf8(const std::string& s, std::size_t n) {
    if (s.size() <= n) return s;
    std::size_t end = n;
    while (end > 0 && (static_cast<std::uint8_t>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

}  // namespace

std::string makeSafeName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        auto b = static_cast<std::uint8_t>(c);
        out.push_back((c == '/' || c == '\\' || b < 0x20 || b == 0x7F) ? '_' : c);
    }
    if (out.empty() || out == "." || out == "..") out.insert(out.begin(), '_');
    if (out.size() > kMaxNameBytes) {
        std::size_t dot = out.rfind('.');
        std::string ext;
        if (dot != std::string::npos && dot > 0 && out.size() - dot <= 16) ext = out.substr(dot);
        out = cutUtf8(out.substr(0, out.size() - ext.size()), kMaxNameBytes - ext.size()) + ext;
    }
    return out;
}

}  // namespace kelvara
