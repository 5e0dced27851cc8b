#pragma once

#include <string>

namespace qvr {

// Opens a file, a folder or a web address in what the desktop associates with it
// (xdg-open, found on PATH, started detached). False when it could not be started.
bool ShellOpen(const std::string& target);

} // namespace qvr
