#pragma once
// The installer window as its controller sees it: four views, of which one is
// the window's content, three busy indicators and the failure message. The
// GTK window, the headless mode and the tests each implement it.

#include <string>

namespace vq::installer {

enum class InstallerPane { main, replace, failed, success };

// The busy indicator of the main, replace and failed views, in the order of
// installFrom's values 0, 1 and 2.
enum class Indicator { main = 0, replace = 1, failed = 2 };

class InstallerView {
public:
    virtual ~InstallerView() = default;
    // Brings the application to the front, ignoring other applications.
    virtual void activate() = 0;
    // Keeps the window above ordinary windows where the windowing system allows it.
    virtual void keepAbove() = 0;
    // Replaces the window's content; the view that leaves stays alive.
    virtual void setContent(InstallerPane pane) = 0;
    virtual void startIndicator(Indicator indicator) = 0;
    virtual void stopIndicator(Indicator indicator) = 0;
    virtual void setFailedMessage(const std::string& message) = 0;
    // Said on the success view when running widgets could not be told about
    // the module (no session bus) and need a restart to use it.
    virtual void setRestartNeeded(bool needed) = 0;
};

}  // namespace vq::installer
