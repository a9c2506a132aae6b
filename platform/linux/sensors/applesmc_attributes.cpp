#include "platform/linux/sensors/applesmc_attributes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"
#include "platform/linux/common/unique_fd.h"

namespace vq::linux_platform {

int SysfsAppleSmcAttributes::read(const std::string& name, std::string& content) {
    UniqueFd fd(::open((directory_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return errno;
    content.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
}

int SysfsAppleSmcAttributes::write(const std::string& name, std::string_view text) {
    UniqueFd fd(::open((directory_ + "/" + name).c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd) return errno;
    // A sysfs store takes the whole text in one write.
    for (;;) {
        const ssize_t n = ::write(fd.get(), text.data(), text.size());
        if (n >= 0) return static_cast<std::size_t>(n) == text.size() ? 0 : EIO;
        if (errno != EINTR) return errno;
    }
}

bool SysfsAppleSmcAttributes::writable(const std::string& name) {
    return ::access((directory_ + "/" + name).c_str(), W_OK) == 0;
}

std::optional<std::string> findAppleSmcDevice(const std::string& sysRoot) {
    const std::string platformDirectory = sysRoot + "/devices/platform";
    auto isDriver = [](const std::string& directory) {
        auto name = readWholeFile(directory + "/name");
        return name && *name == "applesmc\n";
    };
    // The driver registers its device at the SMC's data port, 0x300.
    if (const std::string usual = platformDirectory + "/applesmc.768"; isDriver(usual)) return usual;
    if (auto entries = listDirectory(platformDirectory)) {
        for (const std::string& entry : *entries) {
            if (entry.starts_with("applesmc") && isDriver(platformDirectory + "/" + entry))
                return platformDirectory + "/" + entry;
        }
    }
    return std::nullopt;
}

std::optional<std::uint32_t> parseAppleSmcNumber(std::string_view text) {
    if (!text.ends_with('\n')) return std::nullopt;
    text.remove_suffix(1);
    return parseInteger<std::uint32_t>(text);
}

std::optional<std::string> parseAppleSmcCode(std::string_view text) {
    if (!text.ends_with('\n')) return std::nullopt;
    text.remove_suffix(1);
    if (text.size() > 4) return std::nullopt;
    return std::string(text);
}

}  // namespace vq::linux_platform
