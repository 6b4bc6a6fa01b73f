#pragma once
// A small HFS+ volume built in memory from the published layout, for the tests that
// need one exact catalog: 4096-byte blocks and nodes, the extents-overflow file at
// blocks 1-2, the catalog file from block 3 (a header node, then one leaf node per
// list of records), file data wherever a test puts it.

#include <cstdint>
#include <string>
#include <vector>

#include "common/ProgressSink.h"

namespace kelvara::test {

inline void be16(std::vector<std::uint8_t>& b, std::size_t off, std::uint16_t v) {
    b.at(off) = std::uint8_t(v >> 8);
    b.at(off + 1) = std::uint8_t(v);
}
inline void be32(std::vector<std::uint8_t>& b, std::size_t off, std::uint32_t v) {
    be16(b, off, std::uint16_t(v >> 16));
    be16(b, off + 2, std::uint16_t(v));
}
inline void be64(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v) {
    be32(b, off, std::uint32_t(v >> 32));
    be32(b, off + 4, std::uint32_t(v));
}

struct TestExtent {
    std::uint32_t start, count;
};

struct TestRecord {
    std::uint16_t type = 2;  // 1 folder, 2 file, 3/4 threads
    std::uint32_t parent = 2;
    std::u16string name;
    std::uint32_t cnid = 0;
    std::uint64_t size = 0;
    std::uint32_t totalBlocks = 0;
    std::vector<TestExtent> extents;
    std::uint16_t mode = 0x81A4;
    std::uint32_t created = 3684000000u, modified = 3684100000u, accessed = 3684200000u;
};

struct TestOverflow {
    std::uint8_t forkType = 0;
    std::uint32_t cnid = 0;
    std::uint32_t startBlock = 0;
    std::vector<TestExtent> extents;
};

class HfsTestImage {
public:
    static constexpr std::uint32_t kBlock = 4096;
    std::vector<std::uint8_t> bytes;
    std::uint32_t catalogStart = 3;

    explicit HfsTestImage(std::uint32_t blocks = 64) : bytes(std::size_t(blocks) * kBlock, 0) {
        bytes[1024] = 'H';
        bytes[1025] = '+';
        be16(bytes, 1026, 4);
        be32(bytes, 1024 + 0x28, kBlock);
        be32(bytes, 1024 + 0x2C, blocks);
        setOverflow({});
    }

    std::size_t nodeAt(std::uint32_t catalogNode) const { return std::size_t(catalogStart + catalogNode) * kBlock; }

    // Writes the catalog: header node 0, then leaf nodes 1..n.
    void setCatalog(const std::vector<std::vector<TestRecord>>& leaves) {
        const std::uint32_t nodes = std::uint32_t(leaves.size()) + 1;
        writeHeaderNode(nodeAt(0), nodes, std::uint32_t(leaves.size()));
        for (std::size_t i = 0; i < leaves.size(); ++i) writeLeaf(nodeAt(std::uint32_t(i + 1)), leaves[i]);
        setFork(0x110, std::uint64_t(nodes) * kBlock, {{catalogStart, nodes}});
    }

    void setOverflow(const std::vector<TestOverflow>& recs) {
        writeHeaderNode(1 * kBlock, 2, 1);
        const std::size_t at = 2 * kBlock;
        std::vector<std::size_t> offs;
        std::size_t pos = at + 14;
        for (const auto& r : recs) {
            offs.push_back(pos - at);
            be16(bytes, pos, 10);
            bytes[pos + 2] = r.forkType;
            be32(bytes, pos + 4, r.cnid);
            be32(bytes, pos + 8, r.startBlock);
            for (std::size_t i = 0; i < r.extents.size() && i < 8; ++i) {
                be32(bytes, pos + 12 + 8 * i, r.extents[i].start);
                be32(bytes, pos + 16 + 8 * i, r.extents[i].count);
            }
            pos += 12 + 64;
        }
        finishNode(at, offs, pos - at, -1);
        setFork(0xC0, 2 * kBlock, {{1, 2}});
    }

    void setFork(std::size_t vhOffset, std::uint64_t size, const std::vector<TestExtent>& extents) {
        const std::size_t f = 1024 + vhOffset;
        be64(bytes, f, size);
        std::uint32_t total = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            const TestExtent e = i < extents.size() ? extents[i] : TestExtent{0, 0};
            be32(bytes, f + 16 + 8 * i, e.start);
            be32(bytes, f + 20 + 8 * i, e.count);
            total += e.count;
        }
        be32(bytes, f + 12, total);
    }

