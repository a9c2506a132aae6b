#include "platform/sim/sim_machine.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <utility>
#include <stdexcept>

#include "platform/linux/dbus_notification_center.h"
#include "platform/linux/posix_file_system.h"

namespace vq {
namespace {

template <typename T>
const T& sampleAt(const std::vector<T>& samples, std::size_t& reads) {
    const std::size_t index = std::min(reads, samples.size() - 1);
    ++reads;
    return samples[index];
}

}  // namespace

std::optional<std::vector<ProcessorTicks>> SimMachine::processorLoadInfo() {
    if (tickSamples.empty()) return std::nullopt;
    return sampleAt(tickSamples, tickReads_);
}

std::int64_t SimMachine::now() {
    if (clockSamples.empty()) return static_cast<std::int64_t>(std::time(nullptr));
    return sampleAt(clockSamples, clockReads_);
}

Subscription SimMachine::add(Observers& observers, std::function<void()> callback) {
    const std::uint64_t id = nextObserverId_++;
    observers.emplace(id, std::move(callback));
    std::weak_ptr<SimMachine> weak = weak_from_this();
    Observers* list = &observers;
    return Subscription([weak, list, id] {
        if (auto self = weak.lock()) list->erase(id);
    });
}

void SimMachine::fire(const Observers& observers) {
    // Copy first: a handler may cancel its own or another observation.
    std::vector<std::function<void()>> callbacks;
    for (const auto& [id, callback] : observers) callbacks.push_back(callback);
    for (auto& callback : callbacks) callback();
}

Subscription SimMachine::watchNetworkChanges(std::function<void()> onChange) {
    if (networkNotifierFails) throw NotifierUnavailable("simulated machine has no network change source");
    return add(networkObservers_, std::move(onChange));
}

Subscription SimMachine::watchMounts(std::function<void()> onMountOrUnmount) {
    return add(mountObservers_, std::move(onMountOrUnmount));
}

Subscription SimMachine::observe(const std::string& name, std::function<void()> handler) {
    return add(notificationObservers_[name], std::move(handler));
}

bool SimMachine::post(const std::string& name) {
    auto it = notificationObservers_.find(name);
    if (it != notificationObservers_.end()) fire(it->second);
    return true;
}

void SimMachine::fireNetworkChange() { fire(networkObservers_); }
void SimMachine::fireMountChange() { fire(mountObservers_); }

std::size_t SimMachine::observerCount() const {
    std::size_t count = networkObservers_.size() + mountObservers_.size();
    for (const auto& [name, observers] : notificationObservers_) count += observers.size();
    return count;
}

std::optional<std::int32_t> SimMachine::gestalt(std::uint32_t selector) {
    if (!architecture) return std::nullopt;
    const bool intel = *architecture == "intel";
    const bool powerpc = *architecture == "powerpc";
    if (selector == kGestaltSysArchitecture) {
        if (intel) return kGestaltIntel;
        if (powerpc) return kGestaltPowerPC;
    }
    if (selector == kGestaltProcessorType) {
        if (intel) return static_cast<std::int32_t>(kGestaltCPUPentium);
        if (powerpc) return static_cast<std::int32_t>(kGestaltCPUG4);
    }
    return std::nullopt;
}

namespace {

using nlohmann::json;

[[noreturn]] void malformed(const std::string& key, const std::string& what) {
    throw std::runtime_error("machine file: \"" + key + "\" " + what);
}

template <typename T>
T number(const json& value, const std::string& key) {
    if (!value.is_number_integer()) malformed(key, "must hold whole numbers");
    const bool fits = value.is_number_unsigned()
                          ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<T>::max())
                          : std::in_range<T>(value.get<std::int64_t>());
    if (!fits) malformed(key, "holds a number out of range");
    return static_cast<T>(value.get<std::int64_t>());
}

const json& member(const json& object, const char* name, const std::string& key) {
    if (!object.is_object() || !object.contains(name)) malformed(key, std::string("needs \"") + name + "\"");
    return object.at(name);
}

std::string text(const json& value, const std::string& key) {
    if (!value.is_string()) malformed(key, "must be a string");
    return value.get<std::string>();
}

ProcessorTicks ticksOf(const json& row) {
    if (!row.is_array() || row.size() != 4) malformed("processorTicks", "rows must be [user, system, idle, nice]");
    ProcessorTicks ticks{};
    for (std::size_t k = 0; k < 4; ++k) ticks[k] = number<std::uint32_t>(row[k], "processorTicks");
    return ticks;
}

}  // namespace

