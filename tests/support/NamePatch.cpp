#include "support/NamePatch.h"

#include <algorithm>

namespace kelvara::test {
namespace {

std::uint16_t le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return le16(b, at) | (static_cast<std::uint32_t>(le16(b, at + 2)) << 16);
}
void setLe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint16_t be16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}
std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return (static_cast<std::uint32_t>(be16(b, at)) << 16) | be16(b, at + 2);
}
std::uint64_t be64(const std::vector<std::uint8_t>& b, std::size_t at) {
    return (static_cast<std::uint64_t>(be32(b, at)) << 32) | be32(b, at + 4);
}
void setBe16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

constexpr std::size_t kSlot = 32;
constexpr std::size_t kLongNameUnitAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

std::size_t longNameSlots(std::size_t units) { return std::max<std::size_t>(1, (units + 12) / 13); }

}  // namespace

int patchNtfsName(std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to) {
    if (to.size() > from.size()) return 0;
    std::vector<std::uint8_t> needle;
    for (char c : from) {
        needle.push_back(static_cast<std::uint8_t>(c));
        needle.push_back(0);
    }
    int patched = 0;
    for (std::size_t pos = 2; pos + needle.size() <= img.size(); ++pos) {
        if (img[pos - 2] != from.size() || img[pos - 1] > 3) continue;
        if (!std::equal(needle.begin(), needle.end(), img.begin() + static_cast<std::ptrdiff_t>(pos))) continue;
        img[pos - 2] = static_cast<std::uint8_t>(to.size());
        for (std::size_t k = 0; k < to.size(); ++k) setLe16(img, pos + 2 * k, static_cast<std::uint16_t>(to[k]));
        ++patched;
    }
    return patched;
}

int patchFatLongName(std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to) {
    const std::size_t slots = longNameSlots(from.size());
    const std::size_t used = longNameSlots(to.size());
    if (used > slots) return 0;
    const std::u16string want = widen(from);
    int patched = 0;
    for (std::size_t p = kSlot * slots; p + kSlot <= img.size(); p += kSlot) {
        if (img[p] == 0 || img[p] == 0xE5 || img[p + 11] == 0x0F) continue;  // a live short slot
        bool run = true;
        for (std::size_t k = 1; k <= slots && run; ++k) {
            const std::size_t q = p - kSlot * k;
            const std::uint8_t ordinal = img[q];
            run = img[q + 11] == 0x0F && (ordinal & 0x3F) == k && ((ordinal & 0x40) != 0) == (k == slots);
        }
        if (!run) continue;
        std::u16string name;
        for (std::size_t j = 0; j < slots * 13; ++j) {
            const std::uint16_t u = le16(img, p - kSlot * (j / 13 + 1) + kLongNameUnitAt[j % 13]);
            if (u == 0) break;
            name.push_back(static_cast<char16_t>(u));
        }
        if (name != want) continue;
        // A shorter run keeps the slots next to the short slot; the ones before it are
        // left deleted, as a driver leaves them.
        for (std::size_t k = used + 1; k <= slots; ++k) img[p - kSlot * k] = 0xE5;
        for (std::size_t k = 1; k <= used; ++k)
            img[p - kSlot * k] = static_cast<std::uint8_t>(k | (k == used ? 0x40 : 0));
        for (std::size_t j = 0; j < used * 13; ++j) {
            const std::uint16_t u = j < to.size() ? static_cast<std::uint16_t>(to[j]) : j == to.size() ? 0 : 0xFFFF;
            setLe16(img, p - kSlot * (j / 13 + 1) + kLongNameUnitAt[j % 13], u);
        }
        ++patched;
    }
    return patched;
}

int patchFatShortName(std::vector<std::uint8_t>& img, const std::string& from, const std::string& to) {
    if (from.size() > 11 || to.size() > 11) return 0;
    std::string want = from, put = to;
    want.resize(11, ' ');
    put.resize(11, ' ');
    int patched = 0;
    for (std::size_t p = 0; p + kSlot <= img.size(); p += kSlot) {
        const std::uint8_t attr = img[p + 11];
        if (attr == 0x0F || (attr & 0x08) != 0) continue;  // long-name slot or volume label
        if (!std::equal(want.begin(), want.end(), img.begin() + static_cast<std::ptrdiff_t>(p))) continue;
        std::copy(put.begin(), put.end(), img.begin() + static_cast<std::ptrdiff_t>(p));
        ++patched;
    }
    return patched;
}

