#include "platform/linux/power/power_supply.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

namespace {

std::optional<std::string_view> text(const SupplyAttributes& supply, std::string_view name) {
    const auto it = supply.find(name);
    if (it == supply.end()) return std::nullopt;
    return trimBlanks(it->second);
}

std::optional<double> number(const SupplyAttributes& supply, std::string_view name) {
    const auto field = text(supply, name);
    if (!field) return std::nullopt;
    const auto value = parseInteger<long long>(*field);
    if (!value) return std::nullopt;
    return static_cast<double>(*value);
}

std::optional<double> positive(std::optional<double> value) {
    if (value && *value > 0) return value;
    return std::nullopt;
}

// One system battery in common units: mAh, Wh, W and mA (rates without sign).
// The time figures stay in the battery's own units (Ah and A for a battery
// that reports charge, Wh and W for one that reports energy), so that a time
// is never the quotient of an energy and a power taken at two voltages.
struct Battery {
    std::optional<double> nowMah, fullMah, designMah, nowWh, fullWh, rateW, currentMa, cycles, percent;
    std::optional<double> timeNow, timeFull, timeRate;
    // Volts that turn this battery's time figures into Wh and W: its design
    // voltage for charge figures, 1 for energy ones.
    std::optional<double> timeToWatts;
    bool chargeUnits = false;
    std::string status;
};

Battery batteryOf(const SupplyAttributes& supply) {
    Battery b;
    // The design voltage converts between charge and energy; drivers that
    // do not report it are taken at their present voltage.
    const auto voltageNow = positive(number(supply, "voltage_now"));
    auto designVolts = positive(number(supply, "voltage_min_design"));
    if (!designVolts) designVolts = voltageNow;
    if (designVolts) *designVolts /= 1e6;

    const auto fromCharge = [&](std::string_view name, std::optional<double>& mah, std::optional<double>* wh) {
        const auto microAh = number(supply, name);
        if (!microAh) return false;
        mah = *microAh / 1e3;
        if (wh && designVolts) *wh = *microAh / 1e6 * *designVolts;
        return true;
    };
    const auto fromEnergy = [&](std::string_view name, std::optional<double>& mah, std::optional<double>* wh) {
        const auto microWh = number(supply, name);
        if (!microWh) return;
        if (wh) *wh = *microWh / 1e6;
        if (designVolts) mah = *microWh / 1e3 / *designVolts;
    };
    // A battery that reports both units is read in charge.
    const bool chargeNow = fromCharge("charge_now", b.nowMah, &b.nowWh);
    if (!chargeNow) fromEnergy("energy_now", b.nowMah, &b.nowWh);
    const bool chargeFull = fromCharge("charge_full", b.fullMah, &b.fullWh);
    if (!chargeFull) fromEnergy("energy_full", b.fullMah, &b.fullWh);
    if (!fromCharge("charge_full_design", b.designMah, nullptr)) fromEnergy("energy_full_design", b.designMah, nullptr);
    // The driver's own percentage, kept within 0 to 100: an overfull pack
    // reports more than 100.
    if (const auto percent = number(supply, "capacity"); percent && *percent >= 0) b.percent = std::min(*percent, 100.0);
    // Without a present charge that percentage of the full one stands in,
    // rather than taking the battery for empty.
    if (!b.nowMah && !b.nowWh && b.percent) {
        if (b.fullMah) b.nowMah = *b.fullMah * *b.percent / 100;
        if (b.fullWh) b.nowWh = *b.fullWh * *b.percent / 100;
    }
    // A pack that holds more than its full charge is full, no more.
    if (b.nowMah && b.fullMah) b.nowMah = std::min(*b.nowMah, *b.fullMah);
    if (b.nowWh && b.fullWh) b.nowWh = std::min(*b.nowWh, *b.fullWh);

    // Some drivers report the rates negative while discharging; the sign
    // comes from the status.
    const auto current = number(supply, "current_now");
    const auto power = number(supply, "power_now");
    if (power) b.rateW = std::abs(*power) / 1e6;
    else if (current && voltageNow) b.rateW = std::abs(*current) / 1e6 * *voltageNow / 1e6;
    if (current) b.currentMa = std::abs(*current) / 1e3;
    else if (power && voltageNow) b.currentMa = std::abs(*power) / *voltageNow * 1e3;

    b.chargeUnits = chargeNow || (chargeFull && !number(supply, "energy_now"));
    if (b.chargeUnits) {
        if (b.nowMah) b.timeNow = *b.nowMah / 1e3;
        if (b.fullMah) b.timeFull = *b.fullMah / 1e3;
        if (b.currentMa) b.timeRate = *b.currentMa / 1e3;
        b.timeToWatts = designVolts;
    } else {
        b.timeNow = b.nowWh;
        b.timeFull = b.fullWh;
        b.timeRate = b.rateW;
        b.timeToWatts = 1.0;
    }

    b.cycles = number(supply, "cycle_count");
    b.status = std::string(text(supply, "status").value_or(""));
    return b;
}

// The sum over all batteries, unknown when any of them does not know it.
template <typename F>
std::optional<double> total(const std::vector<Battery>& batteries, F member) {
    double sum = 0;
    for (const Battery& b : batteries) {
        const std::optional<double>& value = member(b);
        if (!value) return std::nullopt;
        sum += *value;
    }
    return sum;
}

}  // namespace

