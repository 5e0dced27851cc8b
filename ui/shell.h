#pragma once

#include <string>

namespace qvr {

// Opens a file, a folder or a web address in what the desktop associates with it
// (xdg-open, found on PATH, started detached). False when it could not be started.
bool shellOpen(const std::string& target);

// The window's way out to the desktop, passed in so that tests can see what it
// opened. The real one is shellOpen.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;
    virtual bool open(const std::string& target) = 0;
};

class ShellOpener final : public DesktopOpener {
public:
    bool open(const std::string& target) override { return shellOpen(target); }
};

} // namespace qvr
