#include <algorithm>

#include "platform/io_registry.h"

namespace vq {

const RegistryEntry* RegistrySnapshot::find(RegistryEntryId id) const {
    auto it = std::find_if(entries_.begin(), entries_.end(), [id](const RegistryEntry& e) { return e.id == id; });
    return it == entries_.end() ? nullptr : &*it;
}

std::optional<std::vector<RegistryEntryId>> RegistrySnapshot::matchingServices(const std::string& className,
                                                                               const nlohmann::json& propertyMatch) {
    std::vector<RegistryEntryId> matches;
    for (const RegistryEntry& entry : entries_) {
        if (className != "IOService" &&
            std::find(entry.classes.begin(), entry.classes.end(), className) == entry.classes.end())
            continue;
        bool all = true;
        if (propertyMatch.is_object()) {
            for (const auto& [key, value] : propertyMatch.items()) {
                if (!entry.properties.contains(key) || entry.properties[key] != value) {
                    all = false;
                    break;
                }
            }
        }
        if (all) matches.push_back(entry.id);
    }
    return matches;
}

std::optional<std::vector<RegistryEntryId>> RegistrySnapshot::matchingServicesByName(const std::string& name) {
    std::vector<RegistryEntryId> matches;
    for (const RegistryEntry& entry : entries_)
        if (entry.name == name) matches.push_back(entry.id);
    return matches;
}

std::optional<nlohmann::json> RegistrySnapshot::properties(RegistryEntryId id) {
    const RegistryEntry* entry = find(id);
    if (!entry) return std::nullopt;
    return entry->properties;
}

bool RegistrySnapshot::conformsTo(RegistryEntryId id, const std::string& className) {
    const RegistryEntry* entry = find(id);
    return entry && std::find(entry->classes.begin(), entry->classes.end(), className) != entry->classes.end();
}

std::optional<nlohmann::json> RegistrySnapshot::searchProperty(RegistryEntryId id, const std::string& key) {
    // Bounded by the entry count, so a parent cycle in a bad machine file
    // cannot loop forever.
    const RegistryEntry* entry = find(id);
    for (std::size_t steps = 0; entry && steps <= entries_.size(); ++steps) {
        if (entry->properties.contains(key)) return entry->properties[key];
        entry = entry->parent ? find(*entry->parent) : nullptr;
    }
    return std::nullopt;
}

std::optional<nlohmann::json> RegistrySnapshot::searchPropertyBelow(RegistryEntryId id, const std::string& key) {
    // Depth first with an explicit stack; each entry is visited at most once,
    // so a parent cycle in a bad machine file cannot loop forever.
    std::vector<const RegistryEntry*> stack;
    if (const RegistryEntry* entry = find(id)) stack.push_back(entry);
    std::vector<RegistryEntryId> visited;
    while (!stack.empty()) {
        const RegistryEntry* entry = stack.back();
        stack.pop_back();
        if (std::find(visited.begin(), visited.end(), entry->id) != visited.end()) continue;
        visited.push_back(entry->id);
        if (entry->properties.contains(key)) return entry->properties[key];
        // Children go on in reverse, so the first child is searched first.
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
            if (it->parent == entry->id) stack.push_back(&*it);
    }
    return std::nullopt;
}

}  // namespace vq
