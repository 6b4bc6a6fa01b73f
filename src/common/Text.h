#pragma once
// Text conversions shared by every parser: on-disk names to UTF-8, and the size and
// date texts the results show.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

// Appends the UTF-8 form of a code point (invalid ones become U+FFFD).
void appendUtf8(std::string& out, char32_t cp);

// UTF-16 little-endian code units to UTF-8; unpaired surrogates become U+FFFD.
// Stops at the first NUL unit when stopAtNul is set.
std::string utf16leToUtf8(const void* data, std::size_t units, bool stopAtNul = false);
// The same for big-endian units (HFS+).
std::string utf16beToUtf8(const void* data, std::size_t units, bool stopAtNul = false);

// Bytes that should be UTF-8 (ext names): valid sequences kept, invalid bytes U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

// Code page 437 bytes (FAT 8.3 names) to UTF-8.
std::string cp437ToUtf8(std::string_view bytes);

// UTF-8 to code points, invalid sequences giving U+FFFD.
std::u32string utf8ToUtf32(std::string_view text);

// printf into a std::string.
std::string strprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "%.2f GB", "%.2f MB", "%.2f KB" at 2^30, 2^20 and 2^10 bytes, else "%lld Bytes".
std::string formatSizeText(std::uint64_t bytes);

// Calendar fields of a displayed time (already converted to local time).
struct DateTimeFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// "%02d/%02d/%d  %02d:%02d AM|PM" (month, day, year) on a 12-hour clock: hours 0 to 11
// are AM and 12 to 23 PM; 00:10 shows as 12:10 AM, 13:05 as 01:05 PM.
std::string formatDateTimeText(const DateTimeFields& t);

// Case-folds ASCII letters only (for comparisons of kind names and the like).
std::string asciiLower(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace kelvara
