#pragma once
// The SMC through the Linux applesmc driver. The driver offers no read by
// name: it lists the SMC's keys by index (write the index to key_at_index,
// then read key_at_index_name, _type, _data_length and _data). The SMC keeps
// its keys sorted, so a key is found by bisection over the index, and what
// never changes (names, types, sizes) is cached per connection.
//
// Writes: the driver writes only a few keys, through its fan files. Writing
// "F%dMn" and "F%dTg" (fpe2, two bytes) goes to fanN_min and fanN_output and
// "FS! " to the fanN_manual files; every other write answers
// kIOReturnUnsupported. A refused file answers kIOReturnNotPrivileged.
//
// Only root can move the driver's index, so for other users the connection
// itself is refused with kIOReturnNotPrivileged.

#include <memory>
#include <optional>
#include <string>
#include <map>

#include "platform/linux/sensors/applesmc_attributes.h"
#include "platform/smc_transport.h"

namespace vq::linux_platform {

class AppleSmcTransport final : public SmcService {
public:
    explicit AppleSmcTransport(std::shared_ptr<AppleSmcAttributes> attributes);

protected:
    bool present() override { return true; }
    IOReturn openService() override;
    IOReturn exchange(const SMCParamBlock& request, SMCParamBlock& reply) override;

private:
    struct Entry {
        std::optional<std::string> name;
        std::optional<std::string> type;
        std::optional<std::uint32_t> size;
    };

    // Selects the index and reads one of its attributes. key_at_index is a
    // single selector shared by every reader of the device, so the read
    // counts only when the selector still holds our index afterwards.
    IOReturn readAtIndex(std::uint32_t index, const std::string& attribute, std::string& content);
    IOReturn nameAt(std::uint32_t index, std::string& name);
    IOReturn entryInfo(std::uint32_t index, Entry*& entry);
    // The key's index, or nullopt (and success) when the SMC has no such key.
    IOReturn find(const std::string& key, std::optional<std::uint32_t>& index);
    IOReturn write(const std::string& key, const SMCParamBlock& request);
    IOReturn writeFanManual(std::uint16_t mask);

    std::shared_ptr<AppleSmcAttributes> attributes_;
    std::uint32_t count_ = 0;
    std::map<std::uint32_t, Entry> entries_;  // by index, filled as they are read
};

// The errno of an attribute file as an IOKit status.
IOReturn ioReturnFromErrno(int error);

}  // namespace vq::linux_platform
