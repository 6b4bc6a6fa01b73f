// kelvara-cli drives: the physical drives and mounted volumes of this machine.

#include <cstdio>

#include <nlohmann/json.hpp>

#include "cli/Command.h"
#include "device/DriveList.h"

namespace kelvara::cli {
namespace {

CommandRun setupDrives(CLI::App& app) {
    auto* cmd = app.add_subcommand("drives", "List the physical drives and mounted volumes");
    auto json = std::make_shared<bool>(false);
    cmd->add_flag("--json", *json, "Print JSON");
    return [json]() {
        const auto drives = listPhysicalDrives();
        const auto volumes = listMountedVolumes();
        if (*json) {
            nlohmann::json out;
            out["physicalDrives"] = nlohmann::json::array();
            for (const auto& d : drives)
                out["physicalDrives"].push_back(
                    {{"name", d.label()}, {"path", d.path}, {"sizeBytes", d.sizeBytes}});
            out["volumes"] = nlohmann::json::array();
            for (const auto& v : volumes)
                out["volumes"].push_back({{"displayName", v.displayName},
                                          {"VOLUME", v.VOLUME},
                                          {"FILE_SYSTEM", v.FILE_SYSTEM},
                                          {"VOLUME_SIZE", v.VOLUME_SIZE},
                                          {"START_SECTOR", v.START_SECTOR}});
            std::printf("%s\n", out.dump(2).c_str());
            return kExitOk;
        }
        std::printf("PHYSICAL DRIVES:\n");
        for (const auto& d : drives) std::printf("  %-32s %s\n", d.label().c_str(), d.path.c_str());
        std::printf("VOLUMES:\n");
        for (const auto& v : volumes)
            std::printf("  %-24s %-16s %-8s %s\n", v.displayName.c_str(), v.VOLUME.c_str(),
                        v.FILE_SYSTEM.c_str(), v.VOLUME_SIZE.c_str());
        return kExitOk;
    };
}

const CommandRegistration reg("drives", setupDrives);

}  // namespace
}  // namespace kelvara::cli
