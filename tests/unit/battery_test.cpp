#include <gtest/gtest.h>

#include "miners/VQTDataMinerBattery.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

using nlohmann::json;

json entry(int id, const char* cls, json properties) {
    return {{"id", id}, {"classes", {cls}}, {"name", cls}, {"properties", std::move(properties)}};
}
json smart(json properties) { return json::array({entry(1, "AppleSmartBattery", std::move(properties))}); }
json info(int cycles, int capacity, int max) {
    return {{"IOBatteryInfo", {{{"Cycle Count", cycles}, {"Capacity", capacity}, {"AbsoluteMaxCapacity", max}}}}};
}
std::string joined(const Value& data) {
    std::string line;
    for (const auto& text : data) line += (line.empty() ? "" : "|") + text.get<std::string>();
    return line;
}
std::string mineOnce(const json& machineFile) {
    auto machine = loadSimMachine(machineFile);
    VQTDataMinerBattery miner(machine, machine, machine);
    miner.mineData();
    return joined(miner.getDataSet());
}
const char* const kInitial = "Unknown|0|Unknown|Unknown|0|0%";
const char* const kState = "Power Source State";

TEST(BatteryFamily, ModelNameAndSystemBatteryChooseTheFamily) {
    const json battery = smart({{"CurrentCapacity", 1}, {"MaxCapacity", 2}, {"DesignCapacity", 2}});
    const json source = {{{"Transport Type", "Internal"}, {"Current Capacity", 76}}};
    const std::tuple<json, bool, std::string> cases[] = {
        {{{"model", "PowerBook5,8 MacBook"}, {"registry", battery}, {"powerSources", source}}, true, "76%"},
        {{{"model", "MacBookPro5,1"}, {"registry", battery}, {"powerSources", source}}, true, "50%"},
        {{{"model", "ThinkPad X1 Carbon"}, {"registry", battery}}, true, "50%"},
        {{{"model", "ThinkPad X1 Carbon"}, {"registry", json::array()}, {"powerSources", source}}, false, "0"},
        {{{"registry", battery}, {"powerSources", source}, {"model", std::string("Mac\0Book", 8)}}, true, "50%"},
        {{{"powerSources", source}}, false, "0"},
    };
    for (const auto& [file, laptop, charge] : cases) {
        auto machine = loadSimMachine(file);
        VQTDataMinerBattery miner(machine, machine, machine);
        EXPECT_EQ(miner.isLaptop(), laptop) << file;
        miner.mineData();
        EXPECT_EQ(miner.getDataSet()[1], charge) << file;
        EXPECT_TRUE(laptop || joined(miner.getDataSet()) == kInitial) << file;
    }
    // Decided afresh at each call: a renamed machine changes family.
    auto machine = loadSimMachine({{"model", "PowerMac7,3"}, {"powerSources", source}});
    VQTDataMinerBattery miner(machine, machine, machine);
    machine->model = "PowerBook6,8";
    EXPECT_TRUE(miner.isLaptop());
    miner.mineData();
    EXPECT_EQ(miner.getDataSet()[1], "76%");
}

TEST(BatteryMacBook, DecisionListCapacitiesAndTimes) {
    const json base = {{"CurrentCapacity", 3900}, {"MaxCapacity", 4560}, {"DesignCapacity", 4800}, {"CycleCount", 212}};
    const auto with = [&](json more) { json p = base; p.update(more); return p; };
    const std::pair<json, std::string> cases[] = {
        {with({{"Amperage", -1480}, {"TimeRemaining", 65}}), "1:05 remaining|86%|Battery|Draining|212|95% (4560mAh)"},
        {with({{"Amperage", -300}, {"TimeRemaining", 9}}), "0:09 remaining|86%|Battery|Draining|212|95% (4560mAh)"},
        {with({{"ExternalConnected", 1}, {"IsCharging", 1}, {"Amperage", 1200}, {"TimeRemaining", 70}}),
         "1:10 until charged|86%|AC Power|Charging|212|95% (4560mAh)"},
        {with({{"ExternalConnected", 1}, {"FullyCharged", 1}, {"MaxCapacity", 5000}}),
         "Charged|78%|AC Power|Charged|212|100% (5000mAh)"},
        {with({{"ExternalConnected", 1}}), "Calculating|86%|AC Power|Draining|212|95% (4560mAh)"},
        {with({{"IsCharging", 1}}), "Calculating|86%|Battery|Charging|212|95% (4560mAh)"},
        {with({{"FullyCharged", 1}, {"Amperage", -5}, {"TimeRemaining", 300}}),
         "5:00 remaining|86%|Battery|Draining|212|95% (4560mAh)"},
        // Zero or missing capacities keep the charge and health placeholders.
        {with({{"MaxCapacity", 0}, {"Amperage", -1}, {"TimeRemaining", 0}}), "0:00 remaining|0|Battery|Draining|212|0%"},
        {{{"CurrentCapacity", 10}, {"MaxCapacity", 40}, {"Amperage", -1}}, "Calculating|25%|Battery|Draining|0|0%"},
        // An overfull pack reads full, and is not healthier than new.
        {with({{"CurrentCapacity", 5500}, {"MaxCapacity", 5000}, {"ExternalConnected", 1}, {"FullyCharged", 1}}),
         "Charged|100%|AC Power|Charged|212|100% (5000mAh)"},
    };
    for (const auto& [properties, expected] : cases)
        EXPECT_EQ(mineOnce({{"model", "MacBookPro5,1"}, {"registry", smart(properties)}}), expected) << properties;
    json unreadable = smart(base);
    unreadable[0]["propertiesFail"] = true;
    EXPECT_EQ(mineOnce({{"model", "MacBook1,1"}, {"registry", unreadable}}), kInitial);
    EXPECT_EQ(mineOnce({{"model", "MacBook1,1"}, {"registry", smart(base)}, {"registryFailsFor", {"AppleSmartBattery"}}}),
              kInitial);
}

