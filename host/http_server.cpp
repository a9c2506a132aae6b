#include "host/http_server.h"

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <optional>
#include <string_view>

#include "host/call_protocol.h"
#include "host/icon_urls.h"
#include "host/static_files.h"
#include "metrics/node_collector.h"
#include "metrics/node_families.h"

namespace vq::host {
namespace {

constexpr const char* kNoObject = "the plug-in object is not available";

std::optional<std::string_view> headerValue(SoupMessageHeaders* headers, const char* name) {
    // get_list joins repeated headers with ", ", which no check accepts, so a
    // request cannot smuggle a second Host or Origin past the first.
    const char* value = soup_message_headers_get_list(headers, name);
    if (!value) return std::nullopt;
    return std::string_view(value);
}

void addCommonHeaders(SoupServerMessage* msg) {
    auto* headers = soup_server_message_get_response_headers(msg);
    // libsoup 3.2 serves one request on a connection that it did not accept
    // itself (see listenOn); saying so lets a client open its next connection
    // at once instead of finding this one closed under its next request.
    soup_message_headers_replace(headers, "Connection", "close");
    soup_message_headers_replace(headers, "X-Content-Type-Options", "nosniff");
    soup_message_headers_replace(headers, "Referrer-Policy", "no-referrer");
}

void sendReply(SoupServerMessage* msg, const Reply& reply) {
    addCommonHeaders(msg);
    soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Cache-Control", "no-store");
    // libsoup 3.2 has no phrase for 421 and would send "Unknown Error".
    soup_server_message_set_status(msg, reply.status, reply.status == 421 ? "Misdirected Request" : nullptr);
    soup_server_message_set_response(msg, "application/json", SOUP_MEMORY_COPY, reply.body.data(),
                                     reply.body.size());
}

// Stops keeping the body of a request that will not be served; libsoup still
// reads it off the connection, but nothing of it is stored.
void dropRequestBody(SoupServerMessage* msg) {
    auto* body = soup_server_message_get_request_body(msg);
    soup_message_body_set_accumulate(body, FALSE);
    soup_message_body_truncate(body);
}

void refuseTooLarge(SoupServerMessage* msg) {
    dropRequestBody(msg);
    sendReply(msg, errorReply(413, "request body is larger than 65536 bytes"));
}

std::string urlHost(GInetAddress* address) {
    // A wildcard address is reached through loopback.
    if (g_inet_address_get_is_any(address))
        return g_inet_address_get_family(address) == G_SOCKET_FAMILY_IPV6 ? "[::1]" : "127.0.0.1";
    GCharPtr text(g_inet_address_to_string(address));
    if (g_inet_address_get_family(address) == G_SOCKET_FAMILY_IPV6) return "[" + std::string(text.get()) + "]";
    return text.get();
}

}  // namespace

// Read afresh from the machine for every request, beside the plug-in object
// rather than through it, so that a scrape clears no miner's change flag.
void serveMetrics(SoupServerMessage* msg, metrics::NodeScraper& scraper, const alerts::Alerts* alerts) {
    const std::string& text = scraper.scrape([alerts](metrics::ExpositionWriter& out) {
        if (!alerts) return;
        std::vector<std::string_view> rules;
        for (const auto kind : alerts::kRuleKinds) rules.emplace_back(alerts::ruleName(kind));
        metrics::writeAlerts(out, rules, alerts->firingAlerts());
    });
    addCommonHeaders(msg);
    soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Cache-Control", "no-store");
    soup_server_message_set_status(msg, 200, nullptr);
    soup_server_message_set_response(msg, metrics::kExpositionContentType, SOUP_MEMORY_COPY, text.data(), text.size());
}

HttpServer::HttpServer(const ServerConfig& config, HostWindow& window)
    : window_(window), webRoot_(config.webRoot), scraper_(linux_platform::Roots::fromEnvironment()) {
    GObjectPtr<GInetAddress> address(g_inet_address_new_from_string(config.listenAddress.c_str()));
    if (!address) throw ListenError("cannot listen on \"" + config.listenAddress + "\": not an IP address");

    server_.reset(SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "raw-paths", TRUE, nullptr)));
    soup_server_add_early_handler(server_.get(), nullptr, &HttpServer::onRequestHeaders, this, nullptr);
    soup_server_add_handler(server_.get(), nullptr, &HttpServer::onRequest, this, nullptr);

    GObjectPtr<GSocketAddress> socketAddress(g_inet_socket_address_new(address.get(), config.port));
    GError* rawError = nullptr;
    const GObjectPtr<GSocket> socket = listenOn(socketAddress.get(), &rawError);
    if (!socket) {
        ErrorPtr error(rawError);
        GCharPtr shown(g_inet_address_to_string(address.get()));
        const bool inUse = g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_ADDRESS_IN_USE);
        throw ListenError("cannot listen on " + std::string(shown.get()) + " port " + std::to_string(config.port) +
                          ": " + (inUse ? std::string("the port is already in use") : error->message));
    }

    GError* addressError = nullptr;
    GObjectPtr<GSocketAddress> bound(g_socket_get_local_address(socket.get(), &addressError));
    if (!bound) {
        ErrorPtr error(addressError);
        throw ListenError(std::string("cannot read the listening address: ") + error->message);
    }
    authority_.port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get()));

    // An explicit non-loopback address is also accepted as the Host, as a
    // literal; literals cannot be re-pointed the way DNS names can.
    if (!g_inet_address_get_is_any(address.get()) && !g_inet_address_get_is_loopback(address.get()))
        authority_.hostNames.push_back(urlHost(address.get()));

    url_ = "http://" + urlHost(address.get()) + ":" + std::to_string(authority_.port) + "/";
}

