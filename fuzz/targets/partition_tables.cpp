// The partition table scan (MBR with its extended chain, and GPT) over any bytes.

#include "device/MemoryReadSeek.h"
#include "fuzz/FuzzTarget.h"
#include "partition/Partition.h"

KELVARA_FUZZ_TARGET(partition_tables) {
    kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
    for (bool gpt : {false, true}) {
        kelvara::Partition p;
        p.gptFormat = gpt;
        p.scanPartitionTables(reader);
    }
    return 0;
}
