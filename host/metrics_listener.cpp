#include "host/metrics_listener.h"

#include <charconv>

#include "host/http_server.h"
#include "metrics/node_collector.h"

namespace vq::host {
namespace {

bool isLoopback(const std::string& address) {
    GObjectPtr<GInetAddress> parsed(g_inet_address_new_from_string(address.c_str()));
    return parsed && g_inet_address_get_is_loopback(parsed.get());
}

void sendText(SoupServerMessage* msg, unsigned status, const std::string& text) {
    auto* headers = soup_server_message_get_response_headers(msg);
    soup_message_headers_replace(headers, "Connection", "close");
    soup_message_headers_replace(headers, "Cache-Control", "no-store");
    soup_server_message_set_status(msg, status, status == 421 ? "Misdirected Request" : nullptr);
    soup_server_message_set_response(msg, "text/plain; charset=utf-8", SOUP_MEMORY_COPY, text.data(), text.size());
}

GTlsAuthenticationMode authenticationMode(ClientAuth auth) {
    switch (auth) {
    case ClientAuth::NoClientCert: return G_TLS_AUTHENTICATION_NONE;
    case ClientAuth::RequestClientCert:
    case ClientAuth::VerifyClientCertIfGiven: return G_TLS_AUTHENTICATION_REQUESTED;
    case ClientAuth::RequireAnyClientCert:
    case ClientAuth::RequireAndVerifyClientCert: return G_TLS_AUTHENTICATION_REQUIRED;
    }
    return G_TLS_AUTHENTICATION_NONE;
}

// The modes that take a client certificate without checking who signed it.
bool acceptsAnyCertificate(ClientAuth auth) {
    return auth == ClientAuth::RequestClientCert || auth == ClientAuth::RequireAnyClientCert;
}

// A server connection asks about every client certificate, even one that
// the database verified (GLib 2.74): the flags hold what verification found.
gboolean acceptAnyCertificate(GTlsConnection*, GTlsCertificate*, GTlsCertificateFlags, gpointer) { return TRUE; }
gboolean acceptVerifiedCertificate(GTlsConnection*, GTlsCertificate*, GTlsCertificateFlags errors, gpointer) {
    return errors == 0;
}

}  // namespace

std::optional<std::pair<std::string, std::uint16_t>> parseListenAddress(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view host = text.substr(0, colon);
    const std::string_view portText = text.substr(colon + 1);
    if (host.starts_with('[')) {
        if (!host.ends_with(']')) return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt;  // an IPv6 literal needs its brackets
    }
    std::uint16_t port = 0;
    auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || error != std::errc{} || end != portText.data() + portText.size()) return std::nullopt;
    GObjectPtr<GInetAddress> parsed(g_inet_address_new_from_string(std::string(host).c_str()));
    if (!parsed) return std::nullopt;
    return std::pair{std::string(host), port};
}

std::optional<std::string> refuseUnsafeListener(const MetricsListenConfig& config) {
    if (isLoopback(config.address) || config.insecure || config.web.authenticatesClients()) return std::nullopt;
    return "refusing to serve /metrics on " + config.address +
           " without authentication: configure basic_auth_users or client_auth_type RequireAndVerifyClientCert "
           "in --web-config, or pass --metrics-insecure";
}

