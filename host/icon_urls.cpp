#include "host/icon_urls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "bridge/Velquette.h"
#include "platform/linux/common/unique_fd.h"

namespace vq::host {
namespace {

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

struct CacheRoute {
    IconCache cache;
    std::string_view segment;  // the URL folder under /icons/
};
constexpr std::array<CacheRoute, 2> kRoutes{{{IconCache::Processes, "processes"}, {IconCache::Volumes, "volumes"}}};

std::optional<int> hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

std::optional<std::string> percentDecoded(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            out += raw[i];
            continue;
        }
        if (i + 2 >= raw.size()) return std::nullopt;
        auto high = hexDigit(raw[i + 1]);
        auto low = hexDigit(raw[i + 2]);
        if (!high || !low) return std::nullopt;
        out += char(*high * 16 + *low);
        i += 2;
    }
    return out;
}

// A cache folder without its trailing slashes; empty when there is no
// folder, or when it is "/" itself, which is no cache.
std::string_view folderBase(std::string_view folder) {
    while (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
    return folder;
}

// The file name when `path` is "<folder>/<name>" with one or more slashes
// between them and none in the name.
std::optional<std::string_view> nameInFolder(std::string_view path, std::string_view folder) {
    const std::string_view base = folderBase(folder);
    if (base.empty() || !path.starts_with(base)) return std::nullopt;
    path.remove_prefix(base.size());
    if (!path.starts_with('/')) return std::nullopt;
    while (path.starts_with('/')) path.remove_prefix(1);
    if (path.find('/') != std::string_view::npos) return std::nullopt;
    return path;
}

using linux_platform::UniqueFd;

}  // namespace

IconCaches iconCachesOf(const Velquette& object) {
    return IconCaches{object.iconDirectory(), object.disks().iconDirectory()};
}

bool isServableIconName(std::string_view fileName) {
    constexpr std::string_view extension = ".png";
    return fileName.size() > extension.size() && fileName.ends_with(extension) && !fileName.starts_with('.') &&
           fileName.find('/') == std::string_view::npos && fileName.find('\0') == std::string_view::npos;
}

std::string percentEncoded(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::optional<std::string> iconUrlForPath(std::string_view path, const IconCaches& caches) {
    for (const auto& route : kRoutes) {
        auto name = nameInFolder(path, caches.folder(route.cache));
        if (name && isServableIconName(*name))
            return std::string(kIconUrlPrefix) + std::string(route.segment) + "/" + percentEncoded(*name);
    }
    return std::nullopt;
}

void rewriteIconPaths(Value& result, const IconCaches& caches) {
    if (folderBase(caches.processes).empty() && folderBase(caches.volumes).empty()) return;
    if (result.is_string()) {
        if (auto url = iconUrlForPath(result.get_ref<const std::string&>(), caches)) result = std::move(*url);
    } else if (result.is_array() || result.is_object()) {
        for (auto& element : result) rewriteIconPaths(element, caches);
    }
}

std::optional<IconRequest> iconRequestForUrlPath(std::string_view rawPath) {
    if (!rawPath.starts_with(kIconUrlPrefix)) return std::nullopt;
    rawPath.remove_prefix(kIconUrlPrefix.size());
    for (const auto& route : kRoutes) {
        if (!rawPath.starts_with(route.segment) || rawPath.substr(route.segment.size(), 1) != "/") continue;
        const std::string_view segment = rawPath.substr(route.segment.size() + 1);
        if (segment.find('/') != std::string_view::npos) return std::nullopt;
        auto name = percentDecoded(segment);
        if (!name || !isServableIconName(*name)) return std::nullopt;
        return IconRequest{route.cache, std::move(*name)};
    }
    return std::nullopt;
}

std::optional<std::string> loadIconFile(const IconCaches& caches, const IconRequest& request) {
    if (!isServableIconName(request.fileName)) return std::nullopt;
    const std::string folder(folderBase(caches.folder(request.cache)));
    if (folder.empty()) return std::nullopt;

    UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) return std::nullopt;
    // The name is one component, so only the file itself could be a link;
    // O_NOFOLLOW refuses that. O_NONBLOCK keeps a FIFO from stalling the
    // host's only thread before fstat shows it is no regular file.
    UniqueFd file(::openat(directory.get(), request.fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < off_t(kPngSignature.size()) ||
        std::uint64_t(info.st_size) > kMaxIconFileBytes)
        return std::nullopt;

    // Read to the end rather than trusting st_size, but never past the limit.
    std::string contents;
    char buffer[16 * 1024];
    while (true) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        contents.append(buffer, std::size_t(n));
        if (contents.size() > kMaxIconFileBytes) return std::nullopt;
    }
    if (!contents.starts_with(kPngSignature)) return std::nullopt;
    return contents;
}

}  // namespace vq::host
