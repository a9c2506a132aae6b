#include "sensors/VQTDataMinerTemps.h"

#include <exception>

#include "miners/int_value.h"
#include "sensors/sensor_sources.h"
#include "sensors/sensor_table.h"
#include "sensors/temperature_units.h"

namespace vq {
namespace {

using sensor_table::Row;

// Locations are the "location" property of "IOHWSensor" services, matched
// exactly, case included. The divisor turns "current-value" into whole
// degrees: 65536 for 16.16 fixed point, 10 for tenths. "CPU TOPSIDE" really
// is shown as "CPU Bottom" and "CPU BOTTOMSIDE" as "CPU Top".
constexpr Row kTemperatureSensors[] = {
    {"Hard drive", "65536", "HD Bay", "3"},
    {"CPU TOPSIDE", "65536", "CPU Bottom", "1"},
    {"CPU BOTTOMSIDE", "65536", "CPU Top", "1"},
    {"CPU A AD7417 AMB", "65536", "CPU A Amb", "3"},
    {"CPU B AD7417 AMB", "65536", "CPU B Amb", "3"},
    {"CPU A AD7417 AD1", "10", "CPU A", "1"},
    {"CPU B AD7417 AD1", "10", "CPU B", "1"},
    {"CPU T-Diode", "10", "CPU", "1"},
    {"CPU A DIODE TEMP", "10", "CPU A", "1"},
    {"CPU A0 DIODE TEMP", "65536", "CPU A Core 1", "1"},
    {"CPU A1 DIODE TEMP", "65536", "CPU A Core 2", "1"},
    {"CPU B0 DIODE TEMP", "65536", "CPU B Core 1", "1"},
    {"CPU B1 DIODE TEMP", "65536", "CPU B Core 2", "1"},
    {"ODD Temp", "65536", "Optical Drive", "4"},
    {"HD Temp", "65536", "HD Bay", "3"},
    {"NB Ambient", "65536", "Mem Controller", "4"},
    {"NB Temp", "65536", "Mem Controller", "4"},
    {"GPU Ambient", "65536", "GPU Ambient", "4"},
    {"GPU Temp", "65536", "GPU", "2"},
    {"Incoming Air Temp", "65536", "Incoming Air", "2"},
    {"CPU/INTREPID BOTTOMSIDE", "65536", "CPU Bottom", "1"},
    {"PWR SUPPLY BOTTOMSIDE", "65536", "Power Supply", "4"},
    {"TRACK PAD", "65536", "Track Pad", "2"},
    {"DRIVE BAY", "65536", "Drive Bay", "4"},
    {"BACKSIDE", "65536", "Backside", "4"},
    {"U3 HEATSINK", "65536", "U3 Heatsink", "4"},
    {"gpu-diode", "65536", "GPU", "2"},
    {"gpu-case", "65536", "GPU Case", "4"},
    {"SYS CTRLR AMBIENT", "65536", "Sys Controller", "4"},
    {"SYS CTRLR INTERNAL", "65536", "Sys Controller", "4"},
    {"Behind the DIMMS", "65536", "Behind Dimms", "4"},
    {"Between the Processors", "65536", "Between CPU's", "4"},
    {"PCI SLOTS", "65536", "PCI Slots", "4"},
    {"PWR/MEMORY BOTTOMSIDE", "65536", "Memory/Power", "4"},
    {"TUNNEL", "65536", "Tunnel", "4"},
    {"TUNNEL HEATSINK", "65536", "Tunnel Heatsink", "4"},
    {"BATTERY", "65536", "Battery", "2"},
    {"GPU ON DIE", "65536", "GPU", "2"},
    {"HDD BOTTOMSIDE", "65536", "HD Bay", "3"},
};

}  // namespace

VQTDataMinerTemps::VQTDataMinerTemps(std::unique_ptr<TemperatureSource> source, std::shared_ptr<IORegistry> registry,
                                     std::shared_ptr<SensorModuleLoader> modules, std::string bundleFolder)
    : intelClassInstance(std::move(source)),
      registry_(std::move(registry)),
      modules_(std::move(modules)),
      bundleFolder_(std::move(bundleFolder)) {
    setDictionaries();
    getDataSet(kUnitCelsius);  // collects availableSensors
    sensorArray = true;
}

void VQTDataMinerTemps::setDictionaries() {
    for (const Row& row : kTemperatureSensors) {
        validTempSensors[row.location] = row.divisor;
        tempSensorName[row.location] = row.displayName;
        tempSensorPriority[row.location] = row.priority;
    }
}

bool VQTDataMinerTemps::hasIntelBundle() { return modules_ && hasSiblingBundle(*modules_, bundleFolder_); }

Value VQTDataMinerTemps::getDataSet(int unitCode) {
    return intelClassInstance ? sourceDataSet(unitCode) : registryDataSet(unitCode);
}

Value VQTDataMinerTemps::sourceDataSet(int unitCode) {
    Value result = Value::array();
    try {
        const Value groups = intelClassInstance->getTempValues();
        for (const Value& group : groups) {
            for (const Value& entry : group) {
                const std::string name = entry.at(0).get<std::string>();
                if (!sensorArray) availableSensors.push_back(name);
                // Every value is shown, whatever it is: only the registry
                // walk drops readings below 1.
                result.push_back(Value::array({name, formatTemperature(intValue(entry.at(1)), unitCode)}));
            }
        }
    } catch (const std::exception&) {
        return Value::array();
    }
    return result;
}

Value VQTDataMinerTemps::registryDataSet(int unitCode) {
    std::array<std::map<std::string, std::string>, 4> groups;
    if (!registry_) return Value::array();
    const auto services = registry_->matchingServicesByName("IOHWSensor");
    if (!services) return Value::array();
    for (RegistryEntryId service : *services) {
        const auto properties = registry_->properties(service);
        if (!properties) continue;
        const std::string location = sensor_table::stringProperty(*properties, "location");
        auto divisor = validTempSensors.find(location);
        if (divisor == validTempSensors.end()) continue;
        // Listed before the value test, so a sensor whose reading is dropped
        // is still known to be there.
        if (!sensorArray) availableSensors.push_back(location);
        const std::int32_t raw = intValue(properties->value("current-value", Value(0)));
        const int by = sensor_table::divisorOf(divisor->second);
        const std::int32_t celsius = by == 0 ? 0 : raw / by;
        if (celsius < 1) continue;
        const int group = sensor_table::groupOf(tempSensorPriority[location]);
        if (group < 0) continue;
        groups[static_cast<std::size_t>(group)][tempSensorName[location]] = formatTemperature(celsius, unitCode);
    }
    return sensor_table::rowsByPriority(groups);
}

}  // namespace vq
