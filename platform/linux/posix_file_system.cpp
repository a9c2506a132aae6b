#include "platform/linux/posix_file_system.h"

#include <sys/stat.h>
#include <unistd.h>

namespace vq {

bool PosixFileSystem::fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool PosixFileSystem::createDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

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
