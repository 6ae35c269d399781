#include "sim/Pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace boxsim {
namespace {

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Raw means every byte passes unchanged in both directions: no flow-control
// characters swallowed, no CR/LF translation, no signals from 0x03.
bool makeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(HUPCL | CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    // tcsetattr succeeds when any one change applied: read back and compare.
    termios back{};
    if (tcgetattr(fd, &back) != 0)
        return false;
    return (back.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (back.c_oflag & OPOST) == 0
        && (back.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP)) == 0
        && (back.c_cflag & CSIZE) == CS8;
}

bool makeFolders(const std::string& path, std::string& error)
{
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = systemError("cannot make the folder " + part);
            return false;
        }
    }
    struct stat st{};
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

std::string portsFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        if (!home || home[0] != '/')
            return {};
        base = std::string(home) + "/.config";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/pradix/ports";
}

std::string linkTarget(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    if (n < 0 || n == static_cast<ssize_t>(sizeof buffer))
        return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

} // namespace

bool openPty(int& masterFd, std::string& slavePath, std::string& error)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = systemError("cannot open a pseudo-terminal");
        return false;
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        error = systemError("cannot prepare the pseudo-terminal");
        close(master);
        return false;
    }
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = systemError("cannot make the pseudo-terminal non-blocking");
        close(master);
        return false;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = systemError(std::string("cannot open ") + name);
        close(master);
        return false;
    }
    const bool raw = makeRaw(slave);
    const int rawErrno = errno;
    close(slave);
    if (!raw) {
        errno = rawErrno;
        error = systemError(std::string("cannot set raw mode on ") + name);
        close(master);
        return false;
    }
    masterFd = master;
    slavePath = name;
    return true;
}

PortLink::~PortLink()
{
    remove();
}

bool PortLink::create(const std::string& name, const std::string& target, std::string& error)
{
    const std::string folder = portsFolder();
    if (folder.empty()) {
        error = "no home folder for the port link";
        return false;
    }
    if (!makeFolders(folder, error))
        return false;
    const std::string path = folder + "/" + name;
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a link";
            return false;
        }
        // The operator's own link (to an adapter, say) or a running simulator's is theirs: only
        // a link left by a simulator that ended without removing it, to a pseudo-terminal that
        // is gone, is taken over.
        const std::string old = linkTarget(path);
        struct stat gone{};
        if (old.rfind("/dev/pts/", 0) != 0 || stat(old.c_str(), &gone) == 0 || errno != ENOENT) {
            error = path + " already exists (-> " + old
                + ") and this simulator did not make it: it is left as it is; remove it or choose "
                  "another --link";
            return false;
        }
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = systemError("cannot remove the stale link " + path);
            return false;
        }
    }
    // Made where nothing is: a link someone puts there meanwhile is never replaced.
    if (symlink(target.c_str(), path.c_str()) != 0) {
        error = systemError("cannot make the link " + path);
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}

void PortLink::remove()
{
    if (path_.empty())
        return;
    struct stat st{};
    if (lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && linkTarget(path_) == target_)
        unlink(path_.c_str());
    path_.clear();
}

} // namespace boxsim
