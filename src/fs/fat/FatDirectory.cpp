#include "fs/fat/FatDirectory.h"

#include "platform/Time.h"

namespace kelvara {

FatShortSlot parseFatShortSlot(ByteReader s) {
    FatShortSlot e;
    for (int i = 0; i < 11; ++i) e.name[i] = s.u8(i);
    e.attributes = s.u8(11);
    e.caseFlags = s.u8(12);
    e.createTimeTenths = s.u8(13);
    e.createTime = s.le16(14);
    e.createDate = s.le16(16);
    e.accessDate = s.le16(18);
    e.firstClusterHigh = s.le16(20);
    e.writeTime = s.le16(22);
    e.writeDate = s.le16(24);
    e.firstClusterLow = s.le16(26);
    e.fileSize = s.le32(28);
    return e;
}

namespace {

void appendPart(std::string& out, const std::uint8_t* bytes, int n, bool lower) {
    std::string raw;
    for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(bytes[i]);
        if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        raw.push_back(c);
    }
    out += cp437ToUtf8(raw);
}

int trimmedLength(const std::uint8_t* bytes, int n) {
    while (n > 0 && bytes[n - 1] == ' ') --n;
    return n;
}

}  // namespace

std::string fatShortName(const FatShortSlot& s) {
    std::uint8_t base[8];
    for (int i = 0; i < 8; ++i) base[i] = s.name[i];
    const int baseLen = trimmedLength(base, 8);
    const int extLen = trimmedLength(s.name + 8, 3);
    const bool lowerBase = (s.caseFlags & 0x08) != 0;
    const bool lowerExt = (s.caseFlags & 0x10) != 0;
    std::string out;
    int from = 0;
    if (baseLen > 0) {
        if (base[0] == kFatDeletedMark) {
            appendUtf8(out, U'\uFFE5');  // the lost first letter
            from = 1;
        } else if (base[0] == 0x05) {
            base[0] = kFatDeletedMark;  // a real 0xE5 first byte
        }
    }
    appendPart(out, base + from, baseLen - from, lowerBase);
    if (extLen > 0) {
        out.push_back('.');
        appendPart(out, s.name + 8, extLen, lowerExt);
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.')) out.pop_back();
    return out;
}

std::uint8_t fatShortNameChecksum(const std::uint8_t name[11]) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

void FatLongNameRun::add(ByteReader slot) {
    if (count_ >= kMaxSlots) return;
    if (count_ == 0) {
        deleted_ = slot.u8(0) == kFatDeletedMark;
        checksum_ = slot.u8(13);
    }
    std::uint16_t* u = units_[count_++];
    int k = 0;
    for (int off = 1; off < 11; off += 2) u[k++] = slot.le16(off);
    for (int off = 14; off < 26; off += 2) u[k++] = slot.le16(off);
    for (int off = 28; off < 32; off += 2) u[k++] = slot.le16(off);
}

std::string FatLongNameRun::name() const {
    std::uint8_t bytes[kMaxSlots * 13 * 2];
    std::size_t n = 0;
    for (int i = count_ - 1; i >= 0; --i) {
        for (int k = 0; k < 13 && units_[i][k] != 0; ++k) {
            bytes[n++] = static_cast<std::uint8_t>(units_[i][k] & 0xFF);
            bytes[n++] = static_cast<std::uint8_t>(units_[i][k] >> 8);
        }
    }
    return utf16leToUtf8(bytes, n / 2);
}

DateTimeFields fatDateTimeFields(std::uint16_t date, std::uint16_t time) {
    DateTimeFields f;
    f.year = 1980 + (date >> 9);
    f.month = (date >> 5) & 0x0F;
    f.day = date & 0x1F;
    f.hour = time >> 11;
    f.minute = (time >> 5) & 0x3F;
    f.second = (time & 0x1F) * 2;
    return f;
}

bool fatDateValid(std::uint16_t date) {
    const int day = date & 0x1F;
    const int month = (date >> 5) & 0x0F;
    return day >= 1 && day <= 31 && month >= 1 && month <= 12;
}

bool fatTimeValid(std::uint16_t time) {
    return (time >> 11) < 24 && ((time >> 5) & 0x3F) < 60 && (time & 0x1F) < 30;
}

std::optional<platform::UtcTime> fatStampToUtc(std::uint16_t date, std::uint16_t time,
                                               std::uint8_t tenths) {
    if (!fatDateValid(date) || !fatTimeValid(time)) return std::nullopt;
    platform::UtcTime t;
    t.seconds = platform::localFieldsToUnix(fatDateTimeFields(date, time));
    if (tenths < 200) {  // units of 10 ms, up to one extra second
        t.seconds += tenths / 100;
        t.nanoseconds = static_cast<std::uint32_t>(tenths % 100) * 10'000'000u;
    }
    return t;
}

std::string fatDateTimeText(std::uint16_t date, std::uint16_t time) {
    return formatDateTimeText(fatDateTimeFields(date, time));
}

std::string fatDateText(std::uint16_t date) {
    const DateTimeFields f = fatDateTimeFields(date, 0);
    return strprintf("%02d/%02d/%d ", f.month, f.day, f.year);
}

std::string fatAttributeText(std::uint8_t attr) {
    std::string s;
    if (attr & kFatAttrReadOnly) s += "-R";
    if (attr & kFatAttrHidden) s += "-H";
    if (attr & kFatAttrSystem) s += "-S";
    if (attr & kFatAttrArchive) s += "-A";
    return s;
}

namespace {

bool inRange(std::uint8_t c, std::uint8_t lo, std::uint8_t hi) { return c >= lo && c <= hi; }
bool letterOrDigit16(std::uint8_t c) {
    return inRange(c, 0x41, 0x5B) || inRange(c, 0x61, 0x7A) || inRange(c, 0x30, 0x39);
}
bool letterOrDigit32(std::uint8_t c) {
    return inRange(c, 0x41, 0x5B) || inRange(c, 0x5F, 0x7A) || inRange(c, 0x30, 0x39);
}
bool isOneOf(std::uint8_t c, std::initializer_list<std::uint8_t> set) {
    for (std::uint8_t v : set)
        if (c == v) return true;
    return false;
}
bool isScanDirectoryAttr(std::uint8_t a) {
    return isOneOf(a, {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x30});
}
bool stampsValid(ByteReader s) {
    return fatDateValid(s.le16(16)) && fatDateValid(s.le16(18)) && fatDateValid(s.le16(24)) &&
           fatTimeValid(s.le16(14)) && fatTimeValid(s.le16(22));
}
std::uint32_t slotCluster(ByteReader s) { return (std::uint32_t(s.le16(20)) << 16) | s.le16(26); }

}  // namespace

FatSlotKind judgeFat16Slot(ByteReader s, std::uint64_t clusterCount) {
    if (!s.has(0, kFatSlotSize)) return FatSlotKind::None;
    const std::uint8_t c0 = s.u8(0), c1 = s.u8(1), attr = s.u8(11);
    const bool c1Name = letterOrDigit16(c1) || isOneOf(c1, {0x20, 0x7E, 0x2E, 0x29, 0xE5});
    const std::uint32_t cl = slotCluster(s);
    if (attr == kFatAttrLongName) {
        const bool ok1 = c1Name || (c1 == 0x5F && c0 != 0xE5);
        return ok1 && s.u8(12) == 0 && s.u8(26) == 0 ? FatSlotKind::LongName : FatSlotKind::None;
    }
    if (isScanDirectoryAttr(attr)) {
        if (!(letterOrDigit16(c0) || isOneOf(c0, {0xE5, 0x7E, 0x24})) || !c1Name) return FatSlotKind::None;
        if (!stampsValid(s)) return FatSlotKind::None;
        if (c0 != 0xE5 && (s.le32(28) != 0 || cl == 0 || cl >= clusterCount)) return FatSlotKind::None;
        return FatSlotKind::Directory;
    }
    if (attr == 0x20 || attr == 0x26) {
        if (!(letterOrDigit16(c0) || isOneOf(c0, {0xE5, 0x7E})) || !c1Name) return FatSlotKind::None;
        if (!isOneOf(s.u8(12), {0x00, 0x18}) || cl >= clusterCount || !stampsValid(s)) return FatSlotKind::None;
        return FatSlotKind::File;
    }
    return FatSlotKind::None;
}

FatSlotKind judgeFat32Slot(ByteReader s, std::uint64_t clusterCount) {
    if (!s.has(0, kFatSlotSize)) return FatSlotKind::None;
    const std::uint8_t c0 = s.u8(0), c1 = s.u8(1), attr = s.u8(11);
    const std::uint32_t cl = slotCluster(s);
    if (attr == kFatAttrLongName) {
        const bool ok1 = letterOrDigit32(c1) || isOneOf(c1, {0x20, 0x7E, 0x2C, 0x2E, 0x29, 0xE5});
        return ok1 && s.u8(12) == 0 && s.u8(26) == 0 ? FatSlotKind::LongName : FatSlotKind::None;
    }
    const bool stampsNonZero = s.le16(18) && s.le16(16) && s.le16(14) && s.le16(22) && s.u8(13) && s.le16(24);
    if (isScanDirectoryAttr(attr)) {
        if (!(letterOrDigit32(c0) || isOneOf(c0, {0xE5, 0x7E, 0x24}))) return FatSlotKind::None;
        if (!(letterOrDigit32(c1) || isOneOf(c1, {0x20, 0x7E, 0x2E, 0x29, 0xE5}))) return FatSlotKind::None;
        if (cl == 0 || cl >= clusterCount || !stampsNonZero || !stampsValid(s)) return FatSlotKind::None;
        if (c0 != 0xE5 && s.le32(28) != 0) return FatSlotKind::None;
        return FatSlotKind::Directory;
    }
    if (attr == 0x20) {
        if (!(letterOrDigit32(c0) || isOneOf(c0, {0xE5, 0x7E}))) return FatSlotKind::None;
        if (!(letterOrDigit32(c1) || isOneOf(c1, {0x20, 0x7E, 0x2E, 0xE5}))) return FatSlotKind::None;
        if (!isOneOf(s.u8(12), {0x00, 0x18}) || cl == 0 || cl >= clusterCount) return FatSlotKind::None;
        if (!stampsNonZero || s.le32(28) == 0 || !stampsValid(s)) return FatSlotKind::None;
        return FatSlotKind::File;
    }
    return FatSlotKind::None;
}

bool looksLikeFat32RootSlot(ByteReader s) {
    if (!s.has(0, kFatSlotSize)) return false;
    const std::uint8_t c0 = s.u8(0), c1 = s.u8(1), attr = s.u8(11);
    const bool recycle = s.matches(1, "RECYCLE") &&
                         (attr == kFatAttrLongName || isScanDirectoryAttr(attr) || attr == 0x20 || attr == 0x26);
    if (attr != kFatAttrLabel && !recycle) return false;
    const bool letter = inRange(c0, 'A', 'Z') || inRange(c0, 'a', 'z');
    if (!(letter || inRange(c0, '0', '9') || isOneOf(c0, {0xE5, 0x7E, 0x24}))) return false;
    const bool letter1 = inRange(c1, 'A', 'Z') || inRange(c1, 'a', 'z');
    if (!(letter1 || inRange(c1, '0', '9') || isOneOf(c1, {0x20, 0x7E, 0x2E, 0x29, 0xE5}))) return false;
    return isOneOf(s.u8(12), {0x00, 0x18}) && s.u8(28) == 0;
}

}  // namespace kelvara
