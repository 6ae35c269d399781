#pragma once

#include <string>

namespace boxsim {

// Opens a pseudo-terminal whose other side behaves like a raw serial line.
// The master (non-blocking, close-on-exec) goes to masterFd, the slave's
// path to slavePath. The slave is configured and closed again: raw settings
// stay with the pair while the master lives.
bool openPty(int& masterFd, std::string& slavePath, std::string& error);

// The comN link through which the program reaches the box. It is made only
// where no such name exists or a stale one does (a link to a pseudo-terminal
// that is gone, left by a simulator that did not end cleanly): an operator's
// own link, or another simulator's, is never replaced. On destruction it is
// removed only if it still points at this box.
class PortLink {
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    bool create(const std::string& name, const std::string& target, std::string& error);
    void remove();

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string target_;
};

} // namespace boxsim
