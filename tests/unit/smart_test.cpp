#include <gtest/gtest.h>

#include <fstream>
#include <numeric>

#include "bridge/Velquette.h"
#include "bridge/script_table.h"
#include "platform/sim/sim_machine.h"
#include "sensors/VQTSmartController.h"

namespace vq {
namespace {

using nlohmann::json;

json smartMachine() {
    return json::parse(std::ifstream(std::string(VELQUETTE_FIXTURES) + "/machines/smart-disk0.json"));
}

AtaBlock fromHex(const std::string& hex) {
    AtaBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::stoi(hex.substr(2 * i, 2), nullptr, 16);
    return block;
}

std::string toHex(const AtaBlock& block) {
    std::string hex;
    for (auto byte : block) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    return hex;
}

void reseal(AtaBlock& block) {
    block[511] = 0;
    block[511] = static_cast<std::uint8_t>(256 - std::accumulate(block.begin(), block.end(), 0u) % 256);
}

// A SMART data block whose attribute slots (0-based) hold these ids and raw low bytes.
AtaBlock attributes(std::initializer_list<std::tuple<int, int, int>> slots) {
    AtaBlock block{};
    for (auto [slot, id, raw] : slots) {
        block[2 + 12 * slot] = static_cast<std::uint8_t>(id);
        block[2 + 12 * slot + 5] = static_cast<std::uint8_t>(raw);
    }
    return block;
}

TEST(SmartBlocks, IdentifyIntegrityAndTheTemperatureAttribute) {
    const AtaBlock identify = fromHex(smartMachine()["smart"]["identify"]);
    EXPECT_EQ(VQTSmartController::VerifyIdentifyData(identify), 0);
    for (std::size_t changed : {0, 54, 164, 300, 511}) {
        AtaBlock block = identify;
        block[changed] ^= 0x10;
        EXPECT_NE(VQTSmartController::VerifyIdentifyData(block), 0) << changed;
    }
    AtaBlock unsigned_ = identify;
    unsigned_[510] = 0;
    EXPECT_EQ(VQTSmartController::VerifyIdentifyData(unsigned_), 255);

    const std::pair<AtaBlock, std::optional<unsigned>> temperatures[] = {
        {attributes({{0, 1, 9}, {1, 9, 7}, {2, 194, 0x2A}}), 42},
        {attributes({{0, 194, 30}, {3, 194, 50}}), 30},
        {attributes({{4, 194, 0xC8}}), 200},
        {attributes({{29, 194, 33}}), 33},  // the last of the 30 slots
        {attributes({{0, 190, 41}, {30, 194, 33}}), std::nullopt},
    };
    for (const auto& [block, expected] : temperatures) EXPECT_EQ(smartTemperature(block), expected);
}

TEST(SmartController, EachFailingStepLeavesItsEntry) {
    const json machine = smartMachine();
    AtaBlock unsupported = fromHex(machine["smart"]["identify"]);
    unsupported[164] &= 0xFE;
    reseal(unsupported);
    AtaBlock noSignature = fromHex(machine["smart"]["identify"]);
    noSignature[510] = 0x5A;
    reseal(noSignature);
    const std::string none = toHex(attributes({{0, 9, 1}, {1, 12, 2}}));

    const json model = {{"model", "HD: Workhorse"}};
    const json full = {{"model", "HD: Workhorse"}, {"deviceTemp", 35}};
    // Change to the machine's "smart" object, expected data set, whether the
    // SMART steps ran (and so were closed by both disable steps).
    const std::tuple<json, json, bool> cases[] = {
        {json::object(), json::array({full}), true},
        {{{"failStep", "plugIn"}}, json::array(), false},
        {{{"failStep", "interface"}}, json::array(), false},
        {{{"failStep", "identify"}}, json::array({json::object()}), false},
        {{{"identify", toHex(noSignature)}}, json::array({json::object()}), false},
        {{{"identify", toHex(unsupported)}}, json::array({model}), false},
        {{{"failStep", "enable"}}, json::array({model}), true},
        {{{"failStep", "autosave"}}, json::array({model}), true},
        {{{"failStep", "returnStatus"}}, json::array({model}), true},
        {{{"failStep", "readData"}}, json::array({model}), true},
        {{{"failStep", "validate"}}, json::array({model}), true},
        {{{"smartData", none}}, json::array({model}), true},
    };
    for (const auto& [change, expected, smartSteps] : cases) {
        json file = machine;
        file["smart"].update(change);
        auto sim = loadSimMachine(file);
        VQTSmartController controller(sim, sim->smart, sim);
        EXPECT_TRUE(controller.getDataSet().is_null());
        controller.update();
        EXPECT_EQ(controller.getDataSet(), expected) << change;
        // Only disk0's drive is examined, although disk1's is SMART capable too.
        EXPECT_EQ(sim->smart->operations.front(), "plugIn disk0") << change;
        const std::vector<std::string> closing = {"autosave off", "enable off"};
        const bool closed = sim->smart->operations.size() >= 2 &&
                            std::equal(closing.begin(), closing.end(), sim->smart->operations.end() - 2);
        EXPECT_EQ(closed, smartSteps) << change;
    }
}

TEST(SmartController, FindsTheFirstDiskBySearchAndFallback) {
    const json machine = smartMachine();
    const std::pair<std::function<void(json&)>, json> cases[] = {
        {[](json&) {}, json::array({{{"model", "HD: Workhorse"}, {"deviceTemp", 35}}})},
        // No drive claims SMART: drives of the ATA storage class are tried.
        {[](json& m) {
             for (auto& e : m["registry"])
                 if (e.contains("properties")) e["properties"].erase("SMART Capable");
             m["registry"][3]["classes"] = {"IOATABlockStorageDevice"};
         },
         json::array({{{"model", "HD: Workhorse"}, {"deviceTemp", 35}}})},
        {[](json& m) { m["registry"][5]["properties"]["BSD Name"] = "disk2"; }, json::array()},
        {[](json& m) { m.erase("registry"); }, json::array()},
        {[](json& m) { m.erase("smart"); }, json::array()},
    };
    for (const auto& [change, expected] : cases) {
        json file = machine;
        change(file);
        auto sim = loadSimMachine(file);
        VQTSmartController controller(sim, sim->smart, sim);
        controller.update();
        EXPECT_EQ(controller.getDataSet(), expected);
    }
}

TEST(SmartController, TheBridgeRefreshesDrivesOnlyWhenAsked) {
    auto sim = loadSimMachine(smartMachine());
    Velquette object(makeSimPlatform(sim));
    auto refreshes = [&] { return std::count(sim->smart->operations.begin(), sim->smart->operations.end(), "plugIn disk0"); };
    auto temps = [&](int unit) { return invokeScriptCall(object, "temps", json::array({unit})); };

    EXPECT_EQ(temps(0), json::array());
    invokeScriptCall(object, "setShouldMonitorSMARTTemps", json::array({2}));
    EXPECT_EQ(temps(0), json::array());
    EXPECT_EQ(refreshes(), 0);
    invokeScriptCall(object, "setShouldMonitorSMARTTemps", json::array({1}));
    EXPECT_EQ(temps(0), json::parse(R"([["HD: Workhorse", "35°"]])"));
    EXPECT_EQ(temps(1), json::parse(R"([["HD: Workhorse", "95°"]])"));
    EXPECT_EQ(temps(2), json::parse(R"([["HD: Workhorse", "308K"]])"));
    EXPECT_EQ(refreshes(), 1);
    invokeScriptCall(object, "setNeedsSMARTUpdate", json::array());
    temps(3);
    EXPECT_EQ(refreshes(), 2);
}

}  // namespace
}  // namespace vq
