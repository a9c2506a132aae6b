#include "platform/linux/gpu/linux_gpus.h"

#include <algorithm>
#include <chrono>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/drives/udev_database.h"
#include "platform/linux/gpu/nvml_library.h"

namespace vq::linux_platform {
namespace {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The model as the PCI ids database names it (udev's hwdb), else the maker's.
std::string gpuName(const std::string& udevRoot, const DrmCard& card) {
    if (const auto record = readWholeFile(udevRoot + "/data/+pci:" + card.pciAddress)) {
        const UdevProperties properties = parseUdevDatabase(*record);
        if (auto model = properties.find("ID_MODEL_FROM_DATABASE"); model != properties.end() && !model->second.empty())
            return model->second;
    }
    switch (card.vendor) {
        case GpuVendor::Amd: return "AMD GPU";
        case GpuVendor::Intel: return "Intel GPU";
        case GpuVendor::Nvidia: return "NVIDIA GPU";
        case GpuVendor::Other: break;
    }
    return "GPU";
}

bool isIntelDriver(const std::string& driver) { return driver == "i915" || driver == "xe"; }

}  // namespace

LinuxGpus::LinuxGpus(Roots roots, std::function<NvmlLibrary*()> nvml, std::function<double()> now)
    : roots_(std::move(roots)),
      nvml_(nvml ? std::move(nvml) : &NvmlLibrary::shared),
      now_(now ? std::move(now) : steadySeconds) {}

void LinuxGpus::discover(std::vector<std::string> entries) {
    std::vector<Card> cards;
    for (DrmCard& card : listDrmCards(roots_.sys)) {
        Card entry{card, findGpuFiles(card), gpuName(roots_.udev, card), {}};
        // A card that stays keeps its recent busy readings.
        for (const Card& old : cards_)
            if (old.card.pciAddress == card.pciAddress) entry.busy = old.busy;
        cards.push_back(std::move(entry));
    }
    cards_ = std::move(cards);
    entries_ = std::move(entries);
    discovered_ = true;
}

std::vector<GpuReading> LinuxGpus::sample() {
    auto entries = listDirectory(roots_.sys + "/class/drm").value_or(std::vector<std::string>{});
    std::sort(entries.begin(), entries.end());
    if (!discovered_ || entries != entries_) discover(std::move(entries));

    std::vector<GpuReading> readings;
    std::vector<std::string> awakeNvidia;
    bool intelAwake = false;
    for (Card& entry : cards_) {
        const bool asleep = readAttribute(entry.files.runtimeStatus, buffer_) && isRuntimeSuspended(buffer_);
        GpuReading reading;
        if (!asleep) {
            reading = readGpuFiles(entry.files, buffer_);
            if (reading.busyPercent) reading.busyPercent = entry.busy.add(*reading.busyPercent);
            if (entry.card.driver == "nvidia") awakeNvidia.push_back(entry.card.pciAddress);
            intelAwake = intelAwake || isIntelDriver(entry.card.driver);
        }
        reading.name = entry.name;
        reading.pciAddress = entry.card.pciAddress;
        reading.asleep = asleep;
        readings.push_back(std::move(reading));
    }

    // Walking the processes' descriptors is the dear part, done only while an
    // Intel GPU is awake.
    if (intelAwake) {
        const double at = now_();
        DrmClients clients = readDrmClients(roots_.proc);
        const auto busy = drmBusyPercent(clients_, clients, at - clientsAt_);
        for (std::size_t i = 0; i < cards_.size(); ++i) {
            if (!isIntelDriver(cards_[i].card.driver) || readings[i].asleep) continue;
            if (auto share = busy.find(cards_[i].card.pciAddress); share != busy.end())
                readings[i].busyPercent = share->second;
        }
        clients_ = std::move(clients);
        clientsAt_ = at;
    }

    NvmlLibrary* nvml = awakeNvidia.empty() ? nullptr : nvml_();
    if (nvml) {
        if (auto figures = nvml->sample(awakeNvidia)) {
            for (std::size_t i = 0; i < cards_.size(); ++i) {
                auto found = figures->find(cards_[i].card.pciAddress);
                if (found == figures->end()) continue;
                // The name NVML gives stays for when the GPU sleeps.
                if (!found->second.name.empty()) cards_[i].name = found->second.name;
                found->second.name = cards_[i].name;
                readings[i] = std::move(found->second);
            }
        }
    }
    return readings;
}

std::shared_ptr<Gpus> makeLinuxGpus(const Roots& roots) {
    return std::make_shared<LinuxGpus>(roots);
}

}  // namespace vq::linux_platform
