#include "platform/linux/storage/mountinfo_notifier.h"

#include <fcntl.h>
#include <glib-unix.h>

#include <memory>

#include "platform/linux/common/glib_source.h"
#include "platform/linux/common/unique_fd.h"

namespace vq::linux_platform {
namespace {

struct Watch {
    UniqueFd file;
    std::function<void()> onChange;
    UniqueSource source;
};

gboolean onMountTableChanged(gint, GIOCondition condition, gpointer data) {
    if (condition & (G_IO_PRI | G_IO_ERR)) static_cast<Watch*>(data)->onChange();
    return G_SOURCE_CONTINUE;
}

}  // namespace

Subscription MountinfoNotifier::watchMounts(std::function<void()> onMountOrUnmount) {
    auto watch = std::make_shared<Watch>();
    watch->file.reset(::open((procRoot_ + "/self/mountinfo").c_str(), O_RDONLY | O_CLOEXEC));
    if (!watch->file) return {};
    watch->onChange = std::move(onMountOrUnmount);
    // Never wait for G_IO_IN: the mount table is always readable.
    watch->source.reset(g_unix_fd_source_new(watch->file.get(), static_cast<GIOCondition>(G_IO_PRI | G_IO_ERR)));
    g_source_set_callback(watch->source.get(),
                          reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(&onMountTableChanged)),
                          watch.get(), nullptr);
    g_source_attach(watch->source.get(), g_main_context_get_thread_default());
    return Subscription([watch] { watch->source.reset(); });
}

}  // namespace vq::linux_platform
