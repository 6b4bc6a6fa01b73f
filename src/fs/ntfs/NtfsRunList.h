#pragma once
// Decoding the run list of a non-resident attribute.

#include <cstdint>
#include <vector>

#include "common/ByteReader.h"
#include "fs/ntfs/NtfsLayout.h"

namespace kelvara {

struct RunListResult {
    std::vector<DataRun> runs;
    bool ended = false;  // an end byte was met (otherwise the bytes ran out or were corrupt)
};

// Decodes a run list: each run is a header byte (low nibble: width of the length, high
// nibble: width of the signed cluster delta, 1 to 8 bytes each; no delta bytes means a
// hole). Runs are kept while their total length stays within maxClusters. Decoding stops
// at a run that leaves the slice, has a field wider than 8 bytes or a cluster number
// below 0.
RunListResult decodeRunList(const ByteReader& list, std::uint64_t maxClusters);

}  // namespace kelvara
