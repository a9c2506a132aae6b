#include "host/host_session.h"

#include <clocale>

#include "platform/platform.h"

namespace vq::host {

HostSession::HostSession(const ServerConfig& config, const std::optional<std::string>& prometheus) {
    std::optional<Platform> platform;
    try {
        platform = makePlatformFromEnvironment();
    } catch (const std::exception& e) {
        throw SessionError(e.what());
    }
    try {
        server_.emplace(config, window_);
    } catch (const ListenError& e) {
        throw SessionError(e.what());
    }
    if (!platform->simulated)
        alerts_ = std::make_unique<alerts::Alerts>(*platform, [] { return g_get_monotonic_time() / G_USEC_PER_SEC; });
    // The settings files stay shared with the fleet once the platform is the object's.
    const std::shared_ptr<ConfigFiles> configFiles = platform->configFiles;
    try {
        velquette_ = std::make_unique<Velquette>(std::move(*platform));
    } catch (const std::exception& e) {
        server_.reset();
        throw SessionError(std::string("cannot create the plug-in object: ") + e.what());
    }
    fleet_ = std::make_unique<FleetService>(configFiles, prometheus);
    velquette_->setFleetSource(fleet_.get());
    velquette_->windowScriptObjectAvailable(window_);
    if (alerts_) {
        velquette_->setAlerts(alerts_.get());
        alerts_->evaluate();
        alertTimer_.reset(g_timeout_source_new_seconds(kAlertIntervalSeconds));
        g_source_set_callback(
            alertTimer_.get(),
            [](gpointer data) -> gboolean {
                static_cast<alerts::Alerts*>(data)->evaluate();
                return G_SOURCE_CONTINUE;
            },
            alerts_.get(), nullptr);
        g_source_attach(alertTimer_.get(), g_main_context_get_thread_default());
    }
}

HostSession::~HostSession() {
    alertTimer_.reset();
    server_.reset();
    window_.clear();
    velquette_.reset();
    fleet_.reset();
}

void drainPendingSources(GMainContext* context) {
    for (int i = 0; i < 100 && g_main_context_iteration(context, FALSE); ++i) {
    }
}

void keepNumericLocaleC() { std::setlocale(LC_NUMERIC, "C"); }

}  // namespace vq::host
