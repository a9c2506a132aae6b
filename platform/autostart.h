#pragma once
// Starting the desktop widget with the user's session.

namespace vq {

class Autostart {
public:
    virtual ~Autostart() = default;
    virtual bool isEnabled() = 0;
    // False when the entry could not be written or removed.
    virtual bool setEnabled(bool enabled) = 0;
};

}  // namespace vq
