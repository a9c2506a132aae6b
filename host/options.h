#pragma once
// The host's command line:
//   velquette [--port N] [--listen ADDR] [--web-root DIR]
//             [--metrics-listen ADDR:PORT [--web-config FILE] [--metrics-insecure]]
//             [--prometheus URL]

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "host/http_server.h"

namespace vq::host {

struct HostOptions {
    ServerConfig server;
    std::optional<std::string> metricsListen;  // ADDR:PORT of the second, /metrics-only listener
    std::optional<std::string> webConfig;      // its TLS and basic auth settings
    bool metricsInsecure = false;
    std::optional<std::string> prometheus;     // where the Machines section's figures come from
    bool showHelp = false;
    bool showVersion = false;
};

constexpr std::string_view kUsage =
    "usage: velquette [--port N] [--listen ADDR] [--web-root DIR]\n"
    "                 [--metrics-listen ADDR:PORT [--web-config FILE] [--metrics-insecure]] [--prometheus URL]\n"
    "  --port N        TCP port, 0 for any free port (default 8765)\n"
    "  --listen ADDR   IP address to listen on (default 127.0.0.1)\n"
    "  --web-root DIR  directory of the widget page\n"
    "  --metrics-listen ADDR:PORT  also serve /metrics alone there ([v6]:PORT for IPv6)\n"
    "  --web-config FILE           TLS and basic auth of that listener (Prometheus' web-config format)\n"
    "  --metrics-insecure          allow it on a non-loopback address without authentication\n"
    "  --prometheus URL            show the machines this Prometheus scrapes (over the configuration file's URL)\n"
    "  --help                      show this help and exit\n"
    "  --version                   show the version and exit\n";

// The options, or a one-line reason why the command line is wrong. Each
// option takes its value as the next argument or after "=".
std::variant<HostOptions, std::string> parseHostOptions(std::span<const std::string_view> args,
                                                        const std::string& defaultWebRoot);

}  // namespace vq::host
