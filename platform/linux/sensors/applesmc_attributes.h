#pragma once
// The attribute files of the applesmc driver's platform device
// (/sys/devices/platform/applesmc.768 on Intel Macs; drivers/hwmon/applesmc.c).
// Reading goes through this small interface so that the transport can be
// tested against a model of the driver's write-index-then-read files.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vq::linux_platform {

class AppleSmcAttributes {
public:
    virtual ~AppleSmcAttributes() = default;
    // 0 and the whole content, or the errno of the failed open or read.
    virtual int read(const std::string& name, std::string& content) = 0;
    // 0, or the errno of the failed open or write.
    virtual int write(const std::string& name, std::string_view text) = 0;
    // Whether this process may write the file at all.
    virtual bool writable(const std::string& name) = 0;
};

// The files of one device directory.
class SysfsAppleSmcAttributes final : public AppleSmcAttributes {
public:
    explicit SysfsAppleSmcAttributes(std::string deviceDirectory) : directory_(std::move(deviceDirectory)) {}
    int read(const std::string& name, std::string& content) override;
    int write(const std::string& name, std::string_view text) override;
    bool writable(const std::string& name) override;
    const std::string& directory() const { return directory_; }

private:
    std::string directory_;
};

// The driver's device directory under the sys root when the driver is
// loaded: its "name" file reads "applesmc".
std::optional<std::string> findAppleSmcDevice(const std::string& sysRoot);

// "%d\n" numbers of key_count, key_at_index and key_at_index_data_length.
std::optional<std::uint32_t> parseAppleSmcNumber(std::string_view text);
// "%s\n" of a four-character key or type. Trailing spaces belong to the
// code ("ui8 ", "FS! "), so only the newline is taken off.
std::optional<std::string> parseAppleSmcCode(std::string_view text);

}  // namespace vq::linux_platform
