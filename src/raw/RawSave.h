#pragma once
// Writing carved finds into the output folder: each under its item name (made safe, a
// taken name numbered), its bytes streamed from the volume through the reader.

#include <cstddef>
#include <string>
#include <vector>

#include "fs/VolumeParser.h"
#include "raw/myJpg.h"

namespace kelvara {

// Writes find number index of the engine into folder.
ExtractResult saveFind(myJpg& engine, std::size_t index, const std::string& folder);

struct RawSaveSummary {
    std::size_t saved = 0;       // files written completely
    std::size_t incomplete = 0;  // written, but a read or a write failed (see the message)
    std::size_t failed = 0;      // no file could be created
    std::vector<ExtractResult> results;
    std::vector<std::size_t> findIndexes;  // the find each result belongs to
};

// Saves every checked find below the engine's root item. The root and the category
// nodes carry no find. Shows "Please Select item from tree to save" when nothing of
// this engine is checked.
RawSaveSummary saveCheckedFinds(myJpg& engine, const std::string& folder);

}  // namespace kelvara
