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

namespace vq::host {

struct PrometheusSettings {
    std::string url;  // "" when none is configured
    std::string username, passwordFile, bearerTokenFile;
};

// nullopt when `url` may be used to reach Prometheus, else why not in one
// line: http or https, a host, no credentials (those go in files), no query
// or fragment.
std::optional<std::string> refusePrometheusUrl(const std::string& url);

// The configuration file's path under the user's configuration folder.
std::string configFilePath();

// The settings stored in `path`. A file that is not a key file is moved
// aside to PATH.bad (and the defaults apply), with a line on stderr; a
// stored URL that is refused is left out, with a line on stderr.
PrometheusSettings loadPrometheusSettings(const std::string& path);

// Stores `url` ("" removes it) in `path`, keeping the file's other keys,
// written whole to a temporary file and renamed over it, mode 0600. Nothing
// is written for a refused URL. nullopt when done, else why not.
std::optional<std::string> storePrometheusUrl(const std::string& path, const std::string& url);

}  // namespace vq::host
