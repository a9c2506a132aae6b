#pragma once
// XDG autostart: an entry in <config home>/autostart that desktops start
// with the session. A user who switched it off in the desktop's own settings
// has "Hidden=true" in it, which counts as off.

#include <memory>
#include <string>

#include "platform/autostart.h"

namespace vq::linux_platform {

constexpr const char* kAutostartEntryName = "org.brackwell.Velquette.desktop";

// The entry: it starts the widget window found on PATH.
std::string autostartEntry();

class XdgAutostart : public Autostart {
public:
    // `configHome` empty: nowhere to write, always off.
    explicit XdgAutostart(std::string configHome) : configHome_(std::move(configHome)) {}
    bool isEnabled() override;
    bool setEnabled(bool enabled) override;

private:
    std::string path() const { return configHome_ + "/autostart/" + kAutostartEntryName; }
    std::string configHome_;
};

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config; empty
// when neither is known.
std::string xdgConfigHome(const char* xdgConfigHomeVariable, const char* homeVariable);

}  // namespace vq::linux_platform
