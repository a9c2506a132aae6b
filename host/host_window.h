#pragma once
// The page's window script object as the host keeps it: the plug-in puts
// itself here under "Velquette", and calls are dispatched to whatever object
// is recorded under that key.

#include <map>
#include <string>

#include "bridge/Velquette.h"

namespace vq::host {

constexpr const char* kScriptObjectKey = "Velquette";

class HostWindow : public WindowScriptObject {
public:
    void setValue(Velquette* value, const std::string& key) override { values_[key] = value; }

    // nullptr when nothing is recorded under the key.
    Velquette* valueForKey(const std::string& key) const {
        auto found = values_.find(key);
        return found == values_.end() ? nullptr : found->second;
    }

    void clear() { values_.clear(); }

private:
    std::map<std::string, Velquette*> values_;
};

}  // namespace vq::host
