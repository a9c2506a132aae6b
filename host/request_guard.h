#pragma once
// Which requests the host answers at all. The host is reachable only from
// this machine, but any web page the user opens can still aim requests at
// it; these checks keep such pages from reading it or driving it:
// - the Host header must name this server by a loopback name, so a hostile
//   DNS name re-pointed at 127.0.0.1 (DNS rebinding) is refused;
// - a request that carries an Origin must come from this server's own page;
// - calls must be application/json, which a cross-site form or a "simple"
//   cross-origin fetch cannot send without a preflight we never approve;
// - bodies are bounded.
// Everything here is pure and decided from the request head alone, before
// any body is read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::host {

constexpr std::size_t kMaxRequestBodyBytes = 64 * 1024;

// The host names this server answers to, and its port.
struct ServerAuthority {
    std::uint16_t port = 0;
    // Lower-case names, IPv6 literals in brackets: "127.0.0.1", "localhost",
    // "[::1]", plus the literal address given with --listen when that is not
    // one of these.
    std::vector<std::string> hostNames = loopbackHostNames();

    static std::vector<std::string> loopbackHostNames() { return {"127.0.0.1", "localhost", "[::1]"}; }
};

// True when a Host header value ("name[:port]") names this server. Names
// compare case-insensitively; a missing port means 80.
bool isAllowedHost(std::string_view hostHeader, const ServerAuthority& authority);

// True when an Origin header value is this server's own origin
// ("http://name[:port]", no path).
bool isAllowedOrigin(std::string_view origin, const ServerAuthority& authority);

// True when a Content-Type header value has the media type application/json;
// parameters such as charset are allowed.
bool isJsonContentType(std::string_view contentType);

// Calls are POSTed to /call and /batch; paths under /icons/ name files of
// the icon caches (icon_urls.h); /metrics is the Prometheus page; everything
// else is a file of the page.
enum class Route { Call, Batch, Icon, Metrics, File };
Route routeForPath(std::string_view path);
inline bool isCallRoute(Route route) { return route == Route::Call || route == Route::Batch; }

// What the host knows about a request once its headers are in.
struct RequestHead {
    std::string_view method;
    std::string_view path;
    std::optional<std::string_view> host;
    std::optional<std::string_view> origin;
    std::optional<std::string_view> contentType;
    // Declared length of the body; nullopt when it is chunked or absent.
    std::optional<std::uint64_t> contentLength;
};

struct Rejection {
    unsigned status = 0;
    std::string message;
    // The Allow header value for 405 answers.
    std::string allow;
};

// The reason to refuse a request whose body has no single plain length:
// Content-Length beside Transfer-Encoding, repeated or signed lengths. Where
// such a body ends is a guess, so the answer (400) must close the connection
// and the bytes after the body are never read as another request (request
// smuggling). The fields are as sent, repeated ones joined with ", ".
std::optional<Rejection> screenFraming(std::optional<std::string_view> contentLength,
                                       std::optional<std::string_view> transferEncoding);

// The reason to refuse a request before reading its body, or nullopt when it
// may go on to its handler.
std::optional<Rejection> screenRequest(const RequestHead& head, const ServerAuthority& authority);

// A batch that the desktop window's page hands over in process (a WebKit
// script message) instead of POSTing it: it is screened as the POST /batch it
// stands for, sent from the page's address, so only this server's own page
// is answered and the body is bounded as over HTTP.
std::optional<Rejection> screenPageBatch(std::string_view pageUri, std::size_t bodySize,
                                         const ServerAuthority& authority);

}  // namespace vq::host
