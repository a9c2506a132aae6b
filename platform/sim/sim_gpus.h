#pragma once
// The simulated machine's GPUs, from the machine file's `gpus`: a list of
// GPUs (one fixed sample) or a list of such lists (sample i answers element
// min(i, n - 1)). A GPU is {"name", "pciAddress", "asleep", "busyPercent",
// "vramUsedBytes", "vramTotalBytes", "celsius", "watts", "megahertz"}; a
// figure left out or null is unknown.

#include <memory>

#include <nlohmann/json.hpp>

#include "platform/gpus.h"

namespace vq {

// Throws std::runtime_error naming the key when `gpus` is malformed.
std::shared_ptr<Gpus> loadSimGpus(const nlohmann::json& gpus);

}  // namespace vq
