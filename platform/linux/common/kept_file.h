#pragma once
// A /proc or /sys file kept open between readings and read again from its
// start: a read at offset 0 makes seq_file and sysfs generate the text
// afresh, so a reader polled often saves the open and close of every
// reading.

#include <string>

#include "platform/linux/common/unique_fd.h"

namespace vq::linux_platform {

class KeptFile {
public:
    explicit KeptFile(std::string path) : path_(std::move(path)) {}

    // The whole text into `content` (whose capacity is kept). A file whose
    // read fails (its device was unplugged, its folder replaced) is opened
    // again once. false, with `content` empty, when it cannot be read.
    bool readInto(std::string& content);

    // For <proc>/self/mountinfo: whether the mount table changed since the
    // last call; the kernel flags the open file with POLLPRI once for every
    // change, and the poll consumes the flag. true while the file is not open,
    // so that a reader reads it before trusting what it holds.
    bool changed();

    const std::string& path() const { return path_; }

private:
    bool readOpen(std::string& content);

    std::string path_;
    UniqueFd fd_;
};

}  // namespace vq::linux_platform
