#pragma once
// What the results page needs from a file-system parser, and nothing more: the scan
// steps for a mode, the children of an entry, its name, kind, deleted state, size and
// times, and the extraction of one file. Each parser (ntfs, Fat16Class, Fat32Class,
// Fat64Class, ext2Class, HFSP) implements it with its own rules; the page talks only to
// this interface.
//
// Entries are named by an EntryRef, the parser's own reference to one of its records
// (an index into its record list, or for HFS+ a catalog node ID). Tree items carry it as
// their data word. The parser owns its records; references stay valid for its lifetime.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/ProgressSink.h"
#include "device/readWriteInterface.h"
#include "partition/VolumeRecord.h"
#include "platform/Output.h"

namespace kelvara {

class CXHtmlTree;

using EntryRef = std::int64_t;
constexpr EntryRef kNoEntry = -1;

// The four texts of formatTimes: creation, access and modification time, attributes.
struct EntryTimeTexts {
    std::string created, accessed, modified, attributes;
};

// The same times as true UTC, for setting on recovered files and for --json.
struct EntryTimesUtc {
    std::optional<platform::UtcTime> created, accessed, modified;
};

struct ExtractResult {
    bool created = false;   // an output file was made
    bool complete = false;  // every byte of the entry was read
    std::string path;       // where it was written
    std::string message;    // why it is incomplete or missing, when it is
    std::uint64_t bytesWritten = 0;
};

// The choices of the advanced mode, as the advance options page hands them on: how many
// file systems the finders look for, which found entry (MFT candidate, FAT or exFAT
// entry) and which heap offset to use, the cluster size, and whether the drive was
// reformatted.
struct AdvancedChoice {
    int maxFileSystems = 3;
    int entry = 0;
    std::optional<std::int64_t> sectorsPerCluster;
    int heapOffset = 0;
    std::optional<int> clusterShift;
    bool driveFormatted = false;
};

class VolumeParser {
public:
    virtual ~VolumeParser() = default;

    // Wiring, set by the results page before its worker starts.
    CXHtmlTree* tree = nullptr;
    ProgressSink* sink = &nullProgressSink();
    readWriteInterface* reader = nullptr;
    VolumeRecord volume;
    std::atomic<std::uint8_t> stopFlag{0};
    // Called at every stop check; the page blocks there while paused.
    std::function<void()> pauseHook;

    // The stop check every scan loop calls: waits while paused, then reads the flag.
    bool stopRequested() {
        if (pauseHook) pauseHook();
        return stopFlag.load(std::memory_order_relaxed) != 0;
    }

    // The kind as the volume lists spell it ("ntfs", "fat16", "fat32", "fat64", "extX", "HFS+").
    virtual std::string kindName() const = 0;

    // Runs the worker steps of a scan mode (1 standard, 2 advanced, 3 deep): sets the
    // reader's baseOffset, inserts "ROOT" and the top level into the tree. The page runs
    // the common end afterwards. False when this kind has no worker for the mode.
    virtual bool runScan(int mode) = 0;

    // The advance options step of mode 2: runs this kind's finders over the volume and
    // applies the choice. Returns the texts of what the finders listed (candidates);
    // empty when they found nothing, in which case mode 2 cannot run.
    virtual std::vector<std::string> prepareAdvanced(const AdvancedChoice&) { return {}; }

    // Whether ref names an entry of the current scan (item data of "ROOT" and of
    // placeholders does not).
    virtual bool isEntry(EntryRef ref) const = 0;
    virtual bool isDirectory(EntryRef ref) const = 0;
    virtual bool isDeleted(EntryRef ref) const = 0;
    virtual bool hasChildren(EntryRef ref) const = 0;
    // The child chain: firstChild, then nextSibling until kNoEntry.
    virtual EntryRef firstChild(EntryRef ref) const = 0;
    virtual EntryRef nextSibling(EntryRef ref) const = 0;
    virtual std::string name(EntryRef ref) const = 0;
    // Renames an entry (recycled files get their names back).
    virtual void setName(EntryRef ref, const std::string& name) = 0;
    virtual std::uint64_t size(EntryRef ref) const = 0;
    virtual EntryTimeTexts formatTimes(EntryRef ref) const = 0;
    // Only the attribute text of formatTimes (listings that show times otherwise).
    virtual std::string formatAttributes(EntryRef ref) const { return formatTimes(ref).attributes; }
    virtual std::string formatSize(EntryRef ref) const = 0;
    virtual EntryTimesUtc times(EntryRef ref) const = 0;

    // Writes one file entry into outputFolder under its (safe, unused) name, streaming
    // its data, and sets its times.
    virtual ExtractResult extractEntry(EntryRef ref, const std::string& outputFolder) = 0;

    // The directory test of Save for this kind.
    virtual bool isSaveableDirectory(EntryRef ref) const { return isDirectory(ref); }
    // Entries counted but never written by Save (NTFS: "$BadClus").
    virtual bool skipOnSave(EntryRef) const { return false; }
    // Directories that Save and search neither create nor walk into (NTFS: ".", the
    // root's link to itself).
    virtual bool isSelfLink(EntryRef) const { return false; }

    // How the results page treats this kind; the defaults follow the kind name.
    // Which scan modes run a worker: NTFS and HFS+ 1 to 3, FAT and exFAT 1 and 2, ext 1.
    virtual bool hasWorker(int mode) const;
    // Recycled files get their names back from the $I files (NTFS, FAT32, exFAT).
    virtual bool restoresRecycledNames() const;
    // A double-click dump is followed by "file is dumped in path ..." (exFAT, ext, HFS+).
    virtual bool reportsDumpedPath() const;
    // The scan ends with "Work Done." or "Work Aborted...." in the status line instead of
    // the common end's message box (HFS+).
    virtual bool hasOwnEndOfScan() const;
    // The entry that stands for the whole volume when "ROOT" is saved.
    virtual EntryRef volumeRoot() const = 0;

    // All files below dir at any depth. Iterative and guarded against cycles.
    virtual std::uint64_t countFiles(EntryRef dir) const;
};

}  // namespace kelvara