// The listening socket is made here rather than by libsoup, for its backlog:
// GLib's default of 10 drops the connections of a burst (a page's requests
// beside idle keep-alive sockets), and each dropped one waits a second for
// the kernel to send its SYN again. Connections are accepted by a GIO socket
// service and handed to libsoup: libsoup 3.2's own listener keeps a reference
// to every socket it accepts, some 340 bytes lost per connection.
//
// Every connection takes a descriptor, and a desktop session's soft limit is
// often 1024; once an accept fails for want of one, libsoup 3.2 accepts no
// more connections at all. The host takes its hard limit, so that only far
// more connections than any client holds could come near it.
GObjectPtr<GSocket> HttpServer::listenOn(GSocketAddress* address, GError** error) {
    if (rlimit files{}; ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    GObjectPtr<GSocket> socket(
        g_socket_new(g_socket_address_get_family(address), G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, error));
    if (!socket) return nullptr;
    if (g_socket_address_get_family(address) == G_SOCKET_FAMILY_IPV6)
        g_socket_set_option(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, TRUE, nullptr);
    g_socket_set_listen_backlog(socket.get(), SOMAXCONN);
    if (!g_socket_bind(socket.get(), address, TRUE, error) || !g_socket_listen(socket.get(), error)) return nullptr;
    service_.reset(g_socket_service_new());
    if (!g_socket_listener_add_socket(G_SOCKET_LISTENER(service_.get()), socket.get(), nullptr, error)) return nullptr;
    g_signal_connect(service_.get(), "incoming", G_CALLBACK(&HttpServer::onIncoming), this);
    g_socket_service_start(service_.get());
    return socket;
}

gboolean HttpServer::onIncoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer self) {
    auto& server = *static_cast<HttpServer*>(self);
    GObjectPtr<GSocketAddress> local(g_socket_connection_get_local_address(connection, nullptr));
    GObjectPtr<GSocketAddress> remote(g_socket_connection_get_remote_address(connection, nullptr));
    GError* rawError = nullptr;
    // libsoup takes its own reference to the stream; one it cannot take is closed with the connection.
    if (!soup_server_accept_iostream(server.server_.get(), G_IO_STREAM(connection), local.get(), remote.get(),
                                     &rawError))
        ErrorPtr(rawError).reset();
    return TRUE;
}

void stopServing(GSocketService* service, SoupServer* server, gpointer owner) {
    if (service) {
        g_socket_service_stop(service);
        g_socket_listener_close(G_SOCKET_LISTENER(service));
        g_signal_handlers_disconnect_by_data(service, owner);
    }
    if (server) soup_server_disconnect(server);
}

HttpServer::~HttpServer() { stopServing(service_.get(), server_.get(), this); }

