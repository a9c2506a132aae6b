#pragma once
// Processes on Linux: the process table under /proc and the desktop entries
// and icon themes of the data directories.

#include <memory>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace vq::linux_platform {

// The XDG data directories, most important first: the user's data home, then
// $XDG_DATA_DIRS (by default /usr/local/share and /usr/share).
std::vector<std::string> xdgDataDirectories(const std::string& dataHome, const char* dataDirsVariable);

std::shared_ptr<Processes> makeLinuxProcesses(const std::string& procRoot, std::vector<std::string> dataDirectories);

// wl-copy under Wayland, else xclip under X11, with the text on standard
// input; nothing without a display. The program runs in the background of
// the thread-default main context and is killed after a few seconds.
std::shared_ptr<Clipboard> makeLinuxClipboard();

// The command the clipboard runs for these display variables; empty when
// there is no display.
std::vector<std::string> clipboardCommand(const char* waylandDisplay, const char* display);

}  // namespace vq::linux_platform
