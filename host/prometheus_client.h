#pragma once
// Prometheus' HTTP API through a libsoup client session on the thread's
// default main context: a round of instant queries sent together, whose
// answers come back through a callback, never blocking the loop. Each
// request has kRequestLimit to finish, and an answer over kAnswerLimit is
// cut off and the round reported as failed.

#include <libsoup/soup.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "host/fleet_config.h"
#include "host/glib_handles.h"

namespace vq::host {

constexpr std::chrono::seconds kRequestLimit{2};
constexpr std::size_t kAnswerLimit = 4 * 1024 * 1024;

// The answers' bodies in the order of the queries, or why the round failed.
using RoundResult = std::variant<std::vector<std::string>, std::string>;

class PrometheusClient {
public:
    // `settings.url` must have passed refusePrometheusUrl.
    explicit PrometheusClient(PrometheusSettings settings);
    // Cancels a round in flight; its callback is not called.
    ~PrometheusClient();
    PrometheusClient(const PrometheusClient&) = delete;
    PrometheusClient& operator=(const PrometheusClient&) = delete;

    // Sends every query of `expressions`; `done` is called once, from the
    // main loop, when all have answered or one has failed.
    void queryAll(const std::vector<std::string>& expressions, std::function<void(RoundResult)> done);

private:
    struct Round;
    struct Request;

    PrometheusSettings settings_;
    GObjectPtr<SoupSession> session_;
    std::shared_ptr<Round> round_;
};

}  // namespace vq::host