MetricsListener::MetricsListener(MetricsListenConfig config)
    : config_(std::move(config)), scraper_(linux_platform::Roots::fromEnvironment()) {
    if (auto reason = refuseUnsafeListener(config_)) throw ListenError(*reason);
    GObjectPtr<GInetAddress> address(g_inet_address_new_from_string(config_.address.c_str()));
    if (!address) throw ListenError("cannot listen on \"" + config_.address + "\": not an IP address");

    GError* rawError = nullptr;
    if (const auto& tls = config_.web.tls) {
        certificate_.reset(g_tls_certificate_new_from_files(tls->certFile.c_str(), tls->keyFile.c_str(), &rawError));
        if (!certificate_) {
            ErrorPtr error(rawError);
            throw ListenError("cannot load the TLS certificate " + tls->certFile + " with key " + tls->keyFile + ": " +
                              error->message);
        }
        if (!tls->clientCaFile.empty()) {
            clientCas_.reset(g_tls_file_database_new(tls->clientCaFile.c_str(), &rawError));
            if (!clientCas_) {
                ErrorPtr error(rawError);
                throw ListenError("cannot load the client CA file " + tls->clientCaFile + ": " + error->message);
            }
        }
    }

    server_.reset(SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, nullptr)));
    soup_server_add_handler(server_.get(), nullptr, &MetricsListener::onRequest, this, nullptr);
    service_.reset(g_socket_service_new());
    GObjectPtr<GSocketAddress> socketAddress(g_inet_socket_address_new(address.get(), config_.port));
    GSocketAddress* effective = nullptr;
    if (!g_socket_listener_add_address(G_SOCKET_LISTENER(service_.get()), socketAddress.get(), G_SOCKET_TYPE_STREAM,
                                       G_SOCKET_PROTOCOL_TCP, nullptr, &effective, &rawError)) {
        ErrorPtr error(rawError);
        throw ListenError("cannot listen for /metrics on " + config_.address + " port " + std::to_string(config_.port) +
                          ": " + error->message);
    }
    GObjectPtr<GSocketAddress> bound(effective);
    authority_.port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get()));
    checkHost_ = g_inet_address_get_is_loopback(address.get());
    g_signal_connect(service_.get(), "incoming", G_CALLBACK(&MetricsListener::onIncoming), this);
    g_socket_service_start(service_.get());
}

MetricsListener::~MetricsListener() { stopServing(service_.get(), server_.get(), this); }

gboolean MetricsListener::onIncoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer self) {
    auto& listener = *static_cast<MetricsListener*>(self);
    GObjectPtr<GSocketAddress> local(g_socket_connection_get_local_address(connection, nullptr));
    GObjectPtr<GSocketAddress> remote(g_socket_connection_get_remote_address(connection, nullptr));
    GIOStream* stream = G_IO_STREAM(connection);
    GObjectPtr<GIOStream> tls;
    GError* rawError = nullptr;
    if (listener.certificate_) {
        // The handshake happens on the first read, inside libsoup's own I/O.
        tls.reset(g_tls_server_connection_new(stream, listener.certificate_.get(), &rawError));
        if (!tls) {
            ErrorPtr(rawError).reset();
            return TRUE;
        }
        const auto auth = listener.config_.web.tls->clientAuth;
        g_object_set(tls.get(), "authentication-mode", authenticationMode(auth), nullptr);
        if (listener.clientCas_) g_tls_connection_set_database(G_TLS_CONNECTION(tls.get()), listener.clientCas_.get());
        g_signal_connect(tls.get(), "accept-certificate",
                         acceptsAnyCertificate(auth) ? G_CALLBACK(&acceptAnyCertificate) : G_CALLBACK(&acceptVerifiedCertificate),
                         nullptr);
        stream = tls.get();
    }
    if (!soup_server_accept_iostream(listener.server_.get(), stream, local.get(), remote.get(), &rawError))
        ErrorPtr(rawError).reset();
    return TRUE;
}

void MetricsListener::onRequest(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer self) {
    auto& listener = *static_cast<MetricsListener*>(self);
    auto* headers = soup_server_message_get_request_headers(msg);
    const std::string_view method = soup_server_message_get_method(msg);
    if (std::string_view(path) != "/metrics") return sendText(msg, 404, "only /metrics is served here\n");
    if (method != "GET" && method != "HEAD") {
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Allow", "GET, HEAD");
        return sendText(msg, 405, "only GET and HEAD are served here\n");
    }
    const char* host = soup_message_headers_get_list(headers, "Host");
    if (listener.checkHost_ && (!host || !isAllowedHost(host, listener.authority_)))
        return sendText(msg, 421, "Host header does not name this server\n");
    if (!listener.config_.web.basicAuthUsers.empty()) {
        const char* authorization = soup_message_headers_get_one(headers, "Authorization");
        const auto credentials = authorization ? parseBasicAuthorization(authorization) : std::nullopt;
        if (!credentials || !checkBasicAuth(listener.config_.web, credentials->first, credentials->second)) {
            soup_message_headers_replace(soup_server_message_get_response_headers(msg), "WWW-Authenticate",
                                         "Basic realm=\"velquette\"");
            return sendText(msg, 401, "wrong user name or password\n");
        }
    }
    serveMetrics(msg, listener.scraper_, listener.alerts_);
}

}  // namespace vq::host
