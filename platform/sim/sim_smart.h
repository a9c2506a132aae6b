#pragma once
// The simulated machine's first disk as its SMART client sees it: the two
// blocks the drive answers with, a step that can be made to fail, and a
// record of every operation the controller asked for.

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/smart_drives.h"

namespace vq {

class SimSmart : public SmartDrives, public std::enable_shared_from_this<SimSmart> {
public:
    std::optional<AtaBlock> identify;   // absent: the identify command fails
    std::optional<AtaBlock> smartData;  // absent: reading the SMART data fails
    // The one step that fails: "plugIn", "interface", "identify", "enable",
    // "autosave", "returnStatus", "readData" or "validate"; empty for none.
    std::string failStep;
    // Operations in the order they were asked for ("identify", "enable on", …).
    std::vector<std::string> operations;

    std::string firstDiskName() override { return "disk0"; }
    SmartPlugIn createPlugIn(RegistryEntryId service, const std::string& bsdName) override;
};

// The machine file's "smart" object: {"identify": hex, "smartData": hex,
// "failStep": name}. Throws std::runtime_error when it is malformed.
std::shared_ptr<SimSmart> loadSimSmart(const nlohmann::json& smart);

}  // namespace vq
