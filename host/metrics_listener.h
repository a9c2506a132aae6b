#pragma once
// The second listener (--metrics-listen ADDR:PORT): /metrics alone, never the
// page and never a call, with TLS and basic auth from a web configuration
// file. On an address other than loopback it must authenticate its clients
// (verified client certificates or a password) unless told it may not.

#include <libsoup/soup.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "alerts/alerts.h"
#include "host/glib_handles.h"
#include "host/request_guard.h"
#include "host/web_config.h"
#include "metrics/node_collector.h"

namespace vq::host {

struct MetricsListenConfig {
    std::string address;  // an IP literal
    std::uint16_t port = 0;
    WebConfig web;
    bool insecure = false;  // --metrics-insecure: allow a non-loopback address without authentication
};

// "ADDR:PORT" with "[v6]:PORT" for IPv6; nullopt when not of that form.
std::optional<std::pair<std::string, std::uint16_t>> parseListenAddress(std::string_view text);

// Why the listener must not open, in one line; nullopt when it may.
std::optional<std::string> refuseUnsafeListener(const MetricsListenConfig& config);

class MetricsListener {
public:
    // Throws ListenError with a one-line reason (unsafe address, unreadable
    // certificate or key, address in use).
    explicit MetricsListener(MetricsListenConfig config);
    ~MetricsListener();
    MetricsListener(const MetricsListener&) = delete;
    MetricsListener& operator=(const MetricsListener&) = delete;

    std::uint16_t port() const { return authority_.port; }
    // The alerts whose state /metrics reports, once the session runs them.
    void setAlerts(const alerts::Alerts* alerts) { alerts_ = alerts; }

private:
    static gboolean onIncoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer self);
    static void onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer self);

    MetricsListenConfig config_;
    metrics::NodeScraper scraper_;  // the /metrics page; kept for its open files and buffers
    const alerts::Alerts* alerts_ = nullptr;
    bool checkHost_ = false;  // on loopback, the Host header must name this listener
    ServerAuthority authority_;
    GObjectPtr<SoupServer> server_;
    GObjectPtr<GSocketService> service_;
    GObjectPtr<GTlsCertificate> certificate_;
    GObjectPtr<GTlsDatabase> clientCas_;
};

}  // namespace vq::host
