#include "platform/linux/common/posix_file_system.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/unique_fd.h"

namespace vq {

bool PosixFileSystem::fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool PosixFileSystem::createDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

std::optional<std::string> PosixFileSystem::readFile(const std::string& path) {
    return linux_platform::readWholeFile(path);
}

bool PosixFileSystem::writeFileAtomically(const std::string& path, const std::string& data) {
    std::string temporary = path + ".XXXXXX";
    linux_platform::UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) return false;
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd.get(), data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    // mkostemp makes the file private; cached files are as readable as any other.
    const bool ok = written == data.size() && ::fchmod(fd.get(), 0644) == 0 && ::fsync(fd.get()) == 0;
    fd.reset();
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool PosixFileSystem::removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string xdgDataHome(const char* xdgDataHomeVariable, const char* homeVariable) {
    // The XDG Base Directory rules ignore relative values.
    if (xdgDataHomeVariable && xdgDataHomeVariable[0] == '/') return xdgDataHomeVariable;
    if (homeVariable && homeVariable[0] == '/') {
        std::string home = homeVariable;
        while (home.size() > 1 && home.back() == '/') home.pop_back();
        return (home == "/" ? std::string() : home) + "/.local/share";
    }
    return {};
}

}  // namespace vq
