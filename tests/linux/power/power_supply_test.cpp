// The battery of <sys>/class/power_supply: fixture trees of several laptops and a desktop read through the
// registry's battery entry, the unit conversions and how batteries combine, and files that vanish.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <ranges>

#include "platform/linux/drives/linux_io_registry.h"
#include "platform/linux/power/power_supply.h"

namespace vq::linux_platform {
namespace {

const std::string kLinux = VELQUETTE_FIXTURES "/linux";
using nlohmann::json;

// The battery entry's properties as a registry query answers them; null without an entry.
json registryBattery(const std::string& sys) {
    LinuxIORegistry registry(Roots{kLinux + "/missing-proc", sys, kLinux + "/missing-udev"});
    const auto byName = registry.matchingServicesByName("AppleSmartBattery");
    const auto byClass = registry.matchingServices("AppleSmartBattery", json::object());
    EXPECT_EQ(byName, byClass);
    if (!byName || byName->size() != 1) return byName && byName->empty() ? json() : json("bad entry count");
    EXPECT_TRUE(registry.conformsTo(byName->front(), "AppleSmartBattery"));
    return registry.properties(byName->front()).value_or(json("no properties"));
}

const json kDell = json::parse(R"({"CurrentCapacity": 4342, "MaxCapacity": 7237, "DesignCapacity": 7895,
    "CycleCount": 210, "ExternalConnected": 0, "IsCharging": 0, "FullyCharged": 0, "Amperage": -1375,
    "TimeRemaining": 180})");

TEST(PowerSupply, FixtureTreesGiveTheBatteryAPersonExpects) {
    const std::pair<const char*, const char*> cases[] = {
        // Both bays add up; 0.9 Ah to go at 0.95 A. The idle bay is Full, the machine is charging.
        {"power-thinkpad-two-batteries", R"({"CurrentCapacity": 6700, "MaxCapacity": 7600, "DesignCapacity": 8000,
            "CycleCount": 120, "ExternalConnected": 1, "IsCharging": 1, "FullyCharged": 0, "Amperage": 950,
            "TimeRemaining": 57})"},
        {"power-dell-energy", nullptr},
        // No design voltage: energies come from the present voltage.
        {"power-macbook", R"({"CurrentCapacity": 3900, "MaxCapacity": 7800, "DesignCapacity": 8440,
            "CycleCount": 312, "ExternalConnected": 1, "IsCharging": 1, "FullyCharged": 0, "Amperage": 1950,
            "TimeRemaining": 120})"},
        {"power-fully-charged", R"({"CurrentCapacity": 3896, "MaxCapacity": 3896, "DesignCapacity": 4329,
            "CycleCount": 80, "ExternalConnected": 1, "IsCharging": 0, "FullyCharged": 1, "Amperage": 0})"},
        // Held at a charge threshold on a USB-C charger; no cycle count file.
        {"power-usb-c-charger", R"({"CurrentCapacity": 5000, "MaxCapacity": 6250, "DesignCapacity": 6500,
            "ExternalConnected": 1, "IsCharging": 0, "FullyCharged": 1, "Amperage": 0})"},
        {"power-desktop-mouse", "null"},
        {"no-such-tree", "null"},
    };
    for (const auto& [tree, expected] : cases)
        EXPECT_EQ(registryBattery(kLinux + "/" + tree), expected ? json::parse(expected) : kDell) << tree;
}

TEST(PowerSupply, UnitConversionsAndCombination) {
    using S = SupplyAttributes;
    const S mainsOff{{"type", "Mains\n"}, {"online", "0\n"}};
    const std::pair<std::vector<S>, const char*> cases[] = {
        // No voltage at all: no capacity in mAh nor current, but the time from energy and power.
        {{{{"type", "Battery"}, {"status", "Discharging"}, {"energy_now", "10000000"}, {"energy_full", "20000000"},
           {"power_now", "5000000"}}},
         R"({"IsCharging": 0, "FullyCharged": 0, "TimeRemaining": 120})"},
        // A driver that reports the current negative; 15 Wh at 5 W.
        {{{{"type", "Battery"}, {"status", "Discharging"}, {"charge_now", "1500000"}, {"current_now", "-500000"},
           {"voltage_now", "10000000"}}},
         R"({"CurrentCapacity": 1500, "IsCharging": 0, "FullyCharged": 0, "Amperage": -500, "TimeRemaining": 180})"},
        // Rounded to the nearest mAh; a garbled value is left out, padding is not.
        {{{{"type", "Battery\n"}, {"energy_now", "10000000\n"}, {"energy_full", "20000000"},
           {"voltage_min_design", "3000000"}, {"charge_full_design", "12abc\n"}, {"cycle_count", " 7\n"}}},
         R"({"CurrentCapacity": 3333, "MaxCapacity": 6667, "CycleCount": 7})"},
        // A charge that cannot be read comes from the driver's percentage of the full charge.
        {{{{"type", "Battery"}, {"charge_full", "2000000"}, {"capacity", "40"}}},
         R"({"CurrentCapacity": 800, "MaxCapacity": 2000})"},
        // An empty bay counts for nothing; a bay that does not know a figure hides the sum.
        {{{{"type", "Battery"}, {"present", "0"}},
          {{"type", "Battery"}, {"charge_now", "1000000"}, {"charge_full", "2000000"}},
          {{"type", "Battery"}, {"charge_full", "3000000"}, {"cycle_count", "9"}}},
         R"({"MaxCapacity": 5000, "CycleCount": 9})"},
        // "Not charging" away from external power is not charged; charging bays add up.
        {{{{"type", "Battery"}, {"status", "Not charging"}}, mainsOff},
         R"({"ExternalConnected": 0, "IsCharging": 0, "FullyCharged": 0})"},
        {{{{"type", "Battery"}, {"status", "Charging"}, {"current_now", "300000"}},
          {{"type", "Battery"}, {"status", "Discharging"}, {"current_now", "100000"}}, mainsOff,
          {{"type", "USB"}, {"online", "1"}}},
         R"({"ExternalConnected": 1, "IsCharging": 1, "FullyCharged": 0, "Amperage": 200})"},
        // Only device batteries and an empty bay: no system battery. Names do not choose.
        {{{{"type", "Battery"}, {"scope", "Device"}, {"charge_now", "1"}}, {{"type", "Battery"}, {"present", "0"}},
          {{"type", "Mains"}, {"online", "1"}}},
         "null"},
    };
    for (const auto& [supplies, expected] : cases)
        EXPECT_EQ(combinedBattery(supplies).value_or(json()), json::parse(expected)) << expected;
}

