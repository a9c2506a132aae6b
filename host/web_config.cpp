#include "host/web_config.h"

#include <crypt.h>
#include <glib.h>
#include <yaml-cpp/yaml.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace vq::host {
namespace {

const std::array<std::pair<std::string_view, ClientAuth>, 5> kClientAuthTypes = {{
    {"NoClientCert", ClientAuth::NoClientCert},
    {"RequestClientCert", ClientAuth::RequestClientCert},
    {"RequireAnyClientCert", ClientAuth::RequireAnyClientCert},
    {"VerifyClientCertIfGiven", ClientAuth::VerifyClientCertIfGiven},
    {"RequireAndVerifyClientCert", ClientAuth::RequireAndVerifyClientCert},
}};

bool isBcryptHash(std::string_view hash) {
    return hash.size() == 60 && (hash.starts_with("$2a$") || hash.starts_with("$2b$") || hash.starts_with("$2y$"));
}

// Absolute, as GLib's certificate database needs its file.
std::string resolved(const std::string& file, const std::string& folder) {
    if (file.empty()) return file;
    std::error_code error;
    const auto path = std::filesystem::absolute(std::filesystem::path(folder) / file, error);
    return error ? file : path.lexically_normal().string();
}

// Compares without stopping at the first difference.
bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

std::string parseTls(const YAML::Node& node, const std::string& folder, TlsServerConfig& tls) {
    if (!node.IsMap()) return "tls_server_config must be a mapping";
    for (const auto& entry : node) {
        const auto key = entry.first.as<std::string>();
        const auto value = entry.second.as<std::string>();
        if (key == "cert_file") tls.certFile = resolved(value, folder);
        else if (key == "key_file") tls.keyFile = resolved(value, folder);
        else if (key == "client_ca_file") tls.clientCaFile = resolved(value, folder);
        else if (key == "client_auth_type") {
            auto found = std::find_if(kClientAuthTypes.begin(), kClientAuthTypes.end(),
                                      [&](const auto& type) { return type.first == value; });
            if (found == kClientAuthTypes.end()) return "tls_server_config: unknown client_auth_type \"" + value + "\"";
            tls.clientAuth = found->second;
        } else {
            return "tls_server_config: \"" + key + "\" is not supported";
        }
    }
    if (tls.certFile.empty() || tls.keyFile.empty()) return "tls_server_config needs both cert_file and key_file";
    const bool verifies = tls.clientAuth == ClientAuth::VerifyClientCertIfGiven ||
                          tls.clientAuth == ClientAuth::RequireAndVerifyClientCert;
    if (verifies && tls.clientCaFile.empty()) return "tls_server_config: client_auth_type needs client_ca_file";
    return {};
}

}  // namespace

bool WebConfig::authenticatesClients() const {
    return !basicAuthUsers.empty() || (tls && tls->clientAuth == ClientAuth::RequireAndVerifyClientCert);
}

std::variant<WebConfig, std::string> parseWebConfig(std::string_view yaml, const std::string& folder) {
    WebConfig config;
    try {
        const YAML::Node root = YAML::Load(std::string(yaml));
        if (root.IsNull()) return config;
        if (!root.IsMap()) return std::string("the web configuration must be a mapping");
        for (const auto& entry : root) {
            const auto key = entry.first.as<std::string>();
            if (key == "tls_server_config") {
                TlsServerConfig tls;
                if (auto error = parseTls(entry.second, folder, tls); !error.empty()) return error;
                config.tls = tls;
            } else if (key == "basic_auth_users") {
                if (!entry.second.IsMap()) return std::string("basic_auth_users must map user names to bcrypt hashes");
                for (const auto& user : entry.second) {
                    const auto name = user.first.as<std::string>();
                    const auto hash = user.second.as<std::string>();
                    if (!isBcryptHash(hash)) return "basic_auth_users: the hash of \"" + name + "\" is not a bcrypt hash";
                    config.basicAuthUsers[name] = hash;
                }
            } else {
                return "\"" + key + "\" is not supported in the web configuration";
            }
        }
    } catch (const YAML::Exception& e) {
        return std::string("malformed web configuration: ") + e.what();
    }
    return config;
}

std::variant<WebConfig, std::string> readWebConfig(const std::string& path) {
    std::ifstream file(path);
    if (!file) return "cannot read the web configuration " + path;
    std::ostringstream text;
    text << file.rdbuf();
    const auto slash = path.rfind('/');
    auto parsed = parseWebConfig(text.str(), slash == std::string::npos ? "." : path.substr(0, slash));
    if (auto* reason = std::get_if<std::string>(&parsed)) return path + ": " + *reason;
    return parsed;
}

bool checkBasicAuth(const WebConfig& config, std::string_view user, std::string_view password) {
    if (config.basicAuthUsers.empty()) return false;
    // An unknown user's password is checked against a configured hash, at
    // that hash's cost, and the answer is no whatever the result.
    const auto found = config.basicAuthUsers.find(user);
    const bool known = found != config.basicAuthUsers.end();
    const std::string& hash = known ? found->second : config.basicAuthUsers.begin()->second;
    auto data = std::make_unique<crypt_data>();
    const char* computed = ::crypt_r(std::string(password).c_str(), hash.c_str(), data.get());
    const bool matches = computed && computed[0] != '*' && sameText(computed, hash);
    return known && matches;
}

std::optional<std::pair<std::string, std::string>> parseBasicAuthorization(std::string_view header) {
    constexpr std::string_view scheme = "Basic ";
    if (header.size() <= scheme.size() || g_ascii_strncasecmp(header.data(), scheme.data(), scheme.size()) != 0)
        return std::nullopt;
    const std::string encoded(header.substr(scheme.size()));
    gsize length = 0;
    std::unique_ptr<guchar, decltype(&g_free)> decoded(g_base64_decode(encoded.c_str(), &length), &g_free);
    const std::string text(reinterpret_cast<const char*>(decoded.get()), length);
    const auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    return std::pair{text.substr(0, colon), text.substr(colon + 1)};
}

}  // namespace vq::host
