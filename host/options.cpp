#include "host/options.h"

#include <charconv>

#include "host/fleet_config.h"

namespace vq::host {
namespace {

std::optional<std::uint16_t> parsePort(std::string_view text) {
    std::uint16_t port = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return port;
}

}  // namespace

std::variant<HostOptions, std::string> parseHostOptions(std::span<const std::string_view> args,
                                                        const std::string& defaultWebRoot) {
    HostOptions options;
    options.server.webRoot = defaultWebRoot;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.showHelp = true;
            continue;
        }
        if (arg == "--version") {
            options.showVersion = true;
            continue;
        }
        if (arg == "--metrics-insecure") {
            options.metricsInsecure = true;
            continue;
        }
        std::string_view name = arg.substr(0, arg.find('='));
        if (name != "--port" && name != "--listen" && name != "--web-root" && name != "--metrics-listen" &&
            name != "--web-config" && name != "--prometheus")
            return "unknown option \"" + std::string(arg) + "\"";

        std::string_view value;
        if (name.size() < arg.size()) {
            value = arg.substr(name.size() + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return std::string(name) + " needs a value";
        }

        if (name == "--port") {
            auto port = parsePort(value);
            if (!port) return "--port needs a number from 0 to 65535, not \"" + std::string(value) + "\"";
            options.server.port = *port;
        } else if (value.empty()) {
            return std::string(name) + " needs a value";
        } else if (name == "--listen") {
            options.server.listenAddress = value;
        } else if (name == "--metrics-listen") {
            options.metricsListen = std::string(value);
        } else if (name == "--prometheus") {
            if (auto reason = refusePrometheusUrl(std::string(value))) return "--prometheus: " + *reason;
            options.prometheus = std::string(value);
        } else if (name == "--web-config") {
            options.webConfig = std::string(value);
        } else {
            options.server.webRoot = value;
        }
    }
    if ((options.webConfig || options.metricsInsecure) && !options.metricsListen)
        return std::string("--web-config and --metrics-insecure apply to --metrics-listen, which is not given");
    return options;
}

}  // namespace vq::host
