// What the host refuses before reading a body: Host, Origin, content type,
// method and declared size.

#include "host/request_guard.h"

#include <gtest/gtest.h>

namespace vq::host {
namespace {

ServerAuthority atPort(std::uint16_t port) {
    ServerAuthority authority;
    authority.port = port;
    return authority;
}

struct HostCase {
    const char* header;
    bool allowed;
};

TEST(RequestGuardTest, HostHeaderMustNameThisServerByALoopbackName) {
    const HostCase cases[] = {
        {"127.0.0.1:8765", true},
        {"localhost:8765", true},
        {"LocalHost:8765", true},
        {"[::1]:8765", true},
        {" localhost:8765 ", true},
        // DNS rebinding: a foreign name that resolves to 127.0.0.1.
        {"attacker.example:8765", false},
        {"localhost.attacker.example:8765", false},
        {"127.0.0.1.nip.io:8765", false},
        // The right name on another port is another server.
        {"127.0.0.1:8766", false},
        {"localhost", false},
        {"127.0.0.1:", false},
        {"127.0.0.1:8765x", false},
        {"127.0.0.1:+8765", false},
        {"127.0.0.1:99999", false},
        {"[::1]8765", false},
        {"[::1", false},
        {"::1:8765", false},
        {"0.0.0.0:8765", false},
        {"127.0.0.2:8765", false},
        {"", false},
        // Repeated headers arrive joined; neither half may slip through.
        {"127.0.0.1:8765, attacker.example:8765", false},
        {"localhost:8765@attacker.example", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isAllowedHost(c.header, atPort(8765)), c.allowed) << c.header;
}

TEST(RequestGuardTest, PortEightyMayBeLeftOut) {
    EXPECT_TRUE(isAllowedHost("localhost", atPort(80)));
    EXPECT_TRUE(isAllowedHost("localhost:80", atPort(80)));
    EXPECT_TRUE(isAllowedOrigin("http://localhost", atPort(80)));
}

TEST(RequestGuardTest, AnExplicitListenAddressIsAcceptedAsALiteral) {
    auto authority = atPort(8765);
    authority.hostNames.push_back("192.168.1.20");
    EXPECT_TRUE(isAllowedHost("192.168.1.20:8765", authority));
    EXPECT_TRUE(isAllowedOrigin("http://192.168.1.20:8765", authority));
    EXPECT_FALSE(isAllowedHost("192.168.1.21:8765", authority));
}

TEST(RequestGuardTest, OriginMustBeThisServersOwnPage) {
    const HostCase cases[] = {
        {"http://127.0.0.1:8765", true},
        {"http://localhost:8765", true},
        {"http://[::1]:8765", true},
        {"https://localhost:8765", false},
        {"http://localhost:8766", false},
        {"http://attacker.example", false},
        {"http://localhost:8765.attacker.example", false},
        {"http://localhost:8765/", false},
        {"http://user@localhost:8765", false},
        {"null", false},
        {"", false},
        {"localhost:8765", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isAllowedOrigin(c.header, atPort(8765)), c.allowed) << c.header;
}

TEST(RequestGuardTest, OnlyJsonBodiesAreCalls) {
    const HostCase cases[] = {
        {"application/json", true},
        {"application/json; charset=utf-8", true},
        {"Application/JSON;charset=UTF-8", true},
        {" application/json ", true},
        // What a cross-site form or a preflight-free fetch can send.
        {"text/plain", false},
        {"text/plain; charset=utf-8", false},
        {"application/x-www-form-urlencoded", false},
        {"multipart/form-data; boundary=x", false},
        {"application/jsonp", false},
        {"application/json-patch+json", false},
        {"application/json, text/plain", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isJsonContentType(c.header), c.allowed) << c.header;
}

struct ScreenCase {
    const char* what;
    RequestHead head;
    unsigned status;  // 0: goes on to its handler
    const char* allow = "";
};

TEST(RequestGuardTest, RoutesByPath) {
    const std::pair<const char*, Route> cases[] = {
        {"/call", Route::Call},           {"/batch", Route::Batch},         {"/icons/volumes/a.png", Route::Icon},
        {"/icons/", Route::Icon},         {"/icons", Route::File},          {"/iconsx/a.png", Route::File},
        {"/call/", Route::File},          {"/", Route::File},               {"/widget.js", Route::File},
    };
    for (const auto& [path, route] : cases) EXPECT_EQ(routeForPath(path), route) << path;
}

TEST(RequestGuardTest, ScreeningDecidesInOrderHostMethodOriginTypeSize) {
    const std::string_view good = "127.0.0.1:8765";
    const std::string_view json = "application/json";
    const std::string_view self = "http://127.0.0.1:8765";
    const std::string_view foreign = "http://attacker.example";
    const ScreenCase cases[] = {
        {"a call", {"POST", "/call", good, std::nullopt, json, 20}, 0},
        {"a batch from the page", {"POST", "/batch", good, self, json, 20}, 0},
        {"a chunked call", {"POST", "/call", good, std::nullopt, json, std::nullopt}, 0},
        {"the largest body", {"POST", "/call", good, std::nullopt, json, kMaxRequestBodyBytes}, 0},
        {"the page", {"GET", "/", good, std::nullopt, std::nullopt, std::nullopt}, 0},
        {"a HEAD of a file", {"HEAD", "/style.css", good, std::nullopt, std::nullopt, std::nullopt}, 0},
        {"no Host", {"POST", "/call", std::nullopt, std::nullopt, json, 20}, 400},
        {"foreign Host", {"POST", "/call", "attacker.example:8765", std::nullopt, json, 20}, 421},
        {"foreign Host on a file", {"GET", "/", "attacker.example:8765", std::nullopt, std::nullopt, 0}, 421},
        {"foreign Host beats wrong method", {"GET", "/call", "evil:1", std::nullopt, std::nullopt, 0}, 421},
        {"GET of a call", {"GET", "/call", good, std::nullopt, std::nullopt, std::nullopt}, 405, "POST"},
        {"preflight", {"OPTIONS", "/batch", good, foreign, std::nullopt, std::nullopt}, 405, "POST"},
        {"POST of a file", {"POST", "/", good, std::nullopt, json, 2}, 405, "GET, HEAD"},
        {"PUT of a file", {"PUT", "/index.html", good, std::nullopt, std::nullopt, 2}, 405, "GET, HEAD"},
        {"cross-origin call", {"POST", "/call", good, foreign, json, 20}, 403},
        {"opaque origin", {"POST", "/call", good, "null", json, 20}, 403},
        {"cross-origin read", {"GET", "/widget.js", good, foreign, std::nullopt, std::nullopt}, 403},
        {"text call", {"POST", "/call", good, std::nullopt, "text/plain", 20}, 415},
        {"untyped call", {"POST", "/batch", good, std::nullopt, std::nullopt, 20}, 415},
        {"cross-origin text call", {"POST", "/call", good, foreign, "text/plain", 20}, 403},
        {"one byte too many", {"POST", "/call", good, std::nullopt, json, kMaxRequestBodyBytes + 1}, 413},
        {"huge", {"POST", "/batch", good, self, json, 1ull << 40}, 413},
        {"an icon", {"GET", "/icons/volumes/vm.png", good, self, std::nullopt, std::nullopt}, 0},
        {"foreign Host on an icon", {"GET", "/icons/volumes/vm.png", "evil:8765", std::nullopt, std::nullopt, 0}, 421},
        {"cross-origin icon", {"GET", "/icons/processes/a.png", good, foreign, std::nullopt, std::nullopt}, 403},
        {"POST of an icon", {"POST", "/icons/volumes/vm.png", good, std::nullopt, json, 2}, 405, "GET, HEAD"},
    };
    for (const auto& c : cases) {
        auto rejection = screenRequest(c.head, atPort(8765));
        EXPECT_EQ(rejection ? rejection->status : 0u, c.status) << c.what;
        if (rejection) {
            EXPECT_EQ(rejection->allow, c.allow) << c.what;
            EXPECT_FALSE(rejection->message.empty()) << c.what;
            EXPECT_EQ(rejection->message.find('\n'), std::string::npos) << c.what;
        }
    }
}

}  // namespace
}  // namespace vq::host