int patchExfatName(std::vector<std::uint8_t>& img, const std::string& from, const std::u16string& to) {
    if (to.size() > from.size() || to.empty()) return 0;  // a name holds at least one unit
    const std::u16string want = widen(from);
    int patched = 0;
    for (std::size_t p = 0; p + 3 * kSlot <= img.size(); p += kSlot) {
        if (img[p] != 0x85 || img[p + kSlot] != 0xC0) continue;
        const std::size_t secondary = img[p + 1];
        const std::size_t length = img[p + kSlot + 3];
        const std::size_t count = (length + 14) / 15;
        if (length != want.size() || secondary < 1 + count || p + (1 + secondary) * kSlot > img.size()) continue;
        std::u16string name;
        bool ok = true;
        for (std::size_t k = 0; k < count && ok; ++k) {
            const std::size_t at = p + (2 + k) * kSlot;
            ok = img[at] == 0xC1;
            for (std::size_t u = 0; u < 15 && name.size() < length; ++u) name.push_back(static_cast<char16_t>(le16(img, at + 2 + 2 * u)));
        }
        if (!ok || name != want) continue;
        const std::size_t newCount = (to.size() + 14) / 15;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t at = p + (2 + k) * kSlot;
            if (k >= newCount) {
                img[at] = 0x41;  // no longer part of the set
                continue;
            }
            for (std::size_t u = 0; u < 15; ++u) {
                const std::size_t j = k * 15 + u;
                setLe16(img, at + 2 + 2 * u, j < to.size() ? static_cast<std::uint16_t>(to[j]) : 0);
            }
        }
        img[p + 1] = static_cast<std::uint8_t>(secondary - (count - newCount));
        img[p + kSlot + 3] = static_cast<std::uint8_t>(to.size());
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < (1 + img[p + 1]) * kSlot; ++i) {
            if (i == 2 || i == 3) continue;
            sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + img[p + i]);
        }
        setLe16(img, p + 2, sum);
        ++patched;
    }
    return patched;
}

int patchExtName(std::vector<std::uint8_t>& img, const std::string& from, const std::string& to) {
    if (to.size() > from.size() || from.empty()) return 0;
    int patched = 0;
    for (std::size_t p = 0; p + 8 + from.size() <= img.size(); p += 4) {
        const std::uint32_t inode = le32(img, p);
        const std::uint16_t recLen = le16(img, p + 4);
        if (inode == 0 || img[p + 6] != from.size() || img[p + 7] == 0 || img[p + 7] > 7) continue;
        if (recLen % 4 != 0 || recLen < 8 + from.size()) continue;
        if (!std::equal(from.begin(), from.end(), img.begin() + static_cast<std::ptrdiff_t>(p + 8))) continue;
        img[p + 6] = static_cast<std::uint8_t>(to.size());
        std::fill_n(img.begin() + static_cast<std::ptrdiff_t>(p + 8), from.size(), 0);
        std::copy(to.begin(), to.end(), img.begin() + static_cast<std::ptrdiff_t>(p + 8));
        ++patched;
    }
    return patched;
}

namespace {

// A name as an HFS+ key or thread record holds it: a big-endian unit count and the
// UTF-16BE text. True when the name at `at` inside rec is `want`.
bool hfsNameIs(const std::vector<std::uint8_t>& rec, std::size_t at, const std::u16string& want) {
    if (at + 2 > rec.size() || be16(rec, at) != want.size() || at + 2 + 2 * want.size() > rec.size()) return false;
    for (std::size_t k = 0; k < want.size(); ++k)
        if (be16(rec, at + 2 + 2 * k) != want[k]) return false;
    return true;
}

// Replaces the name at `at` (of `oldUnits` units) by `to`, dropping the bytes it frees.
void replaceHfsName(std::vector<std::uint8_t>& rec, std::size_t at, std::size_t oldUnits, const std::u16string& to) {
    std::vector<std::uint8_t> name(2 + 2 * to.size());
    setBe16(name, 0, static_cast<std::uint16_t>(to.size()));
    for (std::size_t k = 0; k < to.size(); ++k) setBe16(name, 2 + 2 * k, static_cast<std::uint16_t>(to[k]));
    rec.erase(rec.begin() + static_cast<std::ptrdiff_t>(at), rec.begin() + static_cast<std::ptrdiff_t>(at + 2 + 2 * oldUnits));
    rec.insert(rec.begin() + static_cast<std::ptrdiff_t>(at), name.begin(), name.end());
}

}  // namespace

