#include "sensors/VQTSmartController.h"

#include <numeric>

namespace vq {
using namespace ata;

std::optional<unsigned> smartTemperature(const AtaBlock& smartData) {
    for (std::size_t i = 0; i < kAttributeCount; ++i) {
        const std::size_t entry = kAttributeTableStart + i * kAttributeEntrySize;
        if (smartData[entry] == kTemperatureAttribute) return smartData[entry + kRawLowByte];
    }
    return std::nullopt;
}

VQTSmartController::VQTSmartController(std::shared_ptr<IORegistry> registry, std::shared_ptr<SmartDrives> drives,
                                       std::shared_ptr<Volumes> volumes)
    : registry_(std::move(registry)), drives_(std::move(drives)), volumes_(std::move(volumes)) {}

void VQTSmartController::examine(const std::optional<std::vector<RegistryEntryId>>& services,
                                 const std::string& firstDisk) {
    if (!services) return;
    for (RegistryEntryId service : *services) {
        const auto name = registry_->searchPropertyBelow(service, "BSD Name");
        if (name && name->is_string() && name->get<std::string>() == firstDisk) PerformSMARTUnitTest(service, firstDisk);
    }
}

void VQTSmartController::update() {
    diskData = Value::array();
    const std::string firstDisk = drives_ ? drives_->firstDiskName() : std::string();
    if (!firstDisk.empty() && registry_) {
        examine(registry_->matchingServices("IOService", {{"SMART Capable", true}}), firstDisk);
        if (diskData.empty()) examine(registry_->matchingServices("IOATABlockStorageDevice", {}), firstDisk);
    }
    latestData = std::move(diskData);
    diskData = nullptr;
}

int VQTSmartController::PerformSMARTUnitTest(RegistryEntryId service, const std::string& bsdName) {
    Value results = Value::object();
    SmartPlugIn plugIn = drives_->createPlugIn(service, bsdName);
    if (plugIn.status != 0) return plugIn.status;
    if (!plugIn.interface) return 0;
    if (PrintIdentifyData(*plugIn.interface, results)) PrintSMARTData(*plugIn.interface, results);
    diskData.push_back(std::move(results));
    return 0;
}

bool VQTSmartController::PrintIdentifyData(SmartInterface& smart, Value& results) {
    AtaBlock block{};
    if (smart.getATAIdentifyData(block) != 0) return false;
    if (VerifyIdentifyData(block) != 0) return false;
    results["model"] = "HD: " + (volumes_ ? volumes_->displayNameAtPath("/") : std::string("/"));
    return (block[kSmartSupportedByte] & 1) != 0;
}

void VQTSmartController::PrintSMARTData(SmartInterface& smart, Value& results) {
    AtaBlock block{};
    bool exceeded = false;
    if (smart.SMARTEnableDisableOperations(true) == 0 && smart.SMARTEnableDisableAutosave(true) == 0 &&
        smart.SMARTReturnStatus(exceeded) == 0) {
        smart.SMARTExecuteOffLineImmediate(false);
        if (smart.SMARTReadData(block) == 0 && smart.SMARTValidateReadData(block) == 0) {
            if (const auto celsius = smartTemperature(block)) results["deviceTemp"] = *celsius;
        }
    }
    smart.SMARTEnableDisableAutosave(false);
    smart.SMARTEnableDisableOperations(false);
}

int VQTSmartController::VerifyIdentifyData(const AtaBlock& block) {
    if (block[kSignatureByte] != kSignature) return 255;
    return std::accumulate(block.begin(), block.end(), 0u) % 256;
}

}  // namespace vq
