#pragma once
// The installer's GTK 4 window: a stack of the four views, a spinner on each
// of the three views that can start an installation, and the controls that
// call the controller's actions.

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "installer/BrackwellFileDownloader.h"
#include "installer/installer_view.h"

namespace vq::installer {

class InstallerWindow : public InstallerView {
public:
    // A window of `application`, or a plain top-level window when it is null.
    explicit InstallerWindow(GtkApplication* application);
    ~InstallerWindow() override;
    InstallerWindow(const InstallerWindow&) = delete;
    InstallerWindow& operator=(const InstallerWindow&) = delete;

    // Connects the controls to the controller's actions.
    void connect(BrackwellFileDownloader& controller);

    void activate() override;
    void keepAbove() override;
    void setContent(InstallerPane pane) override;
    void startIndicator(Indicator indicator) override;
    void stopIndicator(Indicator indicator) override;
    void setFailedMessage(const std::string& message) override;
    void setRestartNeeded(bool needed) override;

    GtkWindow* window() const { return window_; }
    // What a person sees: the texts of the labels and buttons of the visible view.
    std::vector<std::string> visibleTexts() const;
    bool spinning(Indicator indicator) const;

private:
    GtkWindow* window_;
    GtkStack* stack_;
    GtkSpinner* spinners_[3];
    GtkLabel* failedMessage_;
    GtkLabel* restartNote_;
    gulong keepAboveOnMap_ = 0;
    std::vector<std::pair<GtkButton*, void (BrackwellFileDownloader::*)()>> actions_;
};

}  // namespace vq::installer
