#pragma once
// The Linux sources of network facts.

#include <memory>

#include "platform/dynamic_store.h"
#include "platform/interface_counters.h"
#include "platform/linux/common/roots.h"

namespace vq::linux_platform {

// A configuration store synthesized from rtnetlink (links, IPv4 addresses,
// the IPv4 default route). It keeps a snapshot, taken afresh on each read of a
// global key and when the snapshot is older than a second, so one walk over
// the services sees one consistent state.
std::shared_ptr<DynamicStore> makeLinuxDynamicStore(const Roots& roots);
// One RTM_GETLINK dump per call; <proc>/net/dev where netlink is refused.
std::shared_ptr<InterfaceCounters> makeLinuxInterfaceCounters(const Roots& roots);

}  // namespace vq::linux_platform
