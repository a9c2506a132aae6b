#pragma once
#include <glib.h>

#include <memory>

namespace vq::linux_platform {

struct SourceDestroyer {
    void operator()(GSource* source) const {
        g_source_destroy(source);
        g_source_unref(source);
    }
};
// A source attached to a main context; destroying the holder detaches it.
using UniqueSource = std::unique_ptr<GSource, SourceDestroyer>;

}  // namespace vq::linux_platform
