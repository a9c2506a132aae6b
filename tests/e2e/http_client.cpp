#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace vq::e2e {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool hasHeader(const Headers& headers, std::string_view name) {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return sameName(h.first, name); });
}

std::size_t parseSize(std::string_view text, int base) {
    std::size_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end == text.data()) throw std::runtime_error("bad number in response: " + std::string(text));
    return value;
}

}  // namespace

std::optional<std::string> HttpResponse::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (sameName(key, name)) return value;
    return std::nullopt;
}

nlohmann::json HttpResponse::json() const { return nlohmann::json::parse(body); }

HttpConnection::HttpConnection(std::uint16_t port) : port_(port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket failed");
    timeval timeout{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        ::close(fd_);
        throw std::runtime_error("connect to port " + std::to_string(port) + " failed: " + std::strerror(error));
    }
}

HttpConnection::~HttpConnection() {
    if (fd_ >= 0) ::close(fd_);
}

HttpResponse HttpConnection::send(const HttpRequest& request) {
    std::string bytes = request.method + " " + request.target + " HTTP/1.1\r\n";
    if (request.addHost && !hasHeader(request.headers, "Host"))
        bytes += "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
    for (const auto& [name, value] : request.headers) bytes += name + ": " + value + "\r\n";
    if (!request.body.empty() && !hasHeader(request.headers, "Content-Length") &&
        !hasHeader(request.headers, "Transfer-Encoding"))
        bytes += "Content-Length: " + std::to_string(request.body.size()) + "\r\n";
    bytes += "\r\n" + request.body;
    return sendRaw(bytes, request.method == "HEAD");
}

HttpResponse HttpConnection::sendRaw(const std::string& bytes, bool headRequest) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        // The server may answer and close before reading an oversized body;
        // what it answered is still there to read.
        if (n <= 0) break;
        sent += std::size_t(n);
    }

    std::string head = readHead();
    HttpResponse response;
    auto lineEnd = head.find("\r\n");
    std::string_view statusLine(head.data(), lineEnd);
    if (!statusLine.starts_with("HTTP/1.") || statusLine.size() < 12)
        throw std::runtime_error("bad status line: " + std::string(statusLine));
    response.status = int(parseSize(statusLine.substr(9, 3), 10));

    std::size_t position = lineEnd + 2;
    while (position < head.size()) {
        auto end = head.find("\r\n", position);
        std::string_view line(head.data() + position, end - position);
        position = end + 2;
        if (line.empty()) break;
        auto colon = line.find(':');
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        response.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }

    if (headRequest || response.status == 204 || response.status == 304) return response;
    auto encoding = response.header("Transfer-Encoding");
    if (encoding && sameName(*encoding, "chunked"))
        response.body = readChunked();
    else if (auto length = response.header("Content-Length"))
        response.body = readExactly(parseSize(*length, 10));
    else
        response.body = readToEnd();
    return response;
}

void HttpConnection::fill() {
    char chunk[16384];
    while (true) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("connection closed inside a response");
        buffered_.append(chunk, std::size_t(n));
        return;
    }
}

std::string HttpConnection::readLine() {
    std::size_t end;
    while ((end = buffered_.find("\r\n")) == std::string::npos) fill();
    std::string line = buffered_.substr(0, end);
    buffered_.erase(0, end + 2);
    return line;
}

std::string HttpConnection::readHead() {
    std::size_t end;
    while ((end = buffered_.find("\r\n\r\n")) == std::string::npos) fill();
    std::string head = buffered_.substr(0, end + 4);
    buffered_.erase(0, end + 4);
    return head;
}

std::string HttpConnection::readExactly(std::size_t n) {
    while (buffered_.size() < n) fill();
    std::string out = buffered_.substr(0, n);
    buffered_.erase(0, n);
    return out;
}

std::string HttpConnection::readChunked() {
    std::string body;
    while (true) {
        std::string line = readLine();
        std::size_t size = parseSize(std::string_view(line).substr(0, line.find(';')), 16);
        if (size == 0) {
            // Trailer section: header lines up to an empty one.
            while (!readLine().empty()) {
            }
            return body;
        }
        body += readExactly(size);
        readExactly(2);
    }
}

std::string HttpConnection::readToEnd() {
    std::string out = std::move(buffered_);
    buffered_.clear();
    char chunk[16384];
    while (true) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return out;
        out.append(chunk, std::size_t(n));
    }
}

HttpResponse exchange(std::uint16_t port, const HttpRequest& request) {
    HttpConnection connection(port);
    return connection.send(request);
}

HttpResponse postJson(std::uint16_t port, const std::string& path, const std::string& body, Headers extra) {
    HttpRequest request;
    request.method = "POST";
    request.target = path;
    request.headers = {{"Content-Type", "application/json"}};
    request.headers.insert(request.headers.end(), extra.begin(), extra.end());
    request.body = body;
    return exchange(port, request);
}

nlohmann::json callHost(std::uint16_t port, const std::string& name, const nlohmann::json& args) {
    auto response = postJson(port, "/call", nlohmann::json{{"method", name}, {"args", args}}.dump());
    if (response.status != 200)
        throw std::runtime_error(name + " answered " + std::to_string(response.status) + ": " + response.body);
    return response.json().at("result");
}

}  // namespace vq::e2e
