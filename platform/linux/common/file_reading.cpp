#include "platform/linux/common/file_reading.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/linux/common/unique_fd.h"

namespace vq::linux_platform {

std::optional<std::string> readWholeFile(const std::string& path) {
    std::string content;
    if (!readWholeFileInto(path, content)) return std::nullopt;
    return content;
}

bool readWholeFileInto(const std::string& path, std::string& content) {
    content.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return false;
    // Read straight into the buffer's spare room; it only grows when a file
    // is larger than any read before.
    std::size_t used = 0;
    for (;;) {
        if (content.size() < used + 4096) content.resize(std::max<std::size_t>(8192, 2 * content.size()));
        const ssize_t n = ::read(fd.get(), content.data() + used, content.size() - used);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            content.clear();
            return false;
        }
        used += static_cast<std::size_t>(n);
    }
    content.resize(used);
    return true;
}

std::optional<std::vector<std::string>> listDirectory(const std::string& path) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    return names;
}

}  // namespace vq::linux_platform
