#pragma once
// A deliberately small HTTP/1.1 client over a raw socket, so tests control
// every byte of a request: forged Host and Origin headers, wrong content
// types, chunked or oversized bodies.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vq::e2e {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct HttpResponse {
    int status = 0;
    Headers headers;
    std::string body;

    // The first header of that name (case-insensitive).
    std::optional<std::string> header(const std::string& name) const;
    nlohmann::json json() const;
};

struct HttpRequest {
    HttpRequest() = default;
    HttpRequest(std::string method_, std::string target_, Headers headers_ = {}, std::string body_ = {})
        : method(std::move(method_)), target(std::move(target_)), headers(std::move(headers_)), body(std::move(body_)) {}

    std::string method = "GET";
    std::string target = "/";
    // Sent as given, in order. A Host header is added only when none is given
    // and addHost is true; Content-Length is added for a non-empty body
    // unless a Transfer-Encoding or Content-Length header is given.
    Headers headers;
    std::string body;
    bool addHost = true;
};

// One keep-alive connection to 127.0.0.1:port.
class HttpConnection {
public:
    explicit HttpConnection(std::uint16_t port);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    HttpResponse send(const HttpRequest& request);
    // Sends bytes exactly as given and reads one response.
    HttpResponse sendRaw(const std::string& bytes, bool headRequest = false);

private:
    void fill();
    std::string readLine();
    std::string readHead();
    std::string readExactly(std::size_t n);
    std::string readChunked();
    std::string readToEnd();

    std::uint16_t port_;
    int fd_ = -1;
    std::string buffered_;
};

// One request on a fresh connection.
HttpResponse exchange(std::uint16_t port, const HttpRequest& request);

// POST of a JSON body with the headers a same-origin page would send.
HttpResponse postJson(std::uint16_t port, const std::string& path, const std::string& body, Headers extra = {});

// {"method": name, "args": args} to /call; the answer's "result" when the
// status is 200, else throws with the status and body.
nlohmann::json callHost(std::uint16_t port, const std::string& name,
                        const nlohmann::json& args = nlohmann::json::array());

}  // namespace vq::e2e