void HttpServer::onRequestHeaders(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                                  gpointer self) {
    auto& server = *static_cast<HttpServer*>(self);
    auto* headers = soup_server_message_get_request_headers(msg);

    RequestHead head;
    head.method = soup_server_message_get_method(msg);
    head.path = path;
    head.host = headerValue(headers, "Host");
    head.origin = headerValue(headers, "Origin");
    head.contentType = headerValue(headers, "Content-Type");
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH)
        head.contentLength = std::uint64_t(soup_message_headers_get_content_length(headers));
    // An absolute-form target ("POST http://name/call") names the server in
    // place of the Host header (RFC 9112, 3.2.2), so it must name this one too.
    GUri* uri = soup_server_message_get_uri(msg);
    std::string target = uri && g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
    if (target.find(':') != std::string::npos) target = "[" + target + "]";
    if (uri && g_uri_get_port(uri) != -1) target += ":" + std::to_string(g_uri_get_port(uri));

    auto rejection = screenFraming(headerValue(headers, "Content-Length"), headerValue(headers, "Transfer-Encoding"));
    if (!rejection) rejection = screenRequest(head, server.authority_);
    if (!rejection && !target.empty() && !isAllowedHost(target, server.authority_))
        rejection = Rejection{421, "the request target does not name this server", {}};
    if (rejection) {
        if (rejection->status == 413) {
            refuseTooLarge(msg);
            return;
        }
        dropRequestBody(msg);
        if (!rejection->allow.empty())
            soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Allow",
                                         rejection->allow.c_str());
        sendReply(msg, errorReply(rejection->status, rejection->message));
        return;
    }
    // A chunked body declares no length; it is measured as it arrives.
    if (isCallRoute(routeForPath(path)))
        g_signal_connect(msg, "got-chunk", G_CALLBACK(&HttpServer::onRequestChunk), self);
}

void HttpServer::onRequestChunk(SoupServerMessage* msg, GBytes*, gpointer) {
    auto* body = soup_server_message_get_request_body(msg);
    if (soup_server_message_get_status(msg) == 0 && std::uint64_t(body->length) > kMaxRequestBodyBytes)
        refuseTooLarge(msg);
}

void HttpServer::onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer self) {
    auto& server = *static_cast<HttpServer*>(self);
    switch (auto route = routeForPath(path)) {
    case Route::File:
        server.serveFile(msg, path);
        break;
    case Route::Icon:
        server.serveIcon(msg, path);
        break;
    case Route::Metrics:
        serveMetrics(msg, server.scraper_, [&]() -> const alerts::Alerts* {
            const Velquette* object = server.window_.valueForKey(kScriptObjectKey);
            return object ? object->alerts() : nullptr;
        }());
        break;
    case Route::Call:
    case Route::Batch:
        server.serveCall(msg, route);
        break;
    }
}

void HttpServer::serveCall(SoupServerMessage* msg, Route route) {
    Velquette* object = window_.valueForKey(kScriptObjectKey);
    if (!object) {
        sendReply(msg, errorReply(503, kNoObject));
        return;
    }
    BytesPtr bytes(soup_message_body_flatten(soup_server_message_get_request_body(msg)));
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    std::string_view text(data ? data : "", size);
    sendReply(msg, route == Route::Call ? answerCall(*object, text) : answerBatch(*object, text));
}

Reply HttpServer::answerPageBatch(std::string_view pageUri, std::string_view body) {
    if (auto rejection = screenPageBatch(pageUri, body.size(), authority_))
        return errorReply(rejection->status, rejection->message);
    Velquette* object = window_.valueForKey(kScriptObjectKey);
    return object ? answerBatch(*object, body) : errorReply(503, kNoObject);
}

void HttpServer::serveIcon(SoupServerMessage* msg, const char* path) {
    // Only the plug-in object knows its caches; without it there are none.
    Velquette* object = window_.valueForKey(kScriptObjectKey);
    auto request = iconRequestForUrlPath(path);
    auto icon = object && request ? loadIconFile(iconCachesOf(*object), *request) : std::nullopt;
    if (!icon) {
        sendReply(msg, errorReply(404, "no such icon"));
        return;
    }
    addCommonHeaders(msg);
    // An icon is named after its volume or application, and its picture
    // changes when the cache is refreshed: always revalidate.
    soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Cache-Control", "no-cache");
    soup_server_message_set_status(msg, 200, nullptr);
    soup_server_message_set_response(msg, "image/png", SOUP_MEMORY_COPY, icon->data(), icon->size());
}

void HttpServer::serveFile(SoupServerMessage* msg, const char* path) {
    auto relative = webRelativePath(path);
    auto file = relative ? loadWebFile(webRoot_, *relative) : std::nullopt;
    if (!file) {
        sendReply(msg, errorReply(404, "no such file"));
        return;
    }
    addCommonHeaders(msg);
    auto* headers = soup_server_message_get_response_headers(msg);
    soup_message_headers_replace(headers, "Cache-Control", "no-cache");
    if (file->contentType.starts_with("text/html"))
        soup_message_headers_replace(headers, "Content-Security-Policy",
                                     "default-src 'self'; img-src 'self' data:; object-src 'none'; "
                                     "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
    soup_server_message_set_status(msg, 200, nullptr);
    soup_server_message_set_response(msg, file->contentType.c_str(), SOUP_MEMORY_COPY, file->contents.data(),
                                     file->contents.size());
}

}  // namespace vq::host
