#pragma once
// The hardware registry: a tree of entries, each with its classes (most
// derived first), a name and a dictionary of properties. Linux synthesizes
// it from /sys and the udev database; the simulated machine serves it from
// its machine file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vq {

using RegistryEntryId = std::uint64_t;

struct RegistryEntry {
    RegistryEntryId id = 0;
    std::vector<std::string> classes;  // most derived first: {"IOCDMedia", "IOMedia"}
    std::string name;
    nlohmann::json properties = nlohmann::json::object();
    std::optional<RegistryEntryId> parent;
};

class IORegistry {
public:
    virtual ~IORegistry() = default;
    // Entries that conform to `className` ("IOService": every entry) and hold every key/value of
    // `propertyMatch` (an object). nullopt when the registry cannot be read.
    virtual std::optional<std::vector<RegistryEntryId>> matchingServices(const std::string& className,
                                                                         const nlohmann::json& propertyMatch) = 0;
    virtual std::optional<std::vector<RegistryEntryId>> matchingServicesByName(const std::string& name) = 0;
    virtual std::optional<nlohmann::json> properties(RegistryEntryId entry) = 0;
    virtual bool conformsTo(RegistryEntryId entry, const std::string& className) = 0;
    // The property on the entry itself or, failing that, on the nearest parent.
    virtual std::optional<nlohmann::json> searchProperty(RegistryEntryId entry, const std::string& key) = 0;
    // The property on the entry itself or, failing that, on the first of its
    // descendants that holds it, depth first.
    virtual std::optional<nlohmann::json> searchPropertyBelow(RegistryEntryId entry, const std::string& key) = 0;
};

// A registry over a fixed list of entries, taken afresh for each query by
// whoever builds it.
class RegistrySnapshot : public IORegistry {
public:
    explicit RegistrySnapshot(std::vector<RegistryEntry> entries) : entries_(std::move(entries)) {}

    std::optional<std::vector<RegistryEntryId>> matchingServices(const std::string& className,
                                                                 const nlohmann::json& propertyMatch) override;
    std::optional<std::vector<RegistryEntryId>> matchingServicesByName(const std::string& name) override;
    std::optional<nlohmann::json> properties(RegistryEntryId entry) override;
    bool conformsTo(RegistryEntryId entry, const std::string& className) override;
    std::optional<nlohmann::json> searchProperty(RegistryEntryId entry, const std::string& key) override;
    std::optional<nlohmann::json> searchPropertyBelow(RegistryEntryId entry, const std::string& key) override;

    const std::vector<RegistryEntry>& entries() const { return entries_; }

private:
    const RegistryEntry* find(RegistryEntryId id) const;
    std::vector<RegistryEntry> entries_;
};

}  // namespace vq
