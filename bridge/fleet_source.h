#pragma once
// What the bridge's fleet calls read: the host's Prometheus client, which
// lives in the host because the plug-in links no HTTP client. The plug-in
// answers null to the page where the host gives it none.

#include <string>

#include "miners/data_set.h"

namespace vq {

class FleetSource {
public:
    virtual ~FleetSource() = default;
    // The last answer: null when no Prometheus is configured, a string (why
    // Prometheus is unreachable) or the machines' rows. Never waits.
    virtual Value fleet() = 0;
    // The configured URL, "" for none.
    virtual std::string prometheusUrl() = 0;
    // Stores and uses `url` ("" forgets it): "" when done, else why not.
    virtual std::string setPrometheusUrl(const std::string& url) = 0;
};

}  // namespace vq
