#include "fleet/RunLock.h"

#include "fleet/StoreFailure.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace fleet {

namespace {

QByteArray lockPath(const QString& storePath)
{
    return QFile::encodeName(storePath + QStringLiteral(".lock"));
}

// The holder's process id as it wrote it; 0 when it has not yet.
qint64 holderPid(int fd)
{
    char text[32] = {};
    const ssize_t got = ::pread(fd, text, sizeof text - 1, 0);
    if (got <= 0)
        return 0;
    bool ok = false;
    const qint64 pid = QByteArray(text, int(got)).trimmed().toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

} // namespace

RunLock::RunLock(const QString& storePath)
    : storePath_(storePath)
{
}

RunLock::~RunLock()
{
    release();
}

void RunLock::acquire()
{
    if (held())
        return;
    const int fd = ::open(lockPath(storePath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        throw failure::fromErrno(storePath_, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        const qint64 pid = holderPid(fd);
        ::close(fd);
        if (why == EWOULDBLOCK)
            throw failure::busy(storePath_, pid);
        throw failure::fromErrno(storePath_, why);
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        const int why = errno;
        ::close(fd);
        throw failure::fromErrno(storePath_, why);
    }
    fd_ = fd;
}

void RunLock::release()
{
    if (!held())
        return;
    // The pid goes before the lock, so nobody reads a holder that has gone;
    // a pid left behind misleads nobody either: the lock, not the text, decides.
    [[maybe_unused]] const int emptied = ::ftruncate(fd_, 0);
    ::close(fd_);
    fd_ = -1;
}

bool RunLock::taken(const QString& storePath)
{
    const int fd = ::open(lockPath(storePath).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

} // namespace fleet
