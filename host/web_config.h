#pragma once
// The part of Prometheus' exporter web configuration file that the metrics
// listener takes:
//
//   tls_server_config:
//     cert_file: server.crt
//     key_file: server.key
//     client_auth_type: RequireAndVerifyClientCert
//     client_ca_file: ca.crt
//   basic_auth_users:
//     prometheus: $2y$10$...     (bcrypt)
//
// Any other key is refused rather than ignored, so that a setting the
// operator relies on is never silently dropped.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vq::host {

enum class ClientAuth { NoClientCert, RequestClientCert, RequireAnyClientCert, VerifyClientCertIfGiven,
                        RequireAndVerifyClientCert };

struct TlsServerConfig {
    std::string certFile;
    std::string keyFile;
    ClientAuth clientAuth = ClientAuth::NoClientCert;
    std::string clientCaFile;  // required by the two verifying modes
};

struct WebConfig {
    std::optional<TlsServerConfig> tls;
    std::map<std::string, std::string, std::less<>> basicAuthUsers;  // user → bcrypt hash

    // Whether a client must prove who it is: verified client certificates or a password.
    bool authenticatesClients() const;
};

// The configuration, or a one-line reason why the text is not one. Relative
// file names are taken from `folder` (the file's own folder).
std::variant<WebConfig, std::string> parseWebConfig(std::string_view yaml, const std::string& folder);

// Reads and parses the file.
std::variant<WebConfig, std::string> readWebConfig(const std::string& path);

// Whether user and password match a configured user. The work is the same
// for an unknown user (checked against a configured hash) as for a wrong
// password, so the answer time does not tell which users exist.
bool checkBasicAuth(const WebConfig& config, std::string_view user, std::string_view password);

// The user and password of an "Authorization: Basic …" value; nullopt when
// it is not one.
std::optional<std::pair<std::string, std::string>> parseBasicAuthorization(std::string_view header);

}  // namespace vq::host
