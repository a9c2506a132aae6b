#pragma once
// The Linux sources of memory, volume and disk facts.

#include <memory>

#include "platform/io_registry.h"
#include "platform/linux/common/roots.h"
#include "platform/memory_stats.h"
#include "platform/volumes.h"

namespace vq::linux_platform {

// /proc/meminfo and /proc/vmstat under roots.proc.
std::shared_ptr<MemoryStats> makeLinuxMemoryStats(const Roots& roots);
// <proc>/self/mountinfo, statvfs, /sys/block and the udev database.
std::shared_ptr<Volumes> makeLinuxVolumes(const Roots& roots);
// Whole disks and their drives, synthesized from /sys/block and udev.
std::shared_ptr<IORegistry> makeLinuxIORegistry(const Roots& roots);

}  // namespace vq::linux_platform