TEST(BatteryPowerBook, SourceStatesAndMissingInternalSource) {
    const auto internal = [](json more) {
        json d = {{"Transport Type", "Internal"}, {"Current Capacity", 76}, {"Time to Full Charge", -1}};
        d.update(more);
        return json::array({{{"Transport Type", "USB"}, {"Current Capacity", 5}}, d});
    };
    const std::pair<json, std::string> cases[] = {
        {internal({{kState, "AC Power"}, {"Time to Full Charge", 42}}), "0:42 until charged|76%|AC Power|Charging"},
        {internal({{kState, "AC Power"}, {"Is Charging", true}}), "Calculating|76%|AC Power|Charging"},
        {internal({{kState, "AC Power"}}), "Charged|76%|AC Power|Charged"},
        {internal({{kState, "Battery Power"}, {"Time to Empty", 65}}), "1:05 remaining|76%|Battery|Draining"},
        {internal({{kState, "Battery Power"}, {"Time to Empty", -1}}), "Calculating|76%|Battery|Draining"},
        {internal({{kState, "Off Line"}}), "Unknown|76%|Unknown|Unknown"},
        {json::array({{{"Transport Type", "USB"}, {"Current Capacity", 5}}}), "Unknown|0%|Unknown|Unknown"},
        {nullptr, "Unknown|0%|Unknown|Unknown"},
    };
    for (const auto& [sources, expected] : cases) {
        json file = {{"model", "PowerBook5,8"}, {"registry", {entry(1, "IOPMrootDomain", info(388, 4100, 4400))}}};
        if (!sources.is_null()) file["powerSources"] = sources;
        EXPECT_EQ(mineOnce(file), expected + "|388|93% (4100mA)") << sources;
    }
}

TEST(BatteryPowerBook, CyclesAndCapacityFromPowerManagement) {
    const json emptyRoot = entry(1, "IOPMrootDomain", {{"IOBatteryInfo", json::array({json::object()})}});
    const auto root = [](int n, int capacity, int max) { return entry(1, "IOPMrootDomain", info(n, capacity, max)); };
    const std::pair<json, std::string> cases[] = {
        {json::array({root(388, 4100, 4400)}), "388|93% (4100mA)"},
        {json::array({emptyRoot, entry(2, "AppleSMUDevice", info(388, 4100, 4400))}), "388|93% (4100mAh)"},
        {json::array({root(7, 4500, 4400)}), "7|100% (4500mA)"},
        {json::array({root(7, 4100, 0)}), "7|0%"},
        {json::array({root(7, 0, 4400)}), "7|0%"},
        {json::array({entry(1, "IOPMrootDomain", {{"IOBatteryInfo", {{{"Cycle Count", 3}}}}})}), "3|0%"},
    };
    for (const auto& [registry, expected] : cases)
        EXPECT_EQ(mineOnce({{"model", "PowerBook5,8"}, {"registry", registry}}), "Unknown|0%|Unknown|Unknown|" + expected)
            << registry;
}

TEST(BatteryPowerBook, RegistryIsReadOnTheFirstAndEveryFifthSample) {
    auto machine = loadSimMachine({{"model", "PowerBook5,8"}});
    VQTDataMinerBattery miner(machine, machine, machine);
    std::vector<std::string> shown;
    for (int sample = 1; sample <= 12; ++sample) {
        machine->registry = loadSimMachine({{"registry", {entry(1, "IOPMrootDomain", info(sample, 1, 1))}}})->registry;
        shown.push_back(miner.getPB()[4].get<std::string>());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"1", "1", "1", "1", "1", "6", "6", "6", "6", "6", "11", "11"}));
}

}  // namespace
}  // namespace vq
