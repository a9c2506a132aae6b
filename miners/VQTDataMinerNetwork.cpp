#include "miners/VQTDataMinerNetwork.h"

#include <algorithm>
#include <cmath>

#include "miners/text_format.h"

namespace vq {
namespace {

std::optional<std::string> stringEntry(const std::optional<Value>& dictionary, const char* key) {
    if (!dictionary || !dictionary->is_object() || !dictionary->contains(key)) return std::nullopt;
    const Value& value = (*dictionary)[key];
    if (!value.is_string()) return std::nullopt;
    return value.get<std::string>();
}

// A store entry read as an integer: numbers and truth values count, anything
// else (or nothing) is 0.
std::int64_t integerEntry(const Value& dictionary, const char* key) {
    if (!dictionary.is_object() || !dictionary.contains(key)) return 0;
    const Value& value = dictionary[key];
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (value.is_number()) return static_cast<std::int64_t>(value.get<double>());
    return 0;
}

// Element 0 of "Addresses", or the empty string.
std::string firstAddress(const std::optional<Value>& ipv4) {
    if (!ipv4 || !ipv4->is_object() || !ipv4->contains("Addresses")) return {};
    const Value& addresses = (*ipv4)["Addresses"];
    if (!addresses.is_array() || addresses.empty() || !addresses[0].is_string()) return {};
    return addresses[0].get<std::string>();
}

std::string scaled(float v, const char* const (&units)[3], int wholeUpTo) {
    // Values past the last unit stay in it.
    int i = 0;
    while (v > 1000.0f && i < 2) {
        v *= 0.0009765625f;
        ++i;
    }
    return formatText(i <= wholeUpTo ? "%.0f%s" : "%.2f%s", static_cast<double>(v), units[i]);
}

}  // namespace

VQTDataMinerNetwork::VQTDataMinerNetwork(std::shared_ptr<DynamicStore> store,
                                         std::shared_ptr<InterfaceCounters> counters, std::shared_ptr<Clock> clock,
                                         std::shared_ptr<NotificationCenter> notifications,
                                         std::shared_ptr<SystemLog> log)
    : sysConfigSessions(std::move(store)),
      counters_(std::move(counters)),
      clock_(std::move(clock)),
      log_(std::move(log)) {
    primaryObservation_ = notifications->observe(kPrimaryInterfaceChangeNotification, [this] { primaryChange(); });
}

VQTDataMinerNetwork::~VQTDataMinerNetwork() { primaryObservation_.reset(); }

std::string VQTDataMinerNetwork::convertK(float v) {
    static const char* const units[] = {"kb/s", "mb/s", "gb/s"};
    return scaled(v, units, 1);
}

std::string VQTDataMinerNetwork::convertM(float v) {
    static const char* const units[] = {"mb", "gb", "tb"};
    return scaled(v, units, 0);
}

void VQTDataMinerNetwork::getPrimaryInterface() {
    primary_interface = stringEntry(sysConfigSessions->copyValue("State:/Network/Global/IPv4"), "PrimaryInterface");
}

void VQTDataMinerNetwork::getInterfaceTypes() {
    getPrimaryInterface();
    auto global = sysConfigSessions->copyValue("Setup:/Network/Global/IPv4");
    if (!global || !global->is_object() || !global->contains("ServiceOrder")) return;
    const Value& order = (*global)["ServiceOrder"];
    if (!order.is_array()) return;
    for (const Value& service : order)
        if (service.is_string()) walkService(service.get<std::string>());
}

void VQTDataMinerNetwork::walkService(const std::string& id) {
    auto entity = sysConfigSessions->copyValue("Setup:/Network/Service/" + id + "/Interface");
    auto deviceName = stringEntry(entity, "DeviceName");
    if (!deviceName) return;
    std::string name = *deviceName;
    const auto subType = stringEntry(entity, "SubType");
    const auto type = stringEntry(entity, "Type");
    const auto hardware = stringEntry(entity, "Hardware");

    if (subType == "PPPoE") {
        auto pppName = stringEntry(sysConfigSessions->copyValue("State:/Network/Service/" + id + "/PPP"), "InterfaceName");
        if (!pppName) return;
        name = *pppName;
        interfaceIps[name] = firstAddress(sysConfigSessions->copyValue("State:/Network/Interface/" + name + "/IPv4"));
        interfaceTypes[name] = "Ethernet";
        interfaceHardware[name] = "Ethernet";
        interfaceSubTypes[name] = "PPPoE";
        return;
    }

    if (type == "PPP" && hardware == "Modem") {
        auto ipv4Name =
            stringEntry(sysConfigSessions->copyValue("State:/Network/Service/" + id + "/IPv4"), "InterfaceName");
        if (!ipv4Name) return;
        name = *ipv4Name;
        if (!stringEntry(sysConfigSessions->copyValue("State:/Network/Service/" + id + "/PPP"), "InterfaceName"))
            return;
    }

    if (auto link = sysConfigSessions->copyValue("State:/Network/Interface/" + name + "/Link")) {
        if (integerEntry(*link, "Active") == 0) return;
    }
    auto ipv4 = sysConfigSessions->copyValue("State:/Network/Interface/" + name + "/IPv4");
    if (!ipv4) return;
    interfaceIps[name] = firstAddress(ipv4);
    interfaceTypes[name] = type.value_or("Ethernet");
    interfaceHardware[name] = hardware.value_or("Ethernet");
    interfaceSubTypes[name] = subType.value_or(interfaceHardware[name]);
    interfaceUserDefinedNames[name] = stringEntry(entity, "UserDefinedName").value_or(interfaceTypes[name]);
}

void VQTDataMinerNetwork::setup() {
    interfaceSpecs = Value::array();
    for (const auto& [name, type] : interfaceTypes)
        interfaceSpecs.push_back(Value::array({name, interfaceIps[name], interfaceSubTypes[name]}));
}

Value VQTDataMinerNetwork::getNamesAndTypes() {
    getInterfaceTypes();
    setup();
    Value result = Value::array();
    auto list = counters_->interfaceList();
    if (!list) return result;
    for (const InterfaceRecord& record : *list) {
        if (!(record.flags & kInterfaceUp) || (record.flags & kInterfaceLoopback)) continue;
        if (!interfaceTypes.contains(record.name)) continue;
        result.push_back(Value::array({record.name, interfaceSubTypes[record.name]}));
    }
    return result;
}

void VQTDataMinerNetwork::mineData() {
    const double now = clock_->timeIntervalSince1970();
    const double interval = std::max(0.5, now - last_time);
    last_time = now;

    if (needsUpdate) {
        log_->log("needs update");
        interfaceTypes.clear();
        interfaceSubTypes.clear();
        interfaceHardware.clear();
        interfaceUserDefinedNames.clear();
        interfaceIps.clear();
        lastData.clear();
        getInterfaceTypes();
        setup();
        for (const auto& [name, type] : interfaceTypes) lastData[name] = Counters{};
    }

    auto list = counters_->interfaceList();
    if (!list) return;

    Value rows = Value::array();
    for (const InterfaceRecord& record : *list) {
        if (!(record.flags & kInterfaceUp) || (record.flags & kInterfaceLoopback)) continue;
        const std::uint64_t inK = record.receivedBytes >> 10;
        const std::uint64_t outK = record.sentBytes >> 10;
        if (!interfaceTypes.contains(record.name)) continue;
        const auto in32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(inK));
        const auto out32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(outK));

