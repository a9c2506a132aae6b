#pragma once
// The battery of a laptop: time left or time to full charge, charge level,
// power source, charging state, cycle count, and health with the full
// capacity. Two families are read differently, chosen from the model name:
// "MacBook" machines from the smart battery's registry entry, "PowerBook"
// machines from the power-source descriptions plus, every fifth sample, the
// power-management registry entries.

#include <cstdint>
#include <memory>
#include <string>

#include "miners/data_set.h"
#include "platform/io_registry.h"
#include "platform/machine_info.h"
#include "platform/power_sources.h"

namespace vq {

class VQTDataMinerBattery {
public:
    VQTDataMinerBattery(std::shared_ptr<MachineInfo> machine, std::shared_ptr<IORegistry> registry,
                        std::shared_ptr<PowerSources> powerSources);

    // Decides the family afresh from the model name: "PowerBook" (tested
    // first) or "MacBook"; a machine naming neither but holding a system
    // battery entry reads as the MacBook family. False for any other machine.
    bool isLaptop();
    // Takes one sample of the current family; does nothing on other machines.
    void mineData();
    // Six strings: time, charge, power source, state, cycles, health.
    const Value& getDataSet() const { return latestData; }

    void getMBP();
    const Value& getPB();
    std::string getCycles();
    void updateCycles();

    // "h:mm" followed by `words`, from a count of minutes.
    static std::string formatTime(std::int32_t minutes, const char* words);

private:
    std::shared_ptr<MachineInfo> machine_;
    std::shared_ptr<IORegistry> registry_;
    std::shared_ptr<PowerSources> powerSources_;

    Value latestData;
    std::int32_t type = -1;
    std::int32_t cyclePos = 0;
    std::string theCycles = "0";
    std::string theCapcity = "0%";
};

}  // namespace vq