// A battery's files written as "name=value" words.
SupplyAttributes battery(std::string_view files) {
    SupplyAttributes supply{{"type", "Battery"}};
    for (const auto word : std::views::split(files, ' ')) {
        const std::string file(word.begin(), word.end());
        supply[file.substr(0, file.find('='))] = file.substr(file.find('=') + 1);
    }
    return supply;
}

// The time is what is left (or missing) over the rate, in one unit system. Each figure below is worked out by hand
// from the files; the two voltages of a battery differ, so that a time that mixes them is off.
TEST(PowerSupply, TimeComesFromOneUnitSystem) {
    const SupplyAttributes mainsOn{{"type", "Mains"}, {"online", "1"}};
    const std::pair<std::vector<SupplyAttributes>, int> cases[] = {
        // Charge only, two packs: (1 + 2) Ah at (0.4 + 0.6) A is 3 h.
        {{battery("status=Discharging charge_now=1000000 current_now=400000 voltage_min_design=10800000 "
                  "voltage_now=12000000"),
          battery("status=Discharging charge_now=2000000 current_now=600000 voltage_min_design=11100000 "
                  "voltage_now=11900000")},
         180},
        // Charging the last (7 - 4) Ah at 2 A is 1.5 h.
        {{battery("status=Charging charge_now=4000000 charge_full=7000000 current_now=2000000 "
                  "voltage_min_design=11200000 voltage_now=12600000"),
          mainsOn},
         90},
        // Energy only: 30 Wh at 12 W is 2.5 h; the current is not needed.
        {{battery("status=Discharging energy_now=30000000 current_now=1000000 power_now=12000000 voltage_now=11000000")},
         150},
        // Energy with only a current: the power is 1 A at the present 10 V; 20 Wh is 2 h.
        {{battery("status=Discharging energy_now=20000000 current_now=1000000 voltage_now=10000000")}, 120},
        // Both units: the charge gives the time, 2 Ah at 1 A (the energies would say 30 Wh at 20 W, 1.5 h).
        {{battery("status=Discharging charge_now=2000000 energy_now=30000000 current_now=1000000 power_now=20000000 "
                  "voltage_now=15000000")},
         120},
        // Different units: 2 Ah and 1 A at the pack's 10 V are 20 Wh and 10 W; with 40 Wh at 10 W, 60 Wh at 20 W.
        {{battery("status=Discharging charge_now=2000000 current_now=1000000 voltage_min_design=10000000 "
                  "voltage_now=12000000"),
          battery("status=Discharging energy_now=40000000 power_now=10000000")},
         180},
        // Different units, but the charge pack has no voltage to convert with: no time.
        {{battery("status=Discharging charge_now=2000000 current_now=1000000"),
          battery("status=Discharging energy_now=40000000 power_now=10000000")},
         -1},
        // An overfull pack charging has nothing left to charge.
        {{battery("status=Charging charge_now=5500000 charge_full=5000000 current_now=100000"), mainsOn}, 0},
    };
    for (const auto& [supplies, minutes] : cases) {
        const json combined = combinedBattery(supplies).value_or(json());
        EXPECT_EQ(combined.value("TimeRemaining", -1), minutes) << combined;
    }
}

// The charge never reads above its full figure, and a battery known only by its percentage reports that.
TEST(PowerSupply, ChargeOfOverfullAndPercentOnlyBatteries) {
    const std::pair<std::vector<SupplyAttributes>, const char*> cases[] = {
        {{battery("status=Full charge_now=5500000 charge_full=5000000 charge_full_design=4800000 capacity=110")},
         R"({"CurrentCapacity": 5000, "MaxCapacity": 5000, "DesignCapacity": 4800, "IsCharging": 0,
             "FullyCharged": 1})"},
        {{battery("energy_now=60000000 energy_full=50000000 voltage_now=10000000")},
         R"({"CurrentCapacity": 5000, "MaxCapacity": 5000})"},
        // No charge files: the percentage on a scale of 100, and no design figure for a health.
        {{battery("status=Discharging capacity=57 charge_full_design=3000000 cycle_count=4")},
         R"({"CurrentCapacity": 57, "MaxCapacity": 100, "CycleCount": 4, "IsCharging": 0, "FullyCharged": 0})"},
        {{battery("capacity=110")}, R"({"CurrentCapacity": 100, "MaxCapacity": 100})"},
        {{battery("charge_full=2000000 capacity=40"), battery("capacity=60")},
         R"({"CurrentCapacity": 50, "MaxCapacity": 100})"},
        {{battery("capacity=-3")}, R"({})"},
    };
    for (const auto& [supplies, expected] : cases)
        EXPECT_EQ(combinedBattery(supplies).value_or(json()), json::parse(expected)) << expected;
}

}  // namespace
}  // namespace vq::linux_platform
