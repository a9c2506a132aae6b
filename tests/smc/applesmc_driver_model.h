#pragma once
// A model of the applesmc driver's attribute files (drivers/hwmon/applesmc.c)
// for the transport's tests: key_count, the key_at_index selector that every
// reader shares, the key_at_index_* files that answer for the selected
// index, and the fanN_min/_output/_manual files. Writes need root, as on the
// real device.

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/applesmc_attributes.h"

namespace vq::test {

class AppleSmcDriverModel final : public linux_platform::AppleSmcAttributes {
public:
    struct Key {
        std::string name, type;
        std::string data;  // raw bytes
    };

    // Keys must be given in the SMC's sorted order.
    explicit AppleSmcDriverModel(std::vector<Key> keys) : keys_(std::move(keys)) {}

    bool root = true;
    int fanCount = 0;
    // Moves the selector to this index right after the next N selections,
    // as another process reading the device would.
    int interferences = 0;
    std::uint32_t interferingIndex = 0;

    std::map<std::string, std::string> writes;  // fan files written, last value
    std::map<std::string, int> reads;           // reads per attribute
    std::map<int, bool> manual;                 // fan index -> forced

    int read(const std::string& name, std::string& content) override {
        ++reads[name];
        if (name == "name") return content = "applesmc\n", 0;
        if (name == "key_count") return content = std::to_string(keys_.size()) + "\n", 0;
        if (name == "key_at_index") return content = std::to_string(selected_) + "\n", 0;
        if (name.starts_with("key_at_index_")) {
            if (selected_ >= keys_.size()) return EINVAL;
            const Key& key = keys_[selected_];
            if (name == "key_at_index_name") return content = key.name + "\n", 0;
            if (name == "key_at_index_type") return content = key.type + "\n", 0;
            if (name == "key_at_index_data_length") return content = std::to_string(key.data.size()) + "\n", 0;
            if (name == "key_at_index_data") return content = key.data, 0;
        }
        if (auto fan = fanFile(name, "_manual"); fan >= 0) return content = (manual[fan] ? "1\n" : "0\n"), 0;
        return ENOENT;
    }

    bool writable(const std::string&) override { return root; }

    int write(const std::string& name, std::string_view text) override {
        if (!root) return EACCES;
        if (name == "key_at_index") {
            const auto index = std::stoul(std::string(text));
            if (index >= keys_.size()) return EINVAL;
            selected_ = static_cast<std::uint32_t>(index);
            if (interferences > 0) {
                --interferences;
                selected_ = interferingIndex;
            }
            return 0;
        }
        if (fanFile(name, "_min") >= 0 || fanFile(name, "_output") >= 0) {
            writes[name] = std::string(text);
            return 0;
        }
        if (auto fan = fanFile(name, "_manual"); fan >= 0) {
            writes[name] = std::string(text);
            manual[fan] = text == "1";
            return 0;
        }
        return ENOENT;
    }

private:
    // The fan index (from 0) of "fan<N><suffix>", or -1.
    int fanFile(const std::string& name, const std::string& suffix) const {
        if (!name.starts_with("fan") || !name.ends_with(suffix)) return -1;
        const std::string number = name.substr(3, name.size() - 3 - suffix.size());
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return -1;
        const int fan = std::stoi(number) - 1;
        return fan >= 0 && fan < fanCount ? fan : -1;
    }

    std::vector<Key> keys_;
    std::uint32_t selected_ = 0;
};

}  // namespace vq::test
