#pragma once
// The bridge's fleet calls, answered by the host: the last answer of
// Prometheus, asked afresh at most once per kFleetPeriod however many pages
// call, and never waited for. The first answer is asked for as soon as a
// URL is known, so that it is there by the page's first refresh.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "bridge/fleet_source.h"
#include "host/fleet_config.h"
#include "host/prometheus_client.h"

namespace vq::host {

// The page's default refresh period.
constexpr std::chrono::seconds kFleetPeriod{1};

class FleetService : public FleetSource {
public:
    // `files` keeps velquette.conf (null: nothing is kept); `commandLineUrl`
    // (already checked) overrides its URL until the settings store another.
    FleetService(std::shared_ptr<ConfigFiles> files, std::optional<std::string> commandLineUrl,
                 std::chrono::milliseconds period = kFleetPeriod);

    // null with no Prometheus; [] until its first answer; then the rows of
    // the last answer, or the one-line reason it failed.
    Value fleet() override;
    std::string prometheusUrl() override { return settings_.url; }
    std::string setPrometheusUrl(const std::string& url) override;

private:
    void restart();
    void ask();

    std::shared_ptr<ConfigFiles> files_;
    std::chrono::milliseconds period_;
    PrometheusSettings settings_;
    std::unique_ptr<PrometheusClient> client_;
    Value answer_;
    bool asking_ = false;
    std::chrono::steady_clock::time_point lastAsked_;
};

}  // namespace vq::host
