#include "installer/gtk/installer_window.h"

#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

namespace vq::installer {
namespace {

const char* paneName(InstallerPane pane) {
    switch (pane) {
        case InstallerPane::main: return "main";
        case InstallerPane::replace: return "replace";
        case InstallerPane::failed: return "failed";
        case InstallerPane::success: return "success";
    }
    return "main";
}

GtkLabel* addLabel(GtkBox* box, const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
    gtk_box_append(box, label);
    return GTK_LABEL(label);
}

GtkBox* newPane(GtkStack* stack, InstallerPane pane) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_top(box, 24);
    gtk_widget_set_margin_bottom(box, 24);
    gtk_widget_set_margin_start(box, 24);
    gtk_widget_set_margin_end(box, 24);
    gtk_stack_add_named(stack, box, paneName(pane));
    return GTK_BOX(box);
}

// Asks an X11 window manager to keep the window above others
// (_NET_WM_STATE_ABOVE, as the EWMH has it); other windowing systems offer no
// such request to a GTK 4 client.
void requestKeepAbove(GtkWidget* window, gpointer = nullptr) {
#ifdef GDK_WINDOWING_X11
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (!surface || !GDK_IS_X11_SURFACE(surface)) return;
    GdkDisplay* display = gdk_surface_get_display(surface);
    Display* xdisplay = gdk_x11_display_get_xdisplay(display);
    XClientMessageEvent message{};
    message.type = ClientMessage;
    message.window = gdk_x11_surface_get_xid(surface);
    message.message_type = gdk_x11_get_xatom_by_name_for_display(display, "_NET_WM_STATE");
    message.format = 32;
    message.data.l[0] = 1;  // _NET_WM_STATE_ADD
    message.data.l[1] = static_cast<long>(gdk_x11_get_xatom_by_name_for_display(display, "_NET_WM_STATE_ABOVE"));
    message.data.l[3] = 1;  // from a normal application
    XSendEvent(xdisplay, DefaultRootWindow(xdisplay), False, SubstructureRedirectMask | SubstructureNotifyMask,
               reinterpret_cast<XEvent*>(&message));
#else
    (void)window;
#endif
}

void collectTexts(GtkWidget* widget, std::vector<std::string>& texts) {
    if (!gtk_widget_get_visible(widget)) return;
    if (GTK_IS_LABEL(widget)) {
        const char* text = gtk_label_get_text(GTK_LABEL(widget));
        if (text && *text) texts.emplace_back(text);
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
        collectTexts(child, texts);
}

}  // namespace

InstallerWindow::InstallerWindow(GtkApplication* application)
    : window_(GTK_WINDOW(application ? gtk_application_window_new(application) : gtk_window_new())),
      stack_(GTK_STACK(gtk_stack_new())) {
    gtk_window_set_title(window_, "Intel Sensor Module Installer");
    gtk_window_set_resizable(window_, FALSE);
    gtk_window_set_child(window_, GTK_WIDGET(stack_));
    // The window lives until this object destroys it, whatever its close button does.
    g_object_ref(window_);
    gtk_window_set_hide_on_close(window_, TRUE);

    auto addControls = [this](GtkBox* box, Indicator indicator, const char* label,
                              void (BrackwellFileDownloader::*action)()) {
        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
        gtk_widget_set_halign(row, GTK_ALIGN_CENTER);
        GtkWidget* button = gtk_button_new_with_label(label);
        gtk_box_append(GTK_BOX(row), button);
        GtkWidget* spinner = gtk_spinner_new();
        gtk_box_append(GTK_BOX(row), spinner);
        gtk_box_append(box, row);
        spinners_[static_cast<int>(indicator)] = GTK_SPINNER(spinner);
        actions_.emplace_back(GTK_BUTTON(button), action);
        GtkWidget* links = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
        gtk_widget_set_halign(links, GTK_ALIGN_CENTER);
        GtkWidget* manual = gtk_button_new_with_label("Manual Instructions");
        GtkWidget* source = gtk_button_new_with_label("Support Page");
        gtk_box_append(GTK_BOX(links), manual);
        gtk_box_append(GTK_BOX(links), source);
        gtk_box_append(box, links);
        actions_.emplace_back(GTK_BUTTON(manual), &BrackwellFileDownloader::showManualInstructions);
        actions_.emplace_back(GTK_BUTTON(source), &BrackwellFileDownloader::getSource);
    };

    GtkBox* mainPane = newPane(stack_, InstallerPane::main);
    addLabel(mainPane, "The Intel sensor module lets the widget show the fans of this machine.");
    addControls(mainPane, Indicator::main, "Download and Install", &BrackwellFileDownloader::downloadAndInstall);

    GtkBox* replacePane = newPane(stack_, InstallerPane::replace);
    addLabel(replacePane, "The Intel sensor module is already installed. It can be downloaded again to replace it.");
    addControls(replacePane, Indicator::replace, "Download and Replace",
                &BrackwellFileDownloader::replaceAndInstall);

    GtkBox* failedPane = newPane(stack_, InstallerPane::failed);
    addLabel(failedPane, "The Intel sensor module could not be installed.");
    failedMessage_ = addLabel(failedPane, "");
    gtk_label_set_selectable(failedMessage_, TRUE);
    addControls(failedPane, Indicator::failed, "Retry", &BrackwellFileDownloader::retry);

    GtkBox* successPane = newPane(stack_, InstallerPane::success);
    addLabel(successPane, "The Intel sensor module is installed. Running widgets show its fans now.");
    restartNote_ = addLabel(successPane,
                            "Running widgets could not be told about the module; restart them to use it.");
    gtk_widget_set_visible(GTK_WIDGET(restartNote_), FALSE);
}

InstallerWindow::~InstallerWindow() {
    gtk_window_destroy(window_);
    g_object_unref(window_);
}

void InstallerWindow::connect(BrackwellFileDownloader& controller) {
    for (const auto& [button, action] : actions_) {
        struct Binding {
            BrackwellFileDownloader* controller;
            void (BrackwellFileDownloader::*action)();
        };
        g_signal_connect_data(
            button, "clicked",
            G_CALLBACK(+[](GtkButton*, gpointer data) {
                auto* binding = static_cast<Binding*>(data);
                (binding->controller->*binding->action)();
            }),
            new Binding{&controller, action}, [](gpointer data, GClosure*) { delete static_cast<Binding*>(data); },
            GConnectFlags(0));
    }
}

void InstallerWindow::activate() { gtk_window_present(window_); }

// GTK 4 has no keep-above request. On X11 the window manager is asked
// directly, each time the window is mapped (a request before mapping is not
// seen); on Wayland stacking is the compositor's alone and the window stays an
// ordinary one.
void InstallerWindow::keepAbove() {
    if (gtk_widget_get_mapped(GTK_WIDGET(window_))) requestKeepAbove(GTK_WIDGET(window_));
    if (!keepAboveOnMap_)
        keepAboveOnMap_ = g_signal_connect(window_, "map", G_CALLBACK(requestKeepAbove), nullptr);
}

void InstallerWindow::setContent(InstallerPane pane) { gtk_stack_set_visible_child_name(stack_, paneName(pane)); }

void InstallerWindow::startIndicator(Indicator indicator) {
    gtk_spinner_start(spinners_[static_cast<int>(indicator)]);
}

void InstallerWindow::stopIndicator(Indicator indicator) { gtk_spinner_stop(spinners_[static_cast<int>(indicator)]); }

void InstallerWindow::setFailedMessage(const std::string& message) {
    gtk_label_set_text(failedMessage_, message.c_str());
}

void InstallerWindow::setRestartNeeded(bool needed) { gtk_widget_set_visible(GTK_WIDGET(restartNote_), needed); }

std::vector<std::string> InstallerWindow::visibleTexts() const {
    std::vector<std::string> texts;
    if (GtkWidget* pane = gtk_stack_get_visible_child(stack_)) collectTexts(pane, texts);
    return texts;
}

bool InstallerWindow::spinning(Indicator indicator) const {
    return gtk_spinner_get_spinning(spinners_[static_cast<int>(indicator)]);
}

}  // namespace vq::installer
