#include "host/request_guard.h"

#include <algorithm>
#include <charconv>

namespace vq::host {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view trimmed(std::string_view s) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Splits "name[:port]" (with "[v6]" literals) into its parts. nullopt for
// anything that is not plainly of that form.
struct Authority {
    std::string_view name;
    std::uint16_t port;
};

std::optional<Authority> parseAuthority(std::string_view text) {
    std::string_view name;
    std::string_view rest;
    if (text.starts_with('[')) {
        auto close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        name = text.substr(0, close + 1);
        rest = text.substr(close + 1);
    } else {
        auto colon = text.find(':');
        name = text.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view{} : text.substr(colon);
    }
    if (name.empty()) return std::nullopt;
    if (rest.empty()) return Authority{name, 80};
    if (rest.front() != ':' || rest.size() == 1) return std::nullopt;
    rest.remove_prefix(1);
    std::uint16_t port = 0;
    auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), port);
    if (error != std::errc{} || end != rest.data() + rest.size()) return std::nullopt;
    return Authority{name, port};
}

bool namesThisServer(std::string_view text, const ServerAuthority& authority) {
    auto parsed = parseAuthority(text);
    if (!parsed || parsed->port != authority.port) return false;
    return std::any_of(authority.hostNames.begin(), authority.hostNames.end(),
                       [&](const std::string& name) { return equalsIgnoringCase(parsed->name, name); });
}

}  // namespace

bool isAllowedHost(std::string_view hostHeader, const ServerAuthority& authority) {
    return namesThisServer(trimmed(hostHeader), authority);
}

bool isAllowedOrigin(std::string_view origin, const ServerAuthority& authority) {
    // Browsers serialise origins in lower case, without a path.
    constexpr std::string_view scheme = "http://";
    origin = trimmed(origin);
    if (!origin.starts_with(scheme)) return false;
    origin.remove_prefix(scheme.size());
    if (origin.find_first_of("/?#@") != std::string_view::npos) return false;
    return namesThisServer(origin, authority);
}

bool isJsonContentType(std::string_view contentType) {
    auto mediaType = trimmed(contentType.substr(0, contentType.find(';')));
    return equalsIgnoringCase(mediaType, "application/json");
}

Route routeForPath(std::string_view path) {
    if (path == "/call") return Route::Call;
    if (path == "/batch") return Route::Batch;
    if (path.starts_with("/icons/")) return Route::Icon;
    if (path == "/metrics") return Route::Metrics;
    return Route::File;
}

std::optional<Rejection> screenFraming(std::optional<std::string_view> contentLength,
                                       std::optional<std::string_view> transferEncoding) {
    constexpr auto npos = std::string_view::npos;
    if (contentLength && transferEncoding)
        return Rejection{400, "a request must not carry both Content-Length and Transfer-Encoding", {}};
    if (contentLength && (contentLength->empty() || contentLength->find_first_not_of("0123456789") != npos))
        return Rejection{400, "Content-Length must be one decimal number", {}};
    return std::nullopt;
}

std::optional<Rejection> screenRequest(const RequestHead& head, const ServerAuthority& authority) {
    if (!head.host) return Rejection{400, "missing Host header", {}};
    if (!isAllowedHost(*head.host, authority))
        return Rejection{421, "Host header does not name this server", {}};

    const bool isCall = isCallRoute(routeForPath(head.path));
    if (isCall) {
        if (head.method != "POST") return Rejection{405, "calls must use POST", "POST"};
    } else if (head.method != "GET" && head.method != "HEAD") {
        return Rejection{405, "only GET and HEAD are served here", "GET, HEAD"};
    }

    if (head.origin && !isAllowedOrigin(*head.origin, authority))
        return Rejection{403, "requests from other origins are refused", {}};

    if (isCall) {
        if (!head.contentType || !isJsonContentType(*head.contentType))
            return Rejection{415, "calls must be sent as application/json", {}};
        if (head.contentLength && *head.contentLength > kMaxRequestBodyBytes)
            return Rejection{413, "request body is larger than 65536 bytes", {}};
    }
    return std::nullopt;
}

std::optional<Rejection> screenPageBatch(std::string_view pageUri, std::size_t bodySize,
                                         const ServerAuthority& authority) {
    constexpr std::string_view scheme = "http://";
    if (!pageUri.starts_with(scheme)) return Rejection{403, "only this server's own page may call it", {}};
    const std::string_view origin = pageUri.substr(0, pageUri.find_first_of("/?#", scheme.size()));
    const RequestHead head{"POST", "/batch", origin.substr(scheme.size()), origin, "application/json", bodySize};
    return screenRequest(head, authority);
}

}  // namespace vq::host
