#pragma once
// Where the host finds Prometheus: the [prometheus] group of the host's
// configuration file, $XDG_CONFIG_HOME/velquette/velquette.conf (a GLib key
// file, mode 0600):
//   url=http://prometheus.lan:9090/
//   username=widget             with password-file=PATH: basic auth
//   bearer-token-file=PATH      or a bearer token
// The secrets stay in their files, read at each query, and never reach the
// page.

#include <optional>
#include <string>

#include "platform/config_files.h"

namespace vq::host {

struct PrometheusSettings {
    std::string url;  // "" when none is configured
    std::string username, passwordFile, bearerTokenFile;
};

// nullopt when `url` may be used to reach Prometheus, else why not in one
// line: http or https, a host, no credentials (those go in files), no query
// or fragment.
std::optional<std::string> refusePrometheusUrl(const std::string& url);

// The host's configuration file among the user's settings files.
constexpr const char* kConfigFileName = "velquette.conf";

// The settings stored in velquette.conf. A file that is not a key file is
// set aside as velquette.conf.bad (and the defaults apply), with a line on
// stderr; a stored URL that is refused is left out, with a line on stderr.
PrometheusSettings loadPrometheusSettings(ConfigFiles& files);

// Stores `url` ("" removes it) in velquette.conf, keeping the file's other
// keys; the settings files replace a file whole and privately. Nothing is
// written for a refused URL. nullopt when done, else why not.
std::optional<std::string> storePrometheusUrl(ConfigFiles& files, const std::string& url);

}  // namespace vq::host
