#pragma once
// The ext2/ext3/ext4 parser: finds the superblock and the group descriptors, reads
// every directory it finds in the inode tables (live directories and the deleted ones
// whose blocks are still theirs), names the inodes from their entries, links them into
// a tree under "ROOT" and writes files back out through their block maps or extent
// trees. Entries left in the slack of directory records are listed as deleted.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "fs/VolumeParser.h"
#include "fs/ext2/Ext2Structures.h"

namespace kelvara {

// The record behind every listed name. EntryRef is its index in the entry table.
struct Ext2Entry {
    std::string name;                 // UTF-8, invalid bytes as U+FFFD
    std::uint32_t key = 0;            // inode number - 1
    EntryRef parentKey = kNoEntry;    // the entry of the directory that holds it
    std::uint16_t mode = 0;           // the inode's mode, or the directory entry's type
    std::uint64_t size = 0;
    std::uint64_t tableBlock = 0;     // first block of the inode table that holds the inode
    std::uint32_t indexInGroup = 0;
    EntryRef firstChild = kNoEntry;
    EntryRef nextSibling = kNoEntry;
    bool deleted = false;             // found in slack or inside a deleted directory
    bool inodeKnown = false;          // the inode could be read
    bool blocksGone = false;          // deleted, and its inode no longer maps its data

    std::uint32_t inode() const { return key + 1; }
};

class ext2Class final : public VolumeParser {
public:
    static constexpr EntryRef kRootRef = 1;  // index 0 is never an entry

    std::string kindName() const override { return "extX"; }
    bool runScan(int mode) override;

    bool isEntry(EntryRef ref) const override;
    bool isDirectory(EntryRef ref) const override;
    bool isDeleted(EntryRef ref) const override;
    bool hasChildren(EntryRef ref) const override;
    EntryRef firstChild(EntryRef ref) const override;
    EntryRef nextSibling(EntryRef ref) const override;
    std::string name(EntryRef ref) const override;
    void setName(EntryRef ref, const std::string& name) override;
    std::uint64_t size(EntryRef ref) const override;
    EntryTimeTexts formatTimes(EntryRef ref) const override;
    std::string formatSize(EntryRef ref) const override;
    EntryTimesUtc times(EntryRef ref) const override;
    ExtractResult extractEntry(EntryRef ref, const std::string& outputFolder) override;
    bool skipOnSave(EntryRef ref) const override;
    EntryRef volumeRoot() const override { return kRootRef; }

    // What the scan found, for the volume information and for tests.
    const std::optional<ext2::Superblock>& superblock() const { return super_; }
    std::uint64_t superblockOffset() const { return superOffset_; }
    const std::vector<ext2::GroupDesc>& groups() const { return groups_; }
    const std::vector<Ext2Entry>& entries() const { return entries_; }
    // The volume size the scan works within (from the volume's size text).
    std::uint64_t volumeSize() const { return volumeSize_; }

    // The scan steps, public so that tests can drive them one by one.
    bool findSuperblock();
    bool readGroupDescriptors();
    void readDirectories();
    void collectInodes();
    void linkChildren();
    void fillRootItems();

    // Reads the inode of an entry afresh from its inode table.
    std::optional<ext2::Inode> readInode(std::uint32_t inodeNumber) const;

private:
    struct DirHit {
        std::uint32_t dirInode;
        std::uint32_t inode;
        std::uint32_t nameOffset, nameLength;  // in namePool_
        std::uint8_t fileType;
        bool deleted;
    };

    void reset();
    bool readVolume(std::uint64_t offset, void* buffer, std::uint64_t count) const;
    void parseDirectory(std::uint32_t dirInode, const ext2::Inode& inode, std::vector<std::uint8_t>& buf);
    void buildEntryTable();
    std::optional<std::pair<std::uint64_t, std::uint32_t>> inodeLocation(std::uint32_t inodeNumber) const;
    bool validRef(EntryRef ref) const { return ref >= kRootRef && ref < static_cast<EntryRef>(entries_.size()); }

    std::uint64_t volumeSize_ = 0;
    std::uint64_t superOffset_ = 0;
    std::optional<ext2::Superblock> super_;
    std::vector<ext2::GroupDesc> groups_;
    std::uint64_t records_ = 0;  // inodes the tables hold (at most the inode count)
    std::vector<DirHit> hits_;
    // Each live directory's own "..": which of several names of a directory is its real one.
    std::unordered_map<std::uint32_t, std::uint32_t> dotDot_;
    std::string namePool_;
    std::vector<Ext2Entry> entries_;
    std::vector<std::uint8_t> entryTypes_;  // directory-entry file types, until collectInodes
};

}  // namespace kelvara
