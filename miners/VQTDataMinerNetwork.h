#pragma once
// Per-interface kind, IPv4 address, receive and send rates and totals. The
// interface tables come from a walk over the configured network services,
// redone when the configuration changed; counters are sampled on each call.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "miners/data_set.h"
#include "platform/clock.h"
#include "platform/dynamic_store.h"
#include "platform/interface_counters.h"
#include "platform/notification_center.h"
#include "platform/system_log.h"

namespace vq {

constexpr const char* kPrimaryInterfaceChangeNotification = "VelquorNetworkPrimaryInterfaceChange";

class VQTDataMinerNetwork {
public:
    VQTDataMinerNetwork(std::shared_ptr<DynamicStore> store, std::shared_ptr<InterfaceCounters> counters,
                        std::shared_ptr<Clock> clock, std::shared_ptr<NotificationCenter> notifications,
                        std::shared_ptr<SystemLog> log);
    ~VQTDataMinerNetwork();
    VQTDataMinerNetwork(const VQTDataMinerNetwork&) = delete;
    VQTDataMinerNetwork& operator=(const VQTDataMinerNetwork&) = delete;

    // Samples the counters into rows of [name, kind, IPv4 address, receive
    // rate, send rate, total received, total sent].
    void mineData();
    const Value& getDataSet() const { return latestData; }
    void setNeedsUpdate(bool value) { needsUpdate = value; }

    void getInterfaceTypes();
    void setup();
    void getPrimaryInterface();
    void primaryChange() { getPrimaryInterface(); }
    Value getNamesAndTypes();
    int getInterfaces() const { return static_cast<int>(interfaceSpecs.size()); }
    const Value& getInterfaceSpecs() const { return interfaceSpecs; }
    const std::optional<std::string>& primaryInterface() const { return primary_interface; }

    static std::string convertK(float kilobytesPerSecond);
    static std::string convertM(float megabytes);

private:
    struct Counters {
        std::int32_t in = 0;
        std::int32_t out = 0;
    };
    void walkService(const std::string& serviceID);

    std::shared_ptr<DynamicStore> sysConfigSessions;
    std::shared_ptr<InterfaceCounters> counters_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<SystemLog> log_;
    Subscription primaryObservation_;

    std::optional<std::string> primary_interface;
    std::map<std::string, std::string> interfaceTypes;
    std::map<std::string, std::string> interfaceSubTypes;
    std::map<std::string, std::string> interfaceHardware;
    std::map<std::string, std::string> interfaceUserDefinedNames;
    std::map<std::string, std::string> interfaceIps;
    Value interfaceSpecs = Value::array();

    Value latestData;
    std::map<std::string, Counters> lastData;
    bool needsUpdate = false;
    double last_time = 0;
};

}  // namespace vq