    // Fills block b with a pattern that names it.
    void fillBlock(std::uint32_t b) {
        for (std::uint32_t i = 0; i < kBlock; ++i) bytes.at(std::size_t(b) * kBlock + i) = std::uint8_t((b * 31 + i * 7) & 0xFF);
    }

private:
    void writeHeaderNode(std::size_t at, std::uint32_t totalNodes, std::uint32_t leaves) {
        bytes[at + 8] = 1;  // header node
        be16(bytes, at + 10, 3);
        const std::size_t h = at + 14;
        be16(bytes, h + 0, leaves ? 1 : 0);
        be32(bytes, h + 2, leaves ? 1 : 0);
        be32(bytes, h + 10, leaves ? 1 : 0);
        be32(bytes, h + 14, leaves);
        be16(bytes, h + 18, std::uint16_t(kBlock));
        be16(bytes, h + 20, 516);
        be32(bytes, h + 22, totalNodes);
        be16(bytes, at + kBlock - 2, 14);
        be16(bytes, at + kBlock - 4, 14 + 106);
        be16(bytes, at + kBlock - 6, 14 + 106 + 128);
        be16(bytes, at + kBlock - 8, std::uint16_t(kBlock - 8));
    }

    void finishNode(std::size_t at, const std::vector<std::size_t>& offs, std::size_t freeAt, int kind) {
        bytes[at + 8] = std::uint8_t(std::int8_t(kind));
        bytes[at + 9] = 1;
        be16(bytes, at + 10, std::uint16_t(offs.size()));
        for (std::size_t i = 0; i < offs.size(); ++i) be16(bytes, at + kBlock - 2 - 2 * i, std::uint16_t(offs[i]));
        be16(bytes, at + kBlock - 2 - 2 * offs.size(), std::uint16_t(freeAt));
    }

    void writeLeaf(std::size_t at, const std::vector<TestRecord>& recs) {
        std::vector<std::size_t> offs;
        std::size_t pos = at + 14;
        for (const auto& r : recs) {
            offs.push_back(pos - at);
            const std::size_t units = r.name.size();
            be16(bytes, pos, std::uint16_t(6 + 2 * units));
            be32(bytes, pos + 2, r.parent);
            be16(bytes, pos + 6, std::uint16_t(units));
            for (std::size_t i = 0; i < units; ++i) be16(bytes, pos + 8 + 2 * i, r.name[i]);
            std::size_t rec = pos + 8 + 2 * units;
            be16(bytes, rec, r.type);
            std::size_t len = r.type == 1 ? 88 : r.type == 2 ? 248 : 10;
            if (r.type == 1 || r.type == 2) {
                be32(bytes, rec + 0x08, r.cnid);
                be32(bytes, rec + 0x0C, r.created);
                be32(bytes, rec + 0x10, r.modified);
                be32(bytes, rec + 0x14, r.modified);
                be32(bytes, rec + 0x18, r.accessed);
                be16(bytes, rec + 0x2A, r.mode);
            } else {
                be32(bytes, rec + 4, r.parent);
            }
            if (r.type == 2) {
                be64(bytes, rec + 0x58, r.size);
                be32(bytes, rec + 0x64, r.totalBlocks);
                for (std::size_t i = 0; i < r.extents.size() && i < 8; ++i) {
                    be32(bytes, rec + 0x68 + 8 * i, r.extents[i].start);
                    be32(bytes, rec + 0x6C + 8 * i, r.extents[i].count);
                }
            }
            pos = rec + len;
        }
        finishNode(at, offs, pos - at, -1);
    }
};

// Keeps every status text and the last progress values.
struct RecordingSink : ProgressSink {
    std::vector<std::string> statuses;
    std::int64_t low = 0, high = 0, pos = 0;
    void setRange(std::int64_t l, std::int64_t h) override { low = l, high = h; }
    void setPos(std::int64_t p) override { pos = p; }
    void setStatus(const std::string& t) override { statuses.push_back(t); }
    bool saw(const std::string& t) const {
        for (const auto& s : statuses)
            if (s == t) return true;
        return false;
    }
};

}  // namespace kelvara::test