int patchHfsName(std::vector<std::uint8_t>& img, std::uint64_t volumeOffset, const std::string& from,
                 const std::u16string& to) {
    if (to.size() > from.size()) return 0;
    const std::size_t vh = static_cast<std::size_t>(volumeOffset) + 1024;
    if (vh + 512 > img.size() || (be16(img, vh) != 0x482B && be16(img, vh) != 0x4858)) return 0;
    const std::uint64_t blockSize = be32(img, vh + 40);
    const std::uint64_t logical = be64(img, vh + 0x110);
    // The catalog file's bytes, gathered from its extents (and later put back there).
    std::vector<std::pair<std::size_t, std::size_t>> pieces;  // image offset, length
    std::vector<std::uint8_t> cat;
    for (int e = 0; e < 8 && cat.size() < logical; ++e) {
        const std::uint64_t start = be32(img, vh + 0x120 + 8 * e), count = be32(img, vh + 0x124 + 8 * e);
        const std::size_t at = static_cast<std::size_t>(volumeOffset + start * blockSize);
        const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(count * blockSize, logical - cat.size()));
        if (count == 0 || at + len > img.size()) break;
        pieces.emplace_back(at, len);
        cat.insert(cat.end(), img.begin() + static_cast<std::ptrdiff_t>(at), img.begin() + static_cast<std::ptrdiff_t>(at + len));
    }
    if (cat.size() < 512) return 0;
    const std::size_t nodeSize = be16(cat, 14 + 18);
    if (nodeSize < 512) return 0;
    const std::u16string want = widen(from);
    int patched = 0;
    for (std::size_t node = 0; node + nodeSize <= cat.size(); node += nodeSize) {
        const auto kind = static_cast<std::int8_t>(cat[node + 8]);
        if (kind != -1 && kind != 0) continue;  // leaf and index nodes hold names
        const std::size_t n = be16(cat, node + 10);
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i <= n; ++i) offsets.push_back(be16(cat, node + nodeSize - 2 * (i + 1)));
        if (!std::is_sorted(offsets.begin(), offsets.end()) || offsets.front() != 14 ||
            offsets.back() > nodeSize - 2 * (n + 1))
            continue;
        bool changed = false;
        std::vector<std::vector<std::uint8_t>> records;
        for (std::size_t i = 0; i < n; ++i) {
            std::vector<std::uint8_t> rec(cat.begin() + static_cast<std::ptrdiff_t>(node + offsets[i]),
                                          cat.begin() + static_cast<std::ptrdiff_t>(node + offsets[i + 1]));
            if (rec.size() >= 8 && hfsNameIs(rec, 6, want)) {
                replaceHfsName(rec, 6, want.size(), to);
                setBe16(rec, 0, static_cast<std::uint16_t>(6 + 2 * to.size()));
                changed = true;
                ++patched;
            } else if (kind == -1 && rec.size() >= 2) {
                const std::size_t data = 2 + be16(rec, 0);
                const bool thread = data + 10 <= rec.size() && (be16(rec, data) == 3 || be16(rec, data) == 4);
                if (thread && hfsNameIs(rec, data + 8, want)) {
                    replaceHfsName(rec, data + 8, want.size(), to);
                    changed = true;
                    ++patched;
                }
            }
            records.push_back(std::move(rec));
        }
        if (!changed) continue;
        // Repack the records from the descriptor on and rewrite the offset table.
        std::fill(cat.begin() + static_cast<std::ptrdiff_t>(node + 14), cat.begin() + static_cast<std::ptrdiff_t>(node + nodeSize), 0);
        std::size_t at = 14;
        for (std::size_t i = 0; i < n; ++i) {
            setBe16(cat, node + nodeSize - 2 * (i + 1), static_cast<std::uint16_t>(at));
            std::copy(records[i].begin(), records[i].end(), cat.begin() + static_cast<std::ptrdiff_t>(node + at));
            at += records[i].size();
        }
        setBe16(cat, node + nodeSize - 2 * (n + 1), static_cast<std::uint16_t>(at));
    }
    std::size_t from0 = 0;
    for (const auto& [at, len] : pieces) {
        std::copy_n(cat.begin() + static_cast<std::ptrdiff_t>(from0), len, img.begin() + static_cast<std::ptrdiff_t>(at));
        from0 += len;
    }
    return patched;
}

}  // namespace kelvara::test
