#pragma once
// The GPUs of <sys>/class/drm with their figures: amdgpu and Intel (i915,
// xe) from sysfs and the DRM clients' counters under <proc>, NVIDIA from
// NVML. A card in runtime suspend is not read (reading would wake it) and
// shows asleep. The cards are found again only when the entries of
// class/drm change.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/gpus.h"
#include "platform/linux/common/roots.h"
#include "platform/linux/gpu/drm_cards.h"
#include "platform/linux/gpu/drm_fdinfo.h"
#include "platform/linux/gpu/gpu_files.h"

namespace vq::linux_platform {

class NvmlLibrary;

class LinuxGpus : public Gpus {
public:
    // `now` answers seconds on a steady clock; `nvml` the NVIDIA library
    // (null where there is none), asked only once an NVIDIA GPU is awake.
    explicit LinuxGpus(Roots roots, std::function<NvmlLibrary*()> nvml = {}, std::function<double()> now = {});
    std::vector<GpuReading> sample() override;

private:
    struct Card {
        DrmCard card;
        GpuFiles files;
        std::string name;
        BusySmoother busy;
    };
    void discover(std::vector<std::string> entries);

    Roots roots_;
    std::function<NvmlLibrary*()> nvml_;
    std::function<double()> now_;
    std::vector<std::string> entries_;
    bool discovered_ = false;
    std::vector<Card> cards_;
    std::string buffer_;
    // The DRM clients of the previous sample, for utilisation over the time since.
    DrmClients clients_;
    double clientsAt_ = 0;
};

std::shared_ptr<Gpus> makeLinuxGpus(const Roots& roots);

}  // namespace vq::linux_platform
