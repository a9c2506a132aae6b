#pragma once
// The host's HTTP server: a libsoup server on the thread-default main
// context that serves the widget page and dispatches script calls to the
// object on the host's window. See request_guard.h for what it refuses and
// call_protocol.h for the call format.

#include <libsoup/soup.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/call_protocol.h"
#include "alerts/alerts.h"
#include "host/glib_handles.h"
#include "host/host_window.h"
#include "host/request_guard.h"
#include "metrics/node_collector.h"

namespace vq::host {

struct ListenError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ServerConfig {
    std::string listenAddress = "127.0.0.1";  // an IPv4 or IPv6 literal
    std::uint16_t port = 8765;                 // 0 picks a free port
    std::string webRoot;
};

// Answers a GET of /metrics: the machine's figures in Prometheus' text format.
// With `alerts` (may be null), the alerts' families too.
void serveMetrics(SoupServerMessage* msg, metrics::NodeScraper& scraper, const alerts::Alerts* alerts);

// Stops a socket service that hands its connections to a libsoup server
// (either may be null): no new connection is taken and `owner`'s handlers
// are gone, so no callback reaches an object being destroyed.
void stopServing(GSocketService* service, SoupServer* server, gpointer owner);

class HttpServer {
public:
    // Starts listening on the thread-default main context. Throws ListenError
    // when the address is not a literal or cannot be bound.
    HttpServer(const ServerConfig& config, HostWindow& window);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return authority_.port; }
    // "http://127.0.0.1:PORT/", with brackets around an IPv6 address.
    const std::string& url() const { return url_; }

    // A batch from the desktop window's page, handed over in process rather
    // than POSTed (request_guard.h: screenPageBatch), answered as /batch.
    Reply answerPageBatch(std::string_view pageUri, std::string_view body);

private:
    static void onRequestHeaders(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer self);
    static void onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer self);
    static void onRequestChunk(SoupServerMessage* msg, GBytes* chunk, gpointer self);

    void serveFile(SoupServerMessage* msg, const char* path);
    GObjectPtr<GSocket> listenOn(GSocketAddress* address, GError** error);
    static gboolean onIncoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer self);
    void serveCall(SoupServerMessage* msg, Route route);
    void serveIcon(SoupServerMessage* msg, const char* path);

    HostWindow& window_;
    std::string webRoot_;
    metrics::NodeScraper scraper_;  // the /metrics page; kept for its open files and buffers
    ServerAuthority authority_;
    std::string url_;
    GObjectPtr<SoupServer> server_;
    GObjectPtr<GSocketService> service_;
};

}  // namespace vq::host
