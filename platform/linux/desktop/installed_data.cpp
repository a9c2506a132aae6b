#include "platform/linux/desktop/installed_data.h"

#include <filesystem>

namespace vq::linux_platform {

std::string installedDataPath(const std::string& relative, const std::string& buildTreePath) {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return buildTreePath;
    const auto installed = program.parent_path().parent_path() / "share/velquette" / relative;
    return std::filesystem::exists(installed, error) ? installed.string() : buildTreePath;
}

}  // namespace vq::linux_platform
