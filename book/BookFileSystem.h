#pragma once

#include <QByteArray>
#include <QList>

#include <sys/stat.h>
#include <sys/types.h>

// The file operations the address book makes, and nothing else, so that a
// disk of another kind (one that stops half-way through a write, as a power
// cut does) can be put under the book. Each behaves as the system call of the
// same name: -1 with errno set on failure.
class BookFileSystem
{
public:
    virtual ~BookFileSystem() = default;

    virtual int open(const QByteArray& path, int flags, mode_t mode = 0) = 0;
    // `name` in `folder`, reached through the folder as it is now and never
    // through a link: a name someone else made a link cannot redirect it.
    virtual int openInFolder(const QByteArray& folder, const QByteArray& name, int flags, mode_t mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t pread(int fd, void* data, size_t count, off_t offset) = 0;
    virtual ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    // The file's bytes and length are on the disk when this returns.
    virtual int fdatasync(int fd) = 0;
    // The same, and the file's mode and times too.
    virtual int fsync(int fd) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int stat(const QByteArray& path, struct stat* st) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int flock(int fd, int operation) = 0;
    virtual int rename(const QByteArray& from, const QByteArray& to) = 0;
    virtual int unlink(const QByteArray& path) = 0;
    // The names in the folder (made, renamed, removed) are on the disk when this returns.
    virtual int syncFolder(const QByteArray& folder) = 0;
    // The names of the entries in a folder; none when it cannot be read.
    virtual QList<QByteArray> names(const QByteArray& folder) = 0;
    // Where the file named by `path` lies: absolute, a link at the end followed.
    virtual QByteArray realPath(const QByteArray& path) = 0;

    // The machine's own disk.
    static BookFileSystem& disk();
};
