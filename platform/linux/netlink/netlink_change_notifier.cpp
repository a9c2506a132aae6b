#include "platform/linux/netlink/netlink_change_notifier.h"

#include <glib-unix.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/linux/common/glib_source.h"
#include "platform/linux/common/unique_fd.h"

namespace vq::linux_platform {
namespace {

struct Watch {
    UniqueFd socket;
    std::function<void()> onChange;
    UniqueSource source;
};

gboolean onReadable(gint fd, GIOCondition condition, gpointer data) {
    auto* watch = static_cast<Watch*>(data);
    if (condition & (G_IO_ERR | G_IO_HUP | G_IO_NVAL)) return G_SOURCE_REMOVE;
    // Drain everything that is queued: one burst of changes is one report.
    bool changed = false;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            changed = true;
            continue;
        }
        // ENOBUFS means messages were dropped: something changed all the same.
        if (n < 0 && errno == ENOBUFS) {
            changed = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    if (changed) watch->onChange();
    return G_SOURCE_CONTINUE;
}

}  // namespace

Subscription NetlinkChangeNotifier::watchNetworkChanges(std::function<void()> onChange) {
    auto watch = std::make_shared<Watch>();
    watch->onChange = std::move(onChange);
    watch->socket.reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!watch->socket) throw NotifierUnavailable(std::string("netlink socket: ") + std::strerror(errno));
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (::bind(watch->socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw NotifierUnavailable(std::string("netlink bind: ") + std::strerror(errno));

    watch->source.reset(g_unix_fd_source_new(watch->socket.get(), static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP)));
    g_source_set_callback(watch->source.get(), reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(&onReadable)),
                          watch.get(), nullptr);
    g_source_attach(watch->source.get(), g_main_context_get_thread_default());
    return Subscription([watch] { watch->source.reset(); });
}

}  // namespace vq::linux_platform
