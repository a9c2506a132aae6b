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
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "platform/dynamic_store.h"
#include "platform/interface_counters.h"
#include "platform/sim/sim_smart.h"
#include "platform/system_log.h"

namespace vq {

struct SimVolume {
    std::string path;
    std::string mountedFrom;
    std::string displayName;
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
    bool statfsFails = false;
    bool sizeFails = false;
};

// One interface of one counter sample.
struct SimInterface {
    std::string name;
    bool up = true;
    bool loopback = false;
    std::uint64_t rxBytes = 0;
    std::uint64_t txBytes = 0;
};

// One process. Its CPU time changes between samples: sample i answers
// element min(i, n - 1); sample i is taken at i + 1 seconds on the clock of
// `startedAt` (0 unless given).
struct SimProcess {
    std::optional<std::string> name;
    std::string bundlePath;  // empty: the process belongs to no application
    std::string bundleId;
    std::vector<double> cpuSeconds;
    std::uint64_t residentBytes = 0;
    double startedAt = 0;
};

class SimMachine : public ProcessorStats,
                   public DynamicStore,
                   public InterfaceCounters,
                   public SystemLog,
                   public MemoryStats,
                   public Volumes,
                   public IORegistry,
                   public Clock,
                   public NetworkChangeNotifier,
                   public MountNotifier,
                   public NotificationCenter,
                   public MachineInfo,
                   public PowerSources,
                   public Processes,
                   public Clipboard,
                   public std::enable_shared_from_this<SimMachine> {
public:
    // Values that change between reads are lists; read i answers element
    // min(i, n - 1).
    std::optional<std::string> model;
    std::optional<std::string> architecture;  // "intel" or "powerpc"
    std::optional<std::string> home;
    std::vector<double> clockSamples;  // seconds since 1970; empty: the real clock
    std::optional<BootTime> boot;
    // The machine file's `gpus`; null without the key (no GPU).
    std::shared_ptr<Gpus> gpus;
    std::optional<LoadAverageRecord> loadRecord;
    std::optional<TaskCounts> taskCounts;
    std::vector<std::vector<ProcessorTicks>> tickSamples;  // empty: unreadable
    bool networkNotifierFails = false;
    std::vector<VmStatistics> vmSamples;  // empty: unreadable
    std::optional<std::uint64_t> swapTotal;
    std::vector<SimVolume> volumes;
    std::optional<RegistrySnapshot> registry;  // absent: the registry cannot be read
    // Service names whose matching request fails ("registryFailsFor"), and
    // entries whose properties cannot be read (an entry's "propertiesFail").
    std::set<std::string> registryFailsFor;
    std::set<RegistryEntryId> propertiesFail;
    nlohmann::json dynamicStore = nlohmann::json::object();
    std::vector<std::vector<SimInterface>> interfaceSamples;  // empty: the kernel cannot be asked
    std::vector<std::string> logLines;                        // what went to the system log
    // Samples of the power-source descriptions; empty: the information cannot be read.
    std::vector<std::vector<nlohmann::json>> powerSourceSamples;
    std::shared_ptr<SimSmart> smart;  // null: the first disk has no SMART client
    // By pid; absent: the process table cannot be read.
    std::optional<std::map<std::int32_t, SimProcess>> processes;
    std::vector<std::string> clipboardTexts;  // what was copied, in order

    // Fires the observers, as the real machine's main loop would.
    void fireNetworkChange();
    void fireMountChange();

    std::size_t tickReads() const { return tickReads_; }

    // ProcessorStats
    std::optional<std::vector<ProcessorTicks>> processorLoadInfo() override;
    std::optional<TaskCounts> processorSetLoadInfo() override { return taskCounts; }
    std::optional<LoadAverageRecord> loadAverage() override { return loadRecord; }
    std::optional<BootTime> bootTime() override { return boot; }
    // MemoryStats
    std::optional<VmStatistics> hostStatistics() override;
    std::optional<std::uint64_t> swapTotalBytes() override { return swapTotal; }
    // Volumes: the simulated machine mounts further volumes under "/Volumes/".
    std::vector<std::string> mountedLocalVolumePaths() override;
    std::optional<std::string> mountedFrom(const std::string& path) override;
    std::optional<VolumeSizes> volumeSizes(const std::string& path) override;
    std::string displayNameAtPath(const std::string& path) override;
    std::optional<std::string> iconForVolume(const std::string& path) override;
    std::vector<std::string> volumeRoots() override { return {"/Volumes/"}; }
    std::string wholeDiskName(const std::string& deviceName) override { return deviceName; }
    // IORegistry
    std::optional<std::vector<RegistryEntryId>> matchingServices(const std::string& className,
                                                                 const nlohmann::json& propertyMatch) override;
    std::optional<std::vector<RegistryEntryId>> matchingServicesByName(const std::string& name) override;
    std::optional<nlohmann::json> properties(RegistryEntryId entry) override;
    bool conformsTo(RegistryEntryId entry, const std::string& className) override;
    std::optional<nlohmann::json> searchProperty(RegistryEntryId entry, const std::string& key) override;
    std::optional<nlohmann::json> searchPropertyBelow(RegistryEntryId entry, const std::string& key) override;
    // DynamicStore
    std::optional<nlohmann::json> copyValue(const std::string& key) override;
    // InterfaceCounters
    std::optional<std::vector<InterfaceRecord>> interfaceList() override;
    // SystemLog
    void log(const std::string& line) override { logLines.push_back(line); }
    // Clock
    std::int64_t now() override;
    double timeIntervalSince1970() override;
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
    // PowerSources
    std::optional<std::vector<nlohmann::json>> powerSourceDescriptions() override;
    // Processes: an application's icon is the PNG file "<bundlePath>/icon.png".
    std::optional<std::string> processName(std::int32_t pid) override;
    std::optional<ProcessApplication> applicationOf(std::int32_t pid) override;
    std::optional<std::string> applicationName(const ProcessApplication& application) override;
    std::optional<std::string> applicationIconPng(const ProcessApplication& application) override;
    bool sampleProcesses(ProcessSample& sample) override;
    std::int32_t selfPid() override;
    // Clipboard
    void copyText(const std::string& text) override { clipboardTexts.push_back(text); }

    std::size_t observerCount() const;

private:
    using Observers = std::map<std::uint64_t, std::function<void()>>;
    Subscription add(Observers& observers, std::function<void()> callback);
    static void fire(const Observers& observers);

    const SimVolume* findVolume(const std::string& path) const;

    std::size_t tickReads_ = 0;
    std::size_t vmReads_ = 0;
    std::size_t interfaceReads_ = 0;
    std::size_t clockReads_ = 0;
    std::size_t powerSourceReads_ = 0;
    std::size_t processReads_ = 0;
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
