#include "fake_host.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vq::e2e {
namespace {

void sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += std::size_t(n);
    }
}

std::string response(int status, const std::string& type, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") +
           "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + body;
}

std::string typeOf(const std::string& path) {
    if (path.ends_with(".html")) return "text/html; charset=utf-8";
    if (path.ends_with(".css")) return "text/css; charset=utf-8";
    if (path.ends_with(".js")) return "text/javascript; charset=utf-8";
    return "application/octet-stream";
}

}  // namespace

FakeHost::FakeHost(std::string webRoot, FakeHostScript script)
    : webRoot_(std::move(webRoot)), script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::pipe(stopPipe_) != 0) {
        if (listenFd_ >= 0) ::close(listenFd_);
        throw std::runtime_error("fake host cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FakeHost::~FakeHost() {
    char wake = 0;
    [[maybe_unused]] auto ignored = ::write(stopPipe_[1], &wake, 1);
    acceptor_.join();
    for (auto& connection : connections_) connection.join();
    ::close(listenFd_);
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::vector<FakeHost::Call> FakeHost::posts() const {
    std::lock_guard lock(mutex_);
    return posts_;
}

void FakeHost::acceptLoop() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        // One thread per connection: Chromium opens spare connections that
        // may never carry a request, and they must not hold up the others.
        connections_.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
        });
    }
}

void FakeHost::serve(int fd) {
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string data;
    std::size_t headEnd;
    char buffer[8192];
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        data.append(buffer, std::size_t(n));
    }
    std::istringstream head(data.substr(0, headEnd));
    std::string method, target;
    head >> method >> target;
    std::size_t length = 0;
    for (std::string line; std::getline(head, line);) {
        constexpr std::string_view key = "content-length:";
        std::string lower;
        for (char c : line) lower += char(std::tolower(static_cast<unsigned char>(c)));
        if (!lower.starts_with(key)) continue;
        std::string_view value = std::string_view(line).substr(key.size());
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        std::from_chars(value.data(), value.data() + value.size(), length);
    }
    std::string body = data.substr(headEnd + 4);
    while (body.size() < length) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        body.append(buffer, std::size_t(n));
    }

    if (method == "POST") {
        {
            std::lock_guard lock(mutex_);
            posts_.push_back({method, target, body});
        }
        int index = batches_++;
        bool reachable = index >= script_.unreachableFirst && index < script_.unreachableFirst + script_.answered;
        // An unreachable host: the connection ends without an answer.
        if (target == "/batch" && reachable) sendAll(fd, response(200, "application/json", script_.batchAnswer));
        return;
    }

    std::string name = target == "/" ? "index.html" : target.substr(1);
    if (name.find("..") != std::string::npos || name.find('/') != std::string::npos) {
        sendAll(fd, response(404, "text/plain", "no"));
        return;
    }
    std::ifstream in(webRoot_ + "/" + name, std::ios::binary);
    if (!in) {
        sendAll(fd, response(404, "text/plain", "no"));
        return;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    sendAll(fd, response(200, typeOf(name), contents.str()));
}

}  // namespace vq::e2e
