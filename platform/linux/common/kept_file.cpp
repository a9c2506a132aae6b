#include "platform/linux/common/kept_file.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>

namespace vq::linux_platform {

bool KeptFile::readOpen(std::string& content) {
    if (content.capacity() < 4096) content.reserve(4096);
    std::size_t length = 0;
    content.resize(content.capacity());
    for (;;) {
        if (length == content.size()) content.resize(content.size() * 2);
        const ssize_t got = ::pread(fd_.get(), content.data() + length, content.size() - length, off_t(length));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            content.clear();
            return false;
        }
        if (got == 0) break;
        length += std::size_t(got);
    }
    content.resize(length);
    return true;
}

bool KeptFile::readInto(std::string& content) {
    if (fd_ && readOpen(content)) return true;
    fd_.reset(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd_ && readOpen(content)) return true;
    fd_.reset();
    content.clear();
    return false;
}

bool KeptFile::changed() {
    if (!fd_) return true;
    pollfd watch{fd_.get(), POLLPRI, 0};
    return ::poll(&watch, 1, 0) > 0 && (watch.revents & (POLLPRI | POLLERR)) != 0;
}

}  // namespace vq::linux_platform
