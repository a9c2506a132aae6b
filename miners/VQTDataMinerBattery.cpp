#include "miners/VQTDataMinerBattery.h"

#include <algorithm>

#include "miners/text_format.h"
#include "miners/int_value.h"

namespace vq {
namespace {

const char* const kUntilCharged = "until charged";
const char* const kRemaining = "remaining";

Value placeholders() { return Value::array({"Unknown", "0", "Unknown", "Unknown", "0", "0%"}); }

// A property read as an integer; a missing property reads 0.
std::int32_t intProperty(const Value& dictionary, const char* key) {
    return dictionary.contains(key) ? intValue(dictionary[key]) : 0;
}

// A property's display text, the way a number or a string describes itself;
// nullopt when the property is missing or is neither.
std::optional<std::string> describe(const Value& dictionary, const char* key) {
    if (!dictionary.contains(key)) return std::nullopt;
    const Value& v = dictionary[key];
    if (v.is_number_integer()) return formatText("%lld", static_cast<long long>(v.get<std::int64_t>()));
    if (v.is_number_float()) return formatText("%g", v.get<double>());
    if (v.is_string()) return v.get<std::string>();
    return std::nullopt;
}

// part / whole × 100 in single precision, truncated toward zero and capped at
// 100. nullopt when either capacity is missing or zero: the health is then
// unknown rather than NaN, infinite or a dead battery's 0 %.
std::optional<std::int32_t> healthPercent(const Value& dictionary, const char* part, const char* whole) {
    const std::int32_t divisor = intProperty(dictionary, whole);
    if (divisor == 0 || intProperty(dictionary, part) == 0) return std::nullopt;
    float share = static_cast<float>(intProperty(dictionary, part)) / static_cast<float>(divisor) * 100.0f;
    if (share > 100.0f) share = 100.0f;
    if (share < -2147483520.0f) share = -2147483520.0f;  // keeps the conversion defined
    return static_cast<std::int32_t>(share);
}

}  // namespace

VQTDataMinerBattery::VQTDataMinerBattery(std::shared_ptr<MachineInfo> machine, std::shared_ptr<IORegistry> registry,
                                         std::shared_ptr<PowerSources> powerSources)
    : machine_(std::move(machine)), registry_(std::move(registry)), powerSources_(std::move(powerSources)) {
    isLaptop();
    latestData = placeholders();
}

bool VQTDataMinerBattery::isLaptop() {
    const std::string name = machine_ ? machine_->modelName().value_or("") : "";
    // The name is used up to its first NUL, as a C string would be.
    const std::string model = name.substr(0, name.find('\0'));
    if (model.find("PowerBook") != std::string::npos) {
        type = 0;
    } else if (model.find("MacBook") != std::string::npos) {
        type = 1;
    } else {
        // Machines of other makers: a system battery makes them laptops read
        // the way the smart battery is read.
        const auto batteries = registry_ ? registry_->matchingServicesByName("AppleSmartBattery") : std::nullopt;
        type = (batteries && !batteries->empty()) ? 1 : -1;
    }
    return type == 0 || type == 1;
}

void VQTDataMinerBattery::mineData() {
    if (type == 0) {
        getPB();
    } else if (type == 1) {
        getMBP();
    }
}

std::string VQTDataMinerBattery::formatTime(std::int32_t t, const char* words) {
    const std::int32_t hours = t / 60;
    const std::int32_t minutes = t - 60 * hours;
    if (minutes > 9) return formatText("%i:%i %s", hours, minutes, words);
    return formatText("%i:0%i %s", hours, minutes, words);
}

void VQTDataMinerBattery::getMBP() {
    const auto entries = registry_ ? registry_->matchingServicesByName("AppleSmartBattery") : std::nullopt;
    if (!entries) {
        latestData = placeholders();
        return;
    }
    // These starting texts are the placeholders, so a walk that reads no
    // entry leaves the placeholder data set.
    std::string time = "Unknown", charge = "0", source = "Unknown", state = "Unknown", cycles = "0";
    std::string health = "0%";
    for (RegistryEntryId id : *entries) {
        const auto properties = registry_->properties(id);
        if (!properties || !properties->is_object()) continue;
        const Value& p = *properties;

        // Without a full capacity the charge keeps its "0" placeholder, and
        // without a design capacity the health its "0%" one.
        const std::int32_t maxCapacity = intProperty(p, "MaxCapacity");
        if (maxCapacity != 0) {
            // A pack can report more than its full charge; it reads 100 %.
            const float share = std::clamp(
                static_cast<float>(intProperty(p, "CurrentCapacity")) / static_cast<float>(maxCapacity), 0.0f, 1.0f);
            charge = formatText("%.0f%%", static_cast<double>(100.0f * share));
        } else {
            charge = "0";
        }
        const auto percent = healthPercent(p, "MaxCapacity", "DesignCapacity");
        health = percent ? formatText("%i%% (%imAh)", *percent, maxCapacity) : "0%";
        cycles = formatText("%i", intProperty(p, "CycleCount"));
        const bool external = intProperty(p, "ExternalConnected") == 1;
        source = external ? "AC Power" : "Battery";

        const std::int32_t amperage = intProperty(p, "Amperage");
        const bool charging = intProperty(p, "IsCharging") == 1;
        const bool notCharging = intProperty(p, "IsCharging") == 0;
        if (intProperty(p, "FullyCharged") == 1) {
            time = "Charged";
            state = "Charged";
            if (external) continue;
        }
        if (amperage == 0) {
            time = "Calculating";
            state = "Charging";
            if (charging) continue;
        }
        if (notCharging) {
            time = "Calculating";
            state = "Draining";
            if (amperage >= 0) continue;
        }
        if (external) {
            time = "Calculating";
            state = "Draining";
            if (amperage < 0) continue;
        }
        state = charging ? "Charging" : "Draining";
        // A battery that cannot tell its time (no rate, or a percentage
        // alone) is still calculating, not about to run out.
        time = p.contains("TimeRemaining")
                   ? formatTime(intProperty(p, "TimeRemaining"), charging ? kUntilCharged : kRemaining)
                   : "Calculating";
    }
    latestData = Value::array({time, charge, source, state, cycles, health});
}

const Value& VQTDataMinerBattery::getPB() {
    std::optional<Value> internal;
    const auto sources = powerSources_ ? powerSources_->powerSourceDescriptions() : std::nullopt;
    if (sources) {
        for (const Value& description : *sources) {
            if (description.is_object() && description.value("Transport Type", Value()) == "Internal") {
                internal = description;
                break;
            }
        }
    }
    std::string time = "Unknown", charge = "0%", source = "Unknown", state = "Unknown";
    if (internal) {
        const Value& d = *internal;
        charge = describe(d, "Current Capacity").value_or("0") + "%";
        const Value powerState = d.value("Power Source State", Value());
        if (powerState == "AC Power") {
            source = "AC Power";
            const std::int32_t toFull = intProperty(d, "Time to Full Charge");
            if (toFull < 0) {
                if (intProperty(d, "Is Charging") != 0) {
                    time = "Calculating";
                    state = "Charging";
                } else {
                    time = "Charged";
                    state = "Charged";
                }
            } else {
                state = "Charging";
                time = formatTime(toFull, kUntilCharged);
            }
        }
        if (powerState == "Battery Power") {
            source = "Battery";
            state = "Draining";
            const std::int32_t toEmpty = intProperty(d, "Time to Empty");
            time = toEmpty >= 0 ? formatTime(toEmpty, kRemaining) : "Calculating";
        }
    }
    getCycles();
    latestData = Value::array({time, charge, source, state, theCycles, theCapcity});
    return latestData;
}

std::string VQTDataMinerBattery::getCycles() {
    if (cyclePos == 5) cyclePos = 0;
    if (cyclePos == 0) updateCycles();
    ++cyclePos;
    return theCycles;
}

void VQTDataMinerBattery::updateCycles() {
    // Each power-management source reports the same figure under its own unit.
    const auto walk = [this](const std::vector<RegistryEntryId>& entries, const char* capacityFormat) {
        bool found = false;
        for (RegistryEntryId id : entries) {
            const auto properties = registry_->properties(id);
            if (!properties || !properties->is_object() || !properties->contains("IOBatteryInfo")) continue;
            const Value& list = (*properties)["IOBatteryInfo"];
            if (!list.is_array() || list.empty() || !list[0].is_object() || list[0].empty()) continue;
            const Value& info = list[0];
            theCycles = describe(info, "Cycle Count").value_or("0");
            const auto percent = healthPercent(info, "Capacity", "AbsoluteMaxCapacity");
            theCapcity = percent ? formatText(capacityFormat, *percent, intProperty(info, "Capacity")) : "0%";
            found = true;
        }
        return found;
    };
    const auto failed = [this] {
        theCycles = "0";
        theCapcity = "0%";
    };
    if (!registry_) return failed();
    const auto rootDomain = registry_->matchingServices("IOPMrootDomain", Value::object());
    if (!rootDomain) return failed();
    if (walk(*rootDomain, "%i%% (%imA)")) return;
    const auto smu = registry_->matchingServices("AppleSMUDevice", Value::object());
    if (!smu) return failed();
    walk(*smu, "%i%% (%imAh)");
}

}  // namespace vq
