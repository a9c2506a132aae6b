#pragma once
// The installer without a window (--install): it remembers what the window
// would show and reports when the installation has ended either way.

#include <functional>
#include <string>

#include "installer/installer_view.h"

namespace vq::installer {

class ConsoleView : public InstallerView {
public:
    explicit ConsoleView(std::function<void()> finished) : finished_(std::move(finished)) {}

    void activate() override {}
    void keepAbove() override {}
    void setContent(InstallerPane pane) override {
        content = pane;
        // The message and the restart note follow the content change.
        ended_ = pane == InstallerPane::failed || pane == InstallerPane::success;
    }
    void startIndicator(Indicator) override {}
    void stopIndicator(Indicator) override {
        if (ended_ && finished_) finished_();
    }
    void setFailedMessage(const std::string& message) override { failedMessage = message; }
    void setRestartNeeded(bool needed) override { restartNeeded = needed; }

    InstallerPane content = InstallerPane::main;
    std::string failedMessage;
    bool restartNeeded = false;

private:
    std::function<void()> finished_;
    bool ended_ = false;
};

}  // namespace vq::installer