std::shared_ptr<SimMachine> loadSimMachine(const json& file) {
    if (!file.is_object()) throw std::runtime_error("machine file: must be a JSON object");
    auto machine = std::make_shared<SimMachine>();
    if (file.contains("model")) machine->model = text(file["model"], "model");
    if (file.contains("architecture")) {
        machine->architecture = text(file["architecture"], "architecture");
        if (*machine->architecture != "intel" && *machine->architecture != "powerpc")
            malformed("architecture", "must be \"intel\" or \"powerpc\"");
    }
    if (file.contains("home")) machine->home = text(file["home"], "home");
    if (file.contains("clock")) {
        const json& clock = file["clock"];
        if (!clock.is_array() || clock.empty()) malformed("clock", "must be a non-empty list");
        for (const auto& t : clock) machine->clockSamples.push_back(number<std::int64_t>(t, "clock"));
    }
    if (file.contains("bootTime")) {
        const json& boot = file["bootTime"];
        machine->boot = BootTime{number<std::int32_t>(member(boot, "sec", "bootTime"), "bootTime"),
                                 number<std::int32_t>(member(boot, "usec", "bootTime"), "bootTime")};
    }
    if (file.contains("loadAverage")) {
        const json& load = file["loadAverage"];
        const json& ldavg = member(load, "ldavg", "loadAverage");
        if (!ldavg.is_array() || ldavg.size() != 3) malformed("loadAverage", "\"ldavg\" must hold three numbers");
        LoadAverageRecord record;
        for (std::size_t i = 0; i < 3; ++i) record.ldavg[i] = number<std::uint32_t>(ldavg[i], "loadAverage");
        record.fscale = number<std::int32_t>(member(load, "fscale", "loadAverage"), "loadAverage");
        machine->loadRecord = record;
    }
    if (file.contains("taskCounts")) {
        const json& counts = file["taskCounts"];
        machine->taskCounts = TaskCounts{number<std::int32_t>(member(counts, "tasks", "taskCounts"), "taskCounts"),
                                         number<std::int32_t>(member(counts, "threads", "taskCounts"), "taskCounts")};
    }
    if (file.contains("processorTicks")) {
        const json& samples = file["processorTicks"];
        if (!samples.is_array() || samples.empty()) malformed("processorTicks", "must be a non-empty list of samples");
        for (const auto& sample : samples) {
            if (!sample.is_array()) malformed("processorTicks", "samples must be lists of rows");
            std::vector<ProcessorTicks> rows;
            for (const auto& row : sample) rows.push_back(ticksOf(row));
            machine->tickSamples.push_back(std::move(rows));
        }
    }
    return machine;
}

Platform makeSimPlatform(std::shared_ptr<SimMachine> machine, std::shared_ptr<NotificationCenter> notifications) {
    Platform platform;
    platform.processorStats = machine;
    platform.clock = machine;
    platform.networkChanges = machine;
    platform.mounts = machine;
    platform.notifications = notifications ? std::move(notifications) : machine;
    platform.machine = machine;
    const std::string supportDirectory = machine->home ? *machine->home + "/Library/Application Support" : std::string();
    platform.files = std::make_shared<PosixFileSystem>(supportDirectory);
    return platform;
}

}  // namespace vq
