// kelvara-cli partitions: the partition tables of a disk or image, or a sector-by-sector
// search for boot sectors.

#include <algorithm>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/VolumeArgs.h"
#include "partition/Partition.h"

namespace kelvara::cli {
namespace {

void printTable(const std::vector<VolumeRecord>& records) {
    const std::vector<std::string> heads = {"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"};
    std::vector<std::vector<std::string>> rows;
    for (const auto& r : records)
        rows.push_back({r.VOLUME, r.FILE_SYSTEM, r.VOLUME_SIZE, std::to_string(r.START_SECTOR)});
    std::vector<std::size_t> width;
    for (const auto& h : heads) width.push_back(h.size());
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    auto line = [&](const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < cells.size(); ++c)
            std::printf("%-*s%s", c + 1 < cells.size() ? static_cast<int>(width[c]) : 0, cells[c].c_str(),
                        c + 1 < cells.size() ? "  " : "\n");
    };
    line(heads);
    for (const auto& row : rows) line(row);
}

CommandRun setupPartitions(CLI::App& app) {
    auto* cmd = app.add_subcommand("partitions", "List the partitions of a disk or disk image");
    auto opts = std::make_shared<PartitionOptions>();
    auto source = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    cmd->add_option("SOURCE", *source, "Block device or disk image file")->required();
    addPartitionOptions(*cmd, *opts);
    cmd->add_flag("--json", *json, "Print JSON");
    return [=]() {
        auto reader = openSource(*source);
        StderrProgress progress;
        const std::vector<VolumeRecord> records = findPartitions(*reader, *opts, progress);
        if (*json) {
            nlohmann::json out = nlohmann::json::array();
            for (const auto& r : records)
                out.push_back({{"VOLUME", r.VOLUME},
                               {"FILE_SYSTEM", r.FILE_SYSTEM},
                               {"VOLUME_SIZE", r.VOLUME_SIZE},
                               {"START_SECTOR", r.START_SECTOR}});
            std::printf("%s\n", out.dump(2).c_str());
        } else {
            printTable(records);
        }
        return kExitOk;
    };
}

const CommandRegistration reg("partitions", setupPartitions);

}  // namespace
}  // namespace kelvara::cli
