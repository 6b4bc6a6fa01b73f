// The boot-sector search over any bytes, with and without skipping found volumes.

#include "device/MemoryReadSeek.h"
#include "fuzz/FuzzTarget.h"
#include "partition/Partition.h"

KELVARA_FUZZ_TARGET(partition_search) {
    kelvara::MemoryReadSeek reader(std::vector<std::uint8_t>(data, data + size));
    for (bool skip : {true, false}) {
        kelvara::Partition p;
        p.skipVolumeSize = skip;
        p.searchPartitions(reader);
    }
    return 0;
}
