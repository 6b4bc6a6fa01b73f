#pragma once
// The carving engine: reads a volume in 1 MiB chunks, tests the start of every sector
// against the start and end patterns of the loaded signatures, and lists every file it
// can delimit under one tree node per category. Finds are guesses: a start and a length
// counted from the volume's first byte.

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/ProgressSink.h"
#include "device/readWriteInterface.h"
#include "raw/SignatureRecord.h"
#include "widgets/CXHtmlTree.h"

namespace kelvara {

class myJpg {
public:
    static constexpr std::size_t kMaxSignatures = 128;
    static constexpr std::int64_t kSectorStep = 512;
    static constexpr std::int64_t kChunkSize = 1048576;
    static constexpr std::size_t kPatternWindow = 10;  // bytes a test looks at
    static constexpr std::uint8_t kWildcard = 0x2A;

    struct Signature {
        SignatureRecord record;  // the values as loaded (sizeOffset <= 0 already -1)
        std::string extension;   // UTF-8
        std::string category;    // UTF-8
        int signatureId = 0;
        TreeItem categoryNode = kNoItem;
    };

    struct Found {
        std::int64_t start = 0;
        std::int64_t length = 0;
        std::int64_t nameOffset = 0;
        int signatureId = 0;
        std::string name;  // "%lld ." + extension
        TreeItem item = kNoItem;
    };

    struct Match {
        bool isEnd = false;
        int signatureId = 0;
    };

    // Adds a signature at the end of the list; its identifier is its position. False
    // when the engine already holds kMaxSignatures.
    bool addSignature(const SignatureRecord& record);
    const std::vector<Signature>& signatures() const { return signatures_; }

    // Set before a scan.
    readWriteInterface* reader = nullptr;
    std::int64_t volumeSize = 0;
    ProgressSink* sink = nullptr;
    CXHtmlTree* tree = nullptr;
    std::atomic<std::uint8_t> stopFlag{0};
    // While set, the scan waits at its chunk heads (stop still ends it).
    std::atomic<std::uint8_t> pauseFlag{0};

    bool scanVolume();

    // The pattern table (built by scanVolume; exposed for tests) and the sector test:
    // window must hold kPatternWindow bytes.
    void buildPatternTable();
    std::optional<Match> matchAt(const std::uint8_t* window) const;

    const std::vector<Found>& found() const { return found_; }
    TreeItem rootItem() const { return root_; }
    // The find a tree item of this engine stands for (root and category nodes: none).
    const Found* findForItem(TreeItem item) const;

private:
    struct PatternEntry {
        std::uint8_t length = 0;
        std::uint8_t signatureId = 0;
        std::array<std::uint8_t, 10> bytes{};
    };
    struct Step {
        std::int64_t advance = kSectorStep;  // bytes to the next test in this buffer
        std::int64_t resume = -1;            // >= 0: the absolute offset of the next test
    };

    Step actStart(Signature& s, const std::uint8_t* buffer, std::int64_t p, std::int64_t a);
    Step actEnd(Signature& s, std::int64_t a);
    std::int64_t skipStep(const Signature& s) const;
    // Returns the length kept (cut at the volume's end).
    std::int64_t reportFind(Signature& s, std::int64_t start, std::int64_t length, std::int64_t nameOffset);
    // Tests the sector starts p .. limit of a buffer read at base; returns the absolute
    // offset to go on at when that lies beyond the buffer, else -1.
    std::int64_t scanBuffer(const std::uint8_t* buffer, std::int64_t p, std::int64_t limit, std::int64_t base);
    void readWindow(std::int64_t offset, std::uint8_t* buffer, std::int64_t count);
    void flushPending();
    void trimToEndPatterns();
    bool stopped() const { return stopFlag.load(std::memory_order_relaxed) != 0; }
    void waitWhilePaused() const;

    std::vector<Signature> signatures_;
    std::vector<PatternEntry> table_;
    // Entry indexes by first byte, in table order (wildcard-first entries in every list);
    // entries shorter than 2 bytes are left out as they never match.
    std::array<std::vector<std::uint16_t>, 256> byFirstByte_;
    std::vector<std::vector<std::int64_t>> pending_;    // per identifier, LIFO
    std::vector<std::vector<std::int64_t>> allStarts_;  // per identifier, ascending
    std::vector<Found> found_;
    std::map<std::string, std::uint64_t> categoryCount_;
    TreeItem root_ = kNoItem;
};

}  // namespace kelvara
