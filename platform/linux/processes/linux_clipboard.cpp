#include <gio/gio.h>

#include "platform/linux/processes/linux_processes.h"

namespace vq::linux_platform {
namespace {

// A clipboard program gets this long to take the text; one that hangs
// (a display that does not answer) is killed.
constexpr guint kClipboardTimeLimitSeconds = 3;

// One running clipboard program. It owns itself: it is freed when the
// program's input has been written and the program has ended, or when the
// time limit killed it.
struct ClipboardRun {
    GSubprocess* process = nullptr;
    GCancellable* cancellable = g_cancellable_new();
    GSource* timeout = nullptr;

    ~ClipboardRun() {
        if (timeout) {
            g_source_destroy(timeout);
            g_source_unref(timeout);
        }
        g_object_unref(cancellable);
        g_object_unref(process);
    }

    static void finished(GObject* source, GAsyncResult* result, gpointer data) {
        auto* run = static_cast<ClipboardRun*>(data);
        g_subprocess_communicate_finish(G_SUBPROCESS(source), result, nullptr, nullptr, nullptr);
        delete run;
    }

    static gboolean timedOut(gpointer data) {
        auto* run = static_cast<ClipboardRun*>(data);
        g_subprocess_force_exit(run->process);
        g_cancellable_cancel(run->cancellable);
        return G_SOURCE_REMOVE;
    }
};

class LinuxClipboard : public Clipboard {
public:
    void copyText(const std::string& text) override {
        const auto command = clipboardCommand(g_getenv("WAYLAND_DISPLAY"), g_getenv("DISPLAY"));
        if (command.empty()) return;
        std::vector<const char*> argv;
        for (const auto& word : command) argv.push_back(word.c_str());
        argv.push_back(nullptr);
        // The text goes on standard input, never on a command line where
        // every user could read it.
        GSubprocess* process = g_subprocess_newv(
            argv.data(),
            GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_SILENCE |
                             G_SUBPROCESS_FLAGS_STDERR_SILENCE),
            nullptr);
        if (!process) return;  // the program is not installed
        auto* run = new ClipboardRun;
        run->process = process;
        // The same context as the program's input and exit: the thread-default one.
        run->timeout = g_timeout_source_new_seconds(kClipboardTimeLimitSeconds);
        g_source_set_callback(run->timeout, &ClipboardRun::timedOut, run, nullptr);
        GMainContext* context = g_main_context_ref_thread_default();
        g_source_attach(run->timeout, context);
        g_main_context_unref(context);
        g_autoptr(GBytes) input = g_bytes_new(text.data(), text.size());
        g_subprocess_communicate_async(process, input, run->cancellable, &ClipboardRun::finished, run);
    }
};

}  // namespace

std::vector<std::string> clipboardCommand(const char* waylandDisplay, const char* display) {
    if (waylandDisplay && *waylandDisplay) return {"wl-copy"};
    if (display && *display) return {"xclip", "-selection", "clipboard"};
    return {};
}

std::shared_ptr<Clipboard> makeLinuxClipboard() { return std::make_shared<LinuxClipboard>(); }

}  // namespace vq::linux_platform
