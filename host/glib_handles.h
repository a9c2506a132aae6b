#pragma once
// Owning holders for the GLib and libsoup handles the host keeps. Each one
// releases its handle exactly once, whatever path leaves the scope.

#include <gio/gio.h>
#include <glib.h>

#include <memory>

namespace vq::host {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GMainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};
using MainLoopPtr = std::unique_ptr<GMainLoop, GMainLoopUnref>;

struct GSourceDestroy {
    // Detaches the source from its context as well as dropping our reference,
    // so its callback can never run once the holder is gone.
    void operator()(GSource* source) const {
        g_source_destroy(source);
        g_source_unref(source);
    }
};
using SourcePtr = std::unique_ptr<GSource, GSourceDestroy>;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

struct GBytesUnref {
    void operator()(GBytes* bytes) const { g_bytes_unref(bytes); }
};
using BytesPtr = std::unique_ptr<GBytes, GBytesUnref>;

// A fresh main context made the calling thread's default for as long as this
// object lives. Everything that attaches sources to the thread-default
// context (the HTTP server, the plug-in's notifiers) must be created while it
// is alive, and destroyed before it.
class ThreadDefaultContext {
public:
    ThreadDefaultContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
    ~ThreadDefaultContext() {
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    ThreadDefaultContext(const ThreadDefaultContext&) = delete;
    ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;

    GMainContext* get() const { return context_; }

private:
    GMainContext* context_;
};

}  // namespace vq::host
