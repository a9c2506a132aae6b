#pragma once
// A simulated machine: every platform service answered from programmable
// state. Unit tests set the fields directly; demos and end-to-end tests load
// them from a machine file. A service whose state is absent fails the way the
// real service fails.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform.h"

namespace vq {

class SimMachine : public ProcessorStats,
                   public Clock,
                   public NetworkChangeNotifier,
                   public MountNotifier,
                   public NotificationCenter,
                   public MachineInfo,
                   public std::enable_shared_from_this<SimMachine> {
public:
    // Values that change between reads are lists; read i answers element
    // min(i, n - 1).
    std::optional<std::string> model;
    std::optional<std::string> architecture;  // "intel" or "powerpc"
    std::optional<std::string> home;
    std::vector<std::int64_t> clockSamples;   // empty: the real clock
    std::optional<BootTime> boot;
    std::optional<LoadAverageRecord> loadRecord;
    std::optional<TaskCounts> taskCounts;
    std::vector<std::vector<ProcessorTicks>> tickSamples;  // empty: unreadable
    bool networkNotifierFails = false;

    // Fires the observers, as the real machine's main loop would.
    void fireNetworkChange();
    void fireMountChange();

    std::size_t tickReads() const { return tickReads_; }

    // ProcessorStats
    std::optional<std::vector<ProcessorTicks>> processorLoadInfo() override;
    std::optional<TaskCounts> processorSetLoadInfo() override { return taskCounts; }
    std::optional<LoadAverageRecord> loadAverage() override { return loadRecord; }
    std::optional<BootTime> bootTime() override { return boot; }
    // Clock
    std::int64_t now() override;
    // NetworkChangeNotifier
    Subscription watchNetworkChanges(std::function<void()> onChange) override;
    // MountNotifier
    Subscription watchMounts(std::function<void()> onMountOrUnmount) override;
    // NotificationCenter: delivered within this process only.
    Subscription observe(const std::string& name, std::function<void()> handler) override;
    bool post(const std::string& name) override;
    // MachineInfo
    std::optional<std::int32_t> gestalt(std::uint32_t selector) override;
    std::optional<std::string> modelName() override { return model; }

    std::size_t observerCount() const;

private:
    using Observers = std::map<std::uint64_t, std::function<void()>>;
    Subscription add(Observers& observers, std::function<void()> callback);
    static void fire(const Observers& observers);

    std::size_t tickReads_ = 0;
    std::size_t clockReads_ = 0;
    std::uint64_t nextObserverId_ = 1;
    Observers networkObservers_;
    Observers mountObservers_;
    std::map<std::string, Observers> notificationObservers_;
};

// Reads a machine file's JSON into a machine. Unknown keys are ignored;
// malformed known keys throw std::runtime_error naming the key.
std::shared_ptr<SimMachine> loadSimMachine(const nlohmann::json& file);

// A platform on the simulated machine. File operations are real, below the
// machine's home; `notifications` defaults to the machine's in-process centre.
Platform makeSimPlatform(std::shared_ptr<SimMachine> machine,
                         std::shared_ptr<NotificationCenter> notifications = nullptr);

}  // namespace vq
