#pragma once
// Where a program finds its read-only data (the page, the installer's manual):
// beside an installed program in <prefix>/share/velquette, else in the
// source tree it was built from.

#include <string>

namespace vq::linux_platform {

// "<folder of this program>/../share/velquette/<relative>" when that exists,
// else `buildTreePath`.
std::string installedDataPath(const std::string& relative, const std::string& buildTreePath);

}  // namespace vq::linux_platform
