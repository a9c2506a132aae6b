#include "platform/smc_transport.h"

#include <cstring>

namespace vq {

std::uint32_t packSmcCode(std::string_view code) {
    std::uint32_t packed = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto byte = i < code.size() ? static_cast<unsigned char>(code[i]) : 0u;
        packed |= static_cast<std::uint32_t>(byte) << (24 - 8 * i);
    }
    return packed;
}

SmcServiceLookup SmcService::matchService(std::string_view className) {
    const IOReturn status = lookupStatus();
    if (status != kIOReturnSuccess) return {status, false};
    return {kIOReturnSuccess, className == "AppleSMC" && present()};
}

IOReturn SmcService::open(IOConnect& connect) {
    if (!present()) return kIOReturnNotFound;
    const IOReturn status = openService();
    if (status != kIOReturnSuccess) return status;
    connect = next_++;
    open_.insert(connect);
    return kIOReturnSuccess;
}

IOReturn SmcService::callStructMethod(IOConnect connect, std::uint32_t selector, const SMCParamBlock& in,
                                      SMCParamBlock& out) {
    if (!open_.contains(connect)) return kMachSendInvalidDest;
    if (selector != kSMCUserClientMethod) return kIOReturnUnsupported;
    ++exchanges_;
    SMCParamBlock reply;
    std::memset(&reply, 0, sizeof reply);
    const IOReturn status = exchange(in, reply);
    if (status == kIOReturnSuccess) out = reply;
    return status;
}

IOReturn SmcService::close(IOConnect connect) {
    return open_.erase(connect) == 1 ? kIOReturnSuccess : kMachSendInvalidDest;
}

namespace {

class NoSmc final : public SmcService {
protected:
    bool present() override { return false; }
    IOReturn exchange(const SMCParamBlock&, SMCParamBlock&) override { return kIOReturnNotFound; }
};

}  // namespace

std::shared_ptr<SmcTransport> makeNoSmcTransport() { return std::make_shared<NoSmc>(); }

}  // namespace vq
