#include "host/static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/linux/common/unique_fd.h"

namespace vq::host {
namespace {

// Served files are the page's own small assets; anything bigger is a mistake.
constexpr off_t kMaxWebFileBytes = 4 * 1024 * 1024;

std::optional<int> hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

bool isNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

std::optional<std::string> decodedSegment(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '%') {
            if (i + 2 >= raw.size()) return std::nullopt;
            auto high = hexDigit(raw[i + 1]);
            auto low = hexDigit(raw[i + 2]);
            if (!high || !low) return std::nullopt;
            c = char(*high * 16 + *low);
            i += 2;
        }
        if (!isNameCharacter(c)) return std::nullopt;
        out += c;
    }
    if (out.empty() || out.front() == '.') return std::nullopt;
    return out;
}

using linux_platform::UniqueFd;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using MallocString = std::unique_ptr<char, FreeDeleter>;

}  // namespace

std::optional<std::string> webRelativePath(std::string_view rawPath) {
    if (!rawPath.starts_with('/')) return std::nullopt;
    if (rawPath == "/") return std::string("index.html");
    rawPath.remove_prefix(1);
    std::string relative;
    while (true) {
        auto slash = rawPath.find('/');
        auto segment = decodedSegment(rawPath.substr(0, slash));
        if (!segment) return std::nullopt;
        if (!relative.empty()) relative += '/';
        relative += *segment;
        if (slash == std::string_view::npos) break;
        rawPath.remove_prefix(slash + 1);
    }
    return relative;
}

std::optional<std::string_view> contentTypeForFile(std::string_view fileName) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kTypes{{
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
    }};
    for (const auto& [extension, type] : kTypes)
        if (fileName.ends_with(extension) && fileName.size() > extension.size()) return type;
    return std::nullopt;
}

std::optional<WebFile> loadWebFile(const std::string& webRoot, const std::string& relativePath) {
    auto contentType = contentTypeForFile(relativePath);
    if (!contentType) return std::nullopt;

    MallocString root(::realpath(webRoot.c_str(), nullptr));
    MallocString resolved(::realpath((webRoot + "/" + relativePath).c_str(), nullptr));
    if (!root || !resolved) return std::nullopt;
    std::string_view rootView(root.get());
    std::string_view resolvedView(resolved.get());
    if (!resolvedView.starts_with(rootView) || resolvedView.size() <= rootView.size() ||
        resolvedView[rootView.size()] != '/')
        return std::nullopt;

    UniqueFd file(::open(resolved.get(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxWebFileBytes) return std::nullopt;

    WebFile out{std::string(*contentType), std::string(std::size_t(info.st_size), '\0')};
    std::size_t done = 0;
    while (done < out.contents.size()) {
        ssize_t n = ::read(file.get(), out.contents.data() + done, out.contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += std::size_t(n);
    }
    return out;
}

}  // namespace vq::host
