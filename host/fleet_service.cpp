#include "host/fleet_service.h"

#include "host/fleet_rows.h"

namespace vq::host {

FleetService::FleetService(std::shared_ptr<ConfigFiles> files, std::optional<std::string> commandLineUrl,
                           std::chrono::milliseconds period)
    : files_(std::move(files)), period_(period), settings_(files_ ? loadPrometheusSettings(*files_) : PrometheusSettings{}) {
    if (commandLineUrl) settings_.url = *commandLineUrl;
    restart();
}

void FleetService::restart() {
    client_.reset();
    asking_ = false;
    answer_ = settings_.url.empty() ? Value() : Value::array();
    if (!settings_.url.empty()) {
        client_ = std::make_unique<PrometheusClient>(settings_);
        ask();
    }
}

void FleetService::ask() {
    static const std::vector<std::string> expressions = [] {
        std::vector<std::string> out;
        for (const auto& query : fleetQueries()) out.push_back(query.expression);
        return out;
    }();
    asking_ = true;
    lastAsked_ = std::chrono::steady_clock::now();
    // The client is this object's and drops the callback when it goes.
    client_->queryAll(expressions, [this](RoundResult result) {
        asking_ = false;
        if (auto* reason = std::get_if<std::string>(&result)) {
            answer_ = *reason;
            return;
        }
        const auto& bodies = std::get<std::vector<std::string>>(result);
        const std::vector<std::string_view> views(bodies.begin(), bodies.end());
        auto rows = buildFleetRows(views);
        answer_ = std::holds_alternative<Value>(rows) ? std::move(std::get<Value>(rows)) : Value(std::get<std::string>(rows));
    });
}

Value FleetService::fleet() {
    if (client_ && !asking_ && std::chrono::steady_clock::now() - lastAsked_ >= period_) ask();
    return answer_;
}

std::string FleetService::setPrometheusUrl(const std::string& url) {
    if (!files_) return "the settings cannot be kept on this machine";
    if (auto reason = storePrometheusUrl(*files_, url)) return *reason;
    settings_.url = url;
    restart();
    return "";
}

}  // namespace vq::host
