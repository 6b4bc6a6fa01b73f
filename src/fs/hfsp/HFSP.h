#pragma once
// The HFS+ (and HFSX) parser. The standard scan walks the catalog B-tree file node by
// node through its extents; the advanced and deep scans search the whole volume for
// catalog leaf nodes. Every folder and file record becomes an HfsEntry keyed by its
// catalog node ID (CNID), which is also the EntryRef the results page holds.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/VolumeParser.h"
#include "fs/hfsp/ForkMap.h"
#include "fs/hfsp/HfsStructures.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara {

struct HfsEntry {
    std::uint16_t type = 0;  // 1 folder, 2 file
    std::int64_t parentId = 0;  // the orphan folder's CNID may exceed 32 bits
    std::int64_t cnid = 0;
    std::int64_t firstChild = -1;
    std::int64_t nextSibling = -1;
    std::uint32_t childCount = 0;
    std::uint32_t totalBlocks = 0;
    std::string name;        // UTF-8
    std::uint64_t nodeBlock = 0;  // volume block of the catalog node holding the record
    std::uint32_t recordOffset = 0;
    std::uint64_t logicalSize = 0;
    hfsp::ExtentRecord extents{};  // the data fork's first eight extents
    std::uint32_t createDate = 0, contentModDate = 0, accessDate = 0;
    std::uint16_t fileMode = 0;
};

class HFSP final : public VolumeParser {
public:
    // A catalog or extents-overflow node the scan collected.
    struct CollectedNode {
        std::uint64_t number = 0;      // node number in its B-tree file, or for the whole-
                                       // volume search the volume block it starts at
        std::int8_t kind = 0;
        std::uint8_t height = 0;
        std::uint16_t numRecords = 0;
        std::vector<std::uint16_t> offsets;
        std::uint32_t nodeSize = 0;
    };

    std::string kindName() const override { return "HFS+"; }
    // True when every step succeeded: the page then ends with "Work Done.", otherwise
    // with "Work Aborted...." (what was found is listed either way).
    bool runScan(int mode) override;
    std::vector<std::string> prepareAdvanced(const AdvancedChoice&) override;

    bool isEntry(EntryRef ref) const override { return find(ref) != nullptr; }
    bool isDirectory(EntryRef ref) const override;
    bool isDeleted(EntryRef) const override { return false; }
    bool hasChildren(EntryRef ref) const override;
    EntryRef firstChild(EntryRef ref) const override;
    EntryRef nextSibling(EntryRef ref) const override;
    std::string name(EntryRef ref) const override;
    void setName(EntryRef ref, const std::string& name) override;
    std::uint64_t size(EntryRef ref) const override;
    EntryTimeTexts formatTimes(EntryRef ref) const override;
    std::string formatAttributes(EntryRef ref) const override;
    std::string formatSize(EntryRef ref) const override;
    EntryTimesUtc times(EntryRef ref) const override;
    ExtractResult extractEntry(EntryRef ref, const std::string& outputFolder) override;
    bool skipOnSave(EntryRef ref) const override;
    // CNID 2 in the standard scan; in the advanced and deep scans, where every folder
    // hangs below "ORPHAN_ENTRY", that folder.
    EntryRef volumeRoot() const override;

    // What the last scan did, for callers and tests.
    bool scanSucceeded() const { return succeeded_; }
    const std::map<std::int64_t, HfsEntry>& entries() const { return entries_; }
    const std::vector<CollectedNode>& catalogNodes() const { return catalogNodes_; }
    const std::vector<CollectedNode>& extentsNodes() const { return extentsNodes_; }
    const hfsp::VolumeHeader& volumeHeader() const { return header_; }
    std::int64_t orphanFolderId() const { return orphanId_; }
    TreeItem rootItem() const { return rootItem_; }

    // The bytes the whole-volume search reads at once (plus one node).
    std::uint64_t searchWindowBytes = 52428800;

    // The scan steps, public for tests that drive them one by one.
    bool readVolumeHeader();
    bool walkExtentsNodes();
    bool walkCatalogNodes();
    bool searchLeafNodes();
    void linkChildren();
    void fillRootItems();

private:
    // The first block past the volume: its header's block count, or the end of what
    // the reader holds when that comes first.
    std::uint64_t volumeBlockLimit() const;
    const HfsEntry* find(EntryRef ref) const;
    HfsEntry* find(EntryRef ref);
    // Reads length bytes at a volume byte offset; unreadable pieces become zeros.
    bool readVolume(std::uint64_t offset, std::uint8_t* out, std::size_t length);
    // Reads length bytes of a fork from its byte offset; blocks outside the fork or
    // unreadable become zeros. False when any did.
    bool readFork(const hfsp::ForkMap& fork, std::uint64_t offset, std::uint8_t* out, std::size_t length);
    // Appends the extents-overflow records of the data fork of fileId while the map
    // holds fewer than wantBlocks blocks.
    void addOverflowExtents(hfsp::ForkMap& map, std::uint32_t fileId, std::uint64_t wantBlocks) const;
    // Walks one B-tree file node by node; calls onNode for each node of a known kind
    // that has records. Fails when node 0 is not a usable header node.
    template <typename OnNode>
    bool walkBTree(const hfsp::ForkMap& fork, std::uint64_t forkBytes, std::vector<CollectedNode>& into,
                   std::uint32_t& nodeSizeOut, OnNode onNode);
    void readCatalogRecords(const ByteReader& node, std::uint64_t nodeVolumeBlock);
    void linkStandard();
    void linkByOrder();
    void status(const std::string& text) { sink->setStatus(text); }

    int mode_ = 1;
    bool succeeded_ = false;
    hfsp::VolumeHeader header_;
    std::uint32_t catalogNodeSize_ = 0;
    std::uint32_t extentsNodeSize_ = 0;
    hfsp::ForkMap catalogFork_;
    hfsp::ForkMap extentsFork_;
    std::vector<CollectedNode> catalogNodes_;
    std::vector<CollectedNode> extentsNodes_;
    std::map<std::int64_t, HfsEntry> entries_;
    // (file CNID, first file block) -> the eight extents of a data-fork overflow record.
    std::map<std::pair<std::uint32_t, std::uint32_t>, hfsp::ExtentRecord> overflow_;
    bool foundBySearch_ = false;
    std::int64_t orphanId_ = 0;
    TreeItem rootItem_ = kNoItem;
};

}  // namespace kelvara
