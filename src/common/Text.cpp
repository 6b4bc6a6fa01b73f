#include "common/Text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace kelvara {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

template <bool BigEndian>
std::string utf16ToUtf8(const void* data, std::size_t units, bool stopAtNul) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    auto unit = [p](std::size_t i) -> char16_t {
        return BigEndian ? static_cast<char16_t>((p[2 * i] << 8) | p[2 * i + 1])
                         : static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    };
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        char16_t u = unit(i);
        if (u == 0 && stopAtNul) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            char16_t lo = unit(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, u);  // lone surrogates become U+FFFD there
    }
    return out;
}

// Decodes one UTF-8 sequence at s[i]; returns the code point and advances i, or
// returns U+FFFD and advances by one byte for an invalid sequence.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
    auto b = static_cast<std::uint8_t>(s[i]);
    if (b < 0x80) {
        ++i;
        return b;
    }
    int len = 0;
    char32_t cp = 0;
    if ((b & 0xE0) == 0xC0) {
        len = 2;
        cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3;
        cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4;
        cp = b & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k < len; ++k) {
        auto c = static_cast<std::uint8_t>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += len;
    return cp;
}

// Code page 437, 0x80 to 0xFF.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
    0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
    0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
    0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
    0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
    0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
    0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
    0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
    0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
    0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
    0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

}  // namespace

std::string utf16leToUtf8(const void* data, std::size_t units, bool stopAtNul) {
    return utf16ToUtf8<false>(data, units, stopAtNul);
}

std::string utf16beToUtf8(const void* data, std::size_t units, bool stopAtNul) {
    return utf16ToUtf8<true>(data, units, stopAtNul);
}

std::string sanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t start = i;
        char32_t cp = decodeUtf8(bytes, i);
        if (cp == 0xFFFD && !(i - start == 3 && bytes.substr(start, 3) == "\xEF\xBF\xBD"))
            appendUtf8(out, 0xFFFD);
        else
            out.append(bytes.substr(start, i - start));
    }
    return out;
}

std::u32string utf8ToUtf32(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) out.push_back(decodeUtf8(text, i));
    return out;
}

std::string cp437ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<std::uint8_t>(c);
        appendUtf8(out, b < 0x80 ? char32_t(b) : char32_t(kCp437High[b - 0x80]));
    }
    return out;
}

std::string strprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(args);
    return out;
}

std::string formatSizeText(std::uint64_t bytes) {
    const double b = static_cast<double>(bytes);
    if (bytes >= (1ull << 30)) return strprintf("%.2f GB", b / double(1ull << 30));
    if (bytes >= (1ull << 20)) return strprintf("%.2f MB", b / double(1ull << 20));
    if (bytes >= (1ull << 10)) return strprintf("%.2f KB", b / double(1ull << 10));
    return strprintf("%lld Bytes", static_cast<long long>(bytes));
}

std::string formatDateTimeText(const DateTimeFields& t) {
    const bool pm = t.hour >= 12;
    int hour12 = t.hour % 12;
    if (hour12 == 0) hour12 = 12;
    return strprintf("%02d/%02d/%d  %02d:%02d %s", t.month, t.day, t.year, hour12, t.minute,
                     pm ? "PM" : "AM");
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

}  // namespace kelvara
