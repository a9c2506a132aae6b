// Chooses the SMC transport of the process. The SMC function module keeps
// process-wide connection handles, so its transport is process-wide too.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "platform/linux/common/roots.h"
#include "platform/linux/sensors/applesmc_attributes.h"
#include "platform/linux/sensors/applesmc_transport.h"
#include "platform/sim/sim_smc.h"
#include "platform/smc_transport.h"

namespace vq {
namespace {

std::shared_ptr<SmcTransport>& installed() {
    static std::shared_ptr<SmcTransport> transport;
    return transport;
}

std::shared_ptr<SmcTransport> fromMachineFile(const char* path) {
    try {
        std::ifstream in(path);
        if (!in) throw std::runtime_error("cannot open machine file");
        const nlohmann::json file = nlohmann::json::parse(in, nullptr, false);
        if (file.is_discarded() || !file.is_object()) throw std::runtime_error("machine file is not a JSON object");
        auto smc = file.find("smc");
        if (smc == file.end()) return makeNoSmcTransport();
        return loadSimSmc(*smc);
    } catch (const std::exception& error) {
        // Standard output belongs to the SMC messages; the reason the
        // machine file was not used goes to standard error.
        std::fprintf(stderr, "velquette: %s: %s; running without an SMC\n", path, error.what());
        return makeNoSmcTransport();
    }
}

std::shared_ptr<SmcTransport> fromEnvironment() {
    if (const char* machine = std::getenv("VELQUETTE_MACHINE"); machine && *machine) return fromMachineFile(machine);
    const auto roots = linux_platform::Roots::fromEnvironment();
    if (auto device = linux_platform::findAppleSmcDevice(roots.sys)) {
        return std::make_shared<linux_platform::AppleSmcTransport>(
            std::make_shared<linux_platform::SysfsAppleSmcAttributes>(*device));
    }
    return makeNoSmcTransport();
}

}  // namespace

SmcTransport& processSmcTransport() {
    auto& transport = installed();
    if (!transport) transport = fromEnvironment();
    return *transport;
}

std::shared_ptr<SmcTransport> installProcessSmcTransport(std::shared_ptr<SmcTransport> transport) {
    return std::exchange(installed(), std::move(transport));
}

}  // namespace vq
