#pragma once
// GPU utilisation from the DRM clients' usage counters, which the kernel
// shows in /proc/PID/fdinfo/FD of every open DRM file (i915 since 5.19, xe,
// amdgpu): how long each engine worked for that client, in nanoseconds
// (drm-engine-<engine>), or in GPU cycles beside the GPU's cycle count
// (xe: drm-cycles-<engine>, drm-total-cycles-<engine>). Only the processes
// whose descriptors we may read count; nothing here needs privileges.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vq::linux_platform {

struct DrmEngineCounter {
    std::string engine;                  // "render", "video", "rcs"
    std::uint64_t busy = 0;              // ns, or cycles when `total` is set
    std::optional<std::uint64_t> total;  // the GPU's cycles at the time of reading (xe)
    std::uint64_t capacity = 1;          // engines of that class (drm-engine-capacity-<engine>)
};

struct DrmClient {
    std::string pdev;  // the card's PCI address
    std::uint64_t id = 0;
    std::vector<DrmEngineCounter> engines;
};

// One fdinfo file; nullopt when it is not a DRM client's (no drm-pdev or
// drm-client-id).
std::optional<DrmClient> parseDrmFdinfo(std::string_view text);

// The clients of one moment by card and id: a client whose file is open
// several times (dup, fork, passed over a socket) counts once.
using DrmClients = std::map<std::pair<std::string, std::uint64_t>, DrmClient>;

// Per card, the busiest engine's share of the `elapsedSeconds` between two
// collections, in percent (0–100), summed over the clients present in both.
// A card none of whose clients was seen twice has no entry: with no client
// we may read, its load is unknown rather than 0.
std::map<std::string, double> drmBusyPercent(const DrmClients& before, const DrmClients& after, double elapsedSeconds);

// Every DRM client of the processes under `procRoot` that we may read,
// found through the descriptors that point at /dev/dri.
DrmClients readDrmClients(const std::string& procRoot);

}  // namespace vq::linux_platform