        // Freshly rebuilt tables, or an interface that joined the tables
        // without a rebuild, have no previous counters: this sample is the base.
        auto previous = lastData.find(record.name);
        if (needsUpdate || previous == lastData.end()) previous = lastData.insert_or_assign(record.name, Counters{in32, out32}).first;
        auto difference = [](std::int32_t now32, std::int32_t before) {
            const auto d = static_cast<std::int32_t>(static_cast<std::uint32_t>(now32) - static_cast<std::uint32_t>(before));
            // Counters that restarted (the difference is negative) give no rate
            // for this sample rather than a negative one.
            return std::max<std::int32_t>(d, 0);
        };
        const std::int32_t dIn = difference(in32, previous->second.in);
        const std::int32_t dOut = difference(out32, previous->second.out);

        const auto totalIn = static_cast<std::int32_t>(static_cast<std::uint32_t>(inK >> 10));
        const auto totalOut = static_cast<std::int32_t>(static_cast<std::uint32_t>(outK >> 10));
        const auto rate = [interval](std::int32_t d) {
            return convertK(static_cast<float>(static_cast<std::int64_t>(std::trunc(d / interval))));
        };
        rows.push_back(Value::array({record.name, interfaceSubTypes[record.name], interfaceIps[record.name], rate(dIn),
                                     rate(dOut), convertM(static_cast<float>(totalIn)),
                                     convertM(static_cast<float>(totalOut))}));
        previous->second = Counters{in32, out32};
    }
    needsUpdate = false;
    latestData = std::move(rows);
}

}  // namespace vq
