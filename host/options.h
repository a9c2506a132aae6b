#pragma once
// The host's command line:
//   velquette [--port N] [--listen ADDR] [--web-root DIR]

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "host/http_server.h"

namespace vq::host {

struct HostOptions {
    ServerConfig server;
    bool showHelp = false;
};

constexpr std::string_view kUsage =
    "usage: velquette [--port N] [--listen ADDR] [--web-root DIR]\n"
    "  --port N        TCP port, 0 for any free port (default 8765)\n"
    "  --listen ADDR   IP address to listen on (default 127.0.0.1)\n"
    "  --web-root DIR  directory of the widget page\n";

// The options, or a one-line reason why the command line is wrong. Each
// option takes its value as the next argument or after "=".
std::variant<HostOptions, std::string> parseHostOptions(std::span<const std::string_view> args,
                                                        const std::string& defaultWebRoot);

}  // namespace vq::host
