#pragma once
// The 32-byte directory slot of the FAT family (FAT12/16/32) and what is made of it:
// short names in their dot form, long-name runs, packed dates and times, and the tests
// the advanced scan applies to slots found anywhere on a volume.

#include <cstdint>
#include <optional>
#include <string>

#include "common/ByteReader.h"
#include "common/Text.h"
#include "platform/Output.h"

namespace kelvara {

constexpr std::size_t kFatSlotSize = 32;

constexpr std::uint8_t kFatAttrReadOnly = 0x01;
constexpr std::uint8_t kFatAttrHidden = 0x02;
constexpr std::uint8_t kFatAttrSystem = 0x04;
constexpr std::uint8_t kFatAttrLabel = 0x08;
constexpr std::uint8_t kFatAttrDirectory = 0x10;
constexpr std::uint8_t kFatAttrArchive = 0x20;
constexpr std::uint8_t kFatAttrLongName = 0x0F;
constexpr std::uint8_t kFatDeletedMark = 0xE5;

inline bool isFatLongNameSlot(std::uint8_t attr) { return attr == kFatAttrLongName; }
inline bool isFatVolumeLabel(std::uint8_t attr) {
    return (attr & kFatAttrLabel) != 0 && attr != kFatAttrLongName;
}
// A directory has the directory bit, whatever else is set (read-only, hidden, system).
inline bool isFatDirectoryAttr(std::uint8_t attr) {
    return (attr & kFatAttrDirectory) != 0 && !isFatVolumeLabel(attr) && !isFatLongNameSlot(attr);
}

// A short (8.3) entry as stored.
struct FatShortSlot {
    std::uint8_t name[11] = {};
    std::uint8_t attributes = 0;
    std::uint8_t caseFlags = 0;  // byte 12: 0x08 base in lower case, 0x10 extension
    std::uint8_t createTimeTenths = 0;
    std::uint16_t createTime = 0, createDate = 0, accessDate = 0;
    std::uint16_t firstClusterHigh = 0, writeTime = 0, writeDate = 0, firstClusterLow = 0;
    std::uint32_t fileSize = 0;

    std::uint32_t firstCluster() const {
        return (std::uint32_t(firstClusterHigh) << 16) | firstClusterLow;
    }
    bool deleted() const { return name[0] == kFatDeletedMark; }
    // "." and ".." (and any other folder slot starting with a dot, which 8.3 names
    // cannot); a file slot starting with a dot is an entry like any other.
    bool isDotEntry() const { return name[0] == '.' && (attributes & 0x10) != 0; }
};

FatShortSlot parseFatShortSlot(ByteReader slot);

// The 8.3 name as shown: base and extension without their blanks, joined by a dot
// when there is an extension, in lower case where byte 12 says so. A deleted entry's
// lost first letter shows as U+FFE5; 0x05 stands for a real 0xE5 byte.
std::string fatShortName(const FatShortSlot& s);

// Checksum of an 8.3 name, as long-name slots carry it.
std::uint8_t fatShortNameChecksum(const std::uint8_t name[11]);

// A run of long-name slots being gathered in front of its short entry.
class FatLongNameRun {
public:
    static constexpr int kMaxSlots = 20;  // 255 characters

    void reset() { count_ = 0; deleted_ = false; }
    bool empty() const { return count_ == 0; }
    bool full() const { return count_ >= kMaxSlots; }
    int count() const { return count_; }
    // Adds the next slot of the run in disk order (the last piece of the name first).
    void add(ByteReader slot);
    // The run began with a deleted slot.
    bool deleted() const { return deleted_; }
    std::uint8_t checksum() const { return checksum_; }
    // The name in reading order: pieces from the last gathered slot back to the first,
    // each up to its first zero unit.
    std::string name() const;

private:
    std::uint16_t units_[kMaxSlots][13] = {};
    int count_ = 0;
    bool deleted_ = false;
    std::uint8_t checksum_ = 0;
};

// Packed FAT date and time as calendar fields (no validation).
DateTimeFields fatDateTimeFields(std::uint16_t date, std::uint16_t time);
bool fatDateValid(std::uint16_t date);
bool fatTimeValid(std::uint16_t time);
// A FAT stamp is local time without a zone: taken as the local time of this process.
// Nothing for a zero or impossible date.
std::optional<platform::UtcTime> fatStampToUtc(std::uint16_t date, std::uint16_t time,
                                               std::uint8_t tenths = 0);

// "%02d/%02d/%d  %02d:%02d AM|PM" of a stamp, "%02d/%02d/%d " of a date alone, and the
// attribute text "-R-H-S-A".
std::string fatDateTimeText(std::uint16_t date, std::uint16_t time);
std::string fatDateText(std::uint16_t date);
std::string fatAttributeText(std::uint8_t attr);

// The advanced scan's slot tests: whether a 32-byte slot found anywhere on the volume
// looks like a long-name slot, a directory or a file entry. clusterCount bounds the
// first cluster.
enum class FatSlotKind { None, LongName, Directory, File };
FatSlotKind judgeFat16Slot(ByteReader slot, std::uint64_t clusterCount);
FatSlotKind judgeFat32Slot(ByteReader slot, std::uint64_t clusterCount);
// The FAT32 root hint: a volume label or the recycle-bin folder's short entry.
bool looksLikeFat32RootSlot(ByteReader slot);

}  // namespace kelvara