const std::vector<std::string>& batteryAttributeNames() {
    static const std::vector<std::string> names = {
        "present",     "status",      "charge_now",         "charge_full", "charge_full_design",
        "energy_now",  "energy_full", "energy_full_design", "voltage_now", "voltage_min_design",
        "current_now", "power_now",   "cycle_count",        "capacity"};
    return names;
}

std::optional<nlohmann::json> combinedBattery(const std::vector<SupplyAttributes>& supplies) {
    std::vector<Battery> batteries;
    std::optional<bool> external;
    for (const SupplyAttributes& supply : supplies) {
        const auto type = text(supply, "type");
        if (type == "Mains" || type == "USB") {
            if (const auto online = number(supply, "online")) external = external.value_or(false) || *online != 0;
        } else if (type == "Battery" && text(supply, "scope") != "Device" && number(supply, "present") != 0.0) {
            batteries.push_back(batteryOf(supply));
        }
    }
    if (batteries.empty()) return std::nullopt;

    nlohmann::json properties = nlohmann::json::object();
    const auto put = [&](const char* key, std::optional<double> value) {
        if (value) properties[key] = std::lround(*value);
    };
    put("CurrentCapacity", total(batteries, [](const Battery& b) -> auto& { return b.nowMah; }));
    put("MaxCapacity", total(batteries, [](const Battery& b) -> auto& { return b.fullMah; }));
    put("DesignCapacity", total(batteries, [](const Battery& b) -> auto& { return b.designMah; }));
    // The combined battery is as worn as its most cycled part.
    std::optional<double> cycles;
    for (const Battery& b : batteries)
        if (b.cycles) cycles = std::max(cycles.value_or(0), *b.cycles);
    put("CycleCount", cycles);
    if (external) properties["ExternalConnected"] = *external ? 1 : 0;

    const auto any = [&](std::string_view status) {
        return std::any_of(batteries.begin(), batteries.end(), [&](const Battery& b) { return b.status == status; });
    };
    const bool statusKnown = std::any_of(batteries.begin(), batteries.end(), [](const Battery& b) { return !b.status.empty(); });
    const bool charging = any("Charging");
    const bool discharging = any("Discharging");
    if (statusKnown) {
        // "Not charging" on external power is a battery held at its charge
        // threshold: charged as far as it will go.
        const bool full = std::all_of(batteries.begin(), batteries.end(), [&](const Battery& b) {
            return b.status.empty() || b.status == "Full" || (b.status == "Not charging" && external == true);
        });
        properties["IsCharging"] = charging ? 1 : 0;
        properties["FullyCharged"] = full ? 1 : 0;
    }

    std::optional<double> amperage = 0.0;
    for (const Battery& b : batteries) {
        if (!b.currentMa) amperage.reset();
        else if (amperage) *amperage += b.status == "Discharging" ? -*b.currentMa : *b.currentMa;
    }
    put("Amperage", amperage);

    // Hours as what is left (or missing) over the rate. Batteries that all
    // report charge add up in Ah and A; otherwise each one's figures become
    // Wh and W at its own single voltage. No figure while the rate is 0.
    const bool allCharge = std::all_of(batteries.begin(), batteries.end(), [](const Battery& b) { return b.chargeUnits; });
    const auto inCommonUnits = [&](std::optional<double> Battery::*member) {
        return total(batteries, [&](const Battery& b) -> std::optional<double> {
            if (!(b.*member)) return std::nullopt;
            if (allCharge) return b.*member;
            if (!b.timeToWatts) return std::nullopt;
            return *(b.*member) * *b.timeToWatts;
        });
    };
    const auto rate = inCommonUnits(&Battery::timeRate);
    const auto now = inCommonUnits(&Battery::timeNow);
    const auto full = inCommonUnits(&Battery::timeFull);
    if (rate && *rate > 0 && now) {
        if (charging && full) put("TimeRemaining", std::max(0.0, *full - *now) / *rate * 60);
        else if (discharging && !charging) put("TimeRemaining", *now / *rate * 60);
    }

    // Batteries whose charge is known only as the driver's percentage (no
    // charge or energy files at all) report it on a scale whose full charge
    // is 100, without a design figure, so that the health stays unknown.
    const bool percentOnly = !properties.contains("CurrentCapacity") || !properties.contains("MaxCapacity");
    const auto percent = total(batteries, [](const Battery& b) -> auto& { return b.percent; });
    if (percentOnly && percent) {
        properties["CurrentCapacity"] = std::lround(*percent / static_cast<double>(batteries.size()));
        properties["MaxCapacity"] = 100;
        properties.erase("DesignCapacity");
    }
    return properties;
}

std::vector<SupplyAttributes> readPowerSupplies(const std::string& sysRoot, SupplyDetail detail) {
    const std::string classDir = sysRoot + "/class/power_supply/";
    auto names = listDirectory(classDir).value_or(std::vector<std::string>{});
    std::sort(names.begin(), names.end());
    std::vector<SupplyAttributes> supplies;
    for (const std::string& name : names) {
        const std::string dir = classDir + name + "/";
        SupplyAttributes supply;
        const auto read = [&](const std::string& file) {
            if (auto content = readWholeFile(dir + file)) supply.emplace(file, std::move(*content));
        };
        read("type");
        const auto type = text(supply, "type");
        if (type == "Mains" || type == "USB") {
            read("online");
        } else if (type == "Battery") {
            read("scope");
            if (text(supply, "scope") != "Device") {
                if (detail == SupplyDetail::Presence) read("present");
                else
                    for (const std::string& file : batteryAttributeNames()) read(file);
            }
        }
        supplies.push_back(std::move(supply));
    }
    return supplies;
}

}  // namespace vq::linux_platform
