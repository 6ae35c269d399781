#include "book/BookFileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

class Disk final : public BookFileSystem
{
public:
    int open(const QByteArray& path, int flags, mode_t mode) override
    {
        return ::open(path.constData(), flags | O_CLOEXEC, mode);
    }
    int openInFolder(const QByteArray& folder, const QByteArray& name, int flags, mode_t mode) override
    {
        const int dir = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            return -1;
        const int fd = ::openat(dir, name.constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
        const int error = errno;
        ::close(dir);
        errno = error;
        return fd;
    }
    int close(int fd) override { return ::close(fd); }
    ssize_t pread(int fd, void* data, size_t count, off_t offset) override
    {
        return ::pread(fd, data, count, offset);
    }
    ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) override
    {
        return ::pwrite(fd, data, count, offset);
    }
    int ftruncate(int fd, off_t length) override { return ::ftruncate(fd, length); }
    int fdatasync(int fd) override { return ::fdatasync(fd); }
    int fsync(int fd) override { return ::fsync(fd); }
    int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int stat(const QByteArray& path, struct stat* st) override { return ::stat(path.constData(), st); }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int flock(int fd, int operation) override
    {
        int result;
        do
            result = ::flock(fd, operation);
        while (result != 0 && errno == EINTR);
        return result;
    }
    int rename(const QByteArray& from, const QByteArray& to) override
    {
        return ::rename(from.constData(), to.constData());
    }
    int unlink(const QByteArray& path) override { return ::unlink(path.constData()); }
    int syncFolder(const QByteArray& folder) override
    {
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return -1;
        const int result = ::fsync(fd);
        const int error = errno;
        ::close(fd);
        errno = error;
        return result;
    }
    QList<QByteArray> names(const QByteArray& folder) override
    {
        QList<QByteArray> found;
        const QStringList entries = QDir(QFile::decodeName(folder)).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& name : entries)
            found.append(QFile::encodeName(name));
        return found;
    }
    QByteArray realPath(const QByteArray& path) override
    {
        const QFileInfo info(QFile::decodeName(path));
        return QFile::encodeName(info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath());
    }
};

} // namespace

BookFileSystem& BookFileSystem::disk()
{
    static Disk disk;
    return disk;
}
