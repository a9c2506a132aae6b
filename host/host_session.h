#pragma once
// The plug-in object served over HTTP on the thread's default main context:
// what the headless host and the desktop widget window both run.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "bridge/Velquette.h"
#include "host/fleet_service.h"
#include "alerts/alerts.h"
#include "host/glib_handles.h"
#include "host/host_window.h"
#include "host/http_server.h"

namespace vq::host {

// Why the session could not start, in one line.
struct SessionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class HostSession {
public:
    // Reads the platform (the machine file of VELQUETTE_MACHINE, else this
    // machine), listens, and creates the plug-in object, which asks
    // `prometheus` (else the configuration file's) for the Machines section.
    // Throws SessionError.
    explicit HostSession(const ServerConfig& config, const std::optional<std::string>& prometheus = std::nullopt);
    // The server stops before the plug-in object goes.
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    std::string url() const { return server_->url(); }
    Reply answerPageBatch(std::string_view pageUri, std::string_view body) {
        return server_->answerPageBatch(pageUri, body);
    }

    // The alerts the session runs; null on the simulated machine.
    const alerts::Alerts* alerts() const { return alerts_.get(); }

    // How often the alert rules run, page or no page.
    static constexpr guint kAlertIntervalSeconds = 5;

private:
    std::unique_ptr<alerts::Alerts> alerts_;
    SourcePtr alertTimer_;
    HostWindow window_;
    std::unique_ptr<FleetService> fleet_;
    std::unique_ptr<Velquette> velquette_;
    std::optional<HttpServer> server_;
};

// Runs what is pending on `context` before it goes: GLib gives back the data
// of a cancelled D-Bus signal subscription from an idle callback on the
// subscriber's context. Bounded, against a source that stays ready for ever.
void drainPendingSources(GMainContext* context);

// Keeps the numeric locale at "C" after a toolkit has set the user's locale:
// the plug-in's texts are fixed formats with a decimal point.
void keepNumericLocaleC();

}  // namespace vq::host
