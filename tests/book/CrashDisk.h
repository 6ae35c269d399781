#pragma once

#include "book/BookFileSystem.h"

#include <QHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

// A disk in memory, one folder deep, that keeps apart what was written and
// what was made lasting (a file's bytes by fdatasync, the folder's names by
// syncFolder). It can stop after any number of steps (a byte written, a name
// made or removed, a sync) as a machine stops in a power cut: the step
// cut short is half done, and every later operation fails with EIO (closing
// a file aside, and the folder then lists nothing), so the program cannot
// tell how many bytes of a write got through before the stop.
// The machine then starts again in every way it may, keeping or dropping
// what was never synced.
class CrashDisk final : public BookFileSystem
{
public:
    struct Node
    {
        QByteArray live, lasting;
        mode_t mode = 0600;
        ino_t inode = 0;
    };
    using NodeRef = std::shared_ptr<Node>;

    // Steps allowed from now on; -1 for no limit.
    void stopAfter(long steps) { budget_ = steps; }
    long stepsTaken() const { return taken_; }
    bool stopped() const { return stopped_; }

    // The bytes of the write the stop cut short that never reached the file.
    qsizetype bytesCutOff() const { return cut_.bytes.size() - cut_.through; }
    // This disk had the stop come `more` bytes later in the write it cut
    // short: the program saw the same failure, only more bytes got through.
    CrashDisk stoppedLater(qsizetype more) const
    {
        CrashDisk later = *this;
        const NodeRef copy = std::make_shared<Node>(*cut_.node);
        for (auto* names : { &later.names_, &later.lastingNames_ })
            for (auto& [name, node] : *names)
                if (node == cut_.node)
                    node = copy;
        for (auto& [fd, node] : later.open_)
            if (node == cut_.node)
                node = copy;
        const qsizetype n = std::min(more, bytesCutOff());
        const qsizetype at = cut_.offset + cut_.through;
        if (copy->live.size() < at + n)
            copy->live.resize(at + n, '\0');
        std::memcpy(copy->live.data() + at, cut_.bytes.constData() + cut_.through, size_t(n));
        later.cut_.node = copy;
        later.cut_.through += n;
        later.taken_ += long(n);
        return later;
    }

    // The machine started again in every way it may: each file's bytes that
    // were never synced either reached the disk (kept) or did not, file by
    // file, and so did the folder's names. Way 0 drops everything unsynced.
    // Two ways have the same key only when they leave the same disk, names
    // and bytes; each file's bytes are hashed once for all the ways.
    std::vector<QByteArray> restartKeys() const
    {
        const std::vector<const Node*> unsynced = unsyncedNodes();
        std::map<std::pair<const char*, qsizetype>, QByteArray> hashes;
        const auto hashOf = [&hashes](const QByteArray& bytes) -> const QByteArray& {
            QByteArray& hash = hashes[{ bytes.constData(), bytes.size() }];
            if (hash.isEmpty())
                hash = QByteArray::number(bytes.size()) + '\0' + QByteArray::number(quint64(qHash(bytes, 1)));
            return hash;
        };
        std::vector<QByteArray> keys;
        for (unsigned way = 0; way < (2u << unsynced.size()); ++way) {
            QByteArray key;
            key.reserve(256);
            for (const auto& [name, node] : (way & 1) ? names_ : lastingNames_)
                key.append(name).append('\0').append(hashOf(kept(unsynced, *node, way))).append('\0');
            keys.push_back(key);
        }
        return keys;
    }
    CrashDisk restart(unsigned way) const
    {
        const std::vector<const Node*> unsynced = unsyncedNodes();
        CrashDisk after;
        after.inodes_ = inodes_;
        // A disk may come back under another device number (a network
        // share, a re-plugged stick): nothing may hang on it.
        after.device_ = device_ + 1;
        for (const auto& [name, node] : (way & 1) ? names_ : lastingNames_) {
            auto copy = std::make_shared<Node>(*node);
            copy->live = copy->lasting = kept(unsynced, *node, way);
            after.names_[name] = after.lastingNames_[name] = copy;
        }
        return after;
    }

    NodeRef file(const QByteArray& path) const
    {
        const auto it = names_.find(path);
        return it == names_.end() ? nullptr : it->second;
    }
    // A file whose bytes and name are already on the disk.
    void lay(const QByteArray& path, const QByteArray& bytes)
    {
        auto node = std::make_shared<Node>();
        node->live = node->lasting = bytes;
        node->inode = ++inodes_;
        names_[path] = lastingNames_[path] = node;
    }

    int open(const QByteArray& path, int flags, mode_t mode) override
    {
        if (stopped_)
            return failWith(EIO);
        NodeRef node = file(path);
        if (node && (flags & O_CREAT) && (flags & O_EXCL))
            return failWith(EEXIST);
        if (!node && !(flags & O_CREAT))
            return failWith(ENOENT);
        if (!node || (flags & O_TRUNC)) {
            if (!step())
                return -1;
            if (!node) {
                node = std::make_shared<Node>();
                node->mode = mode;
                node->inode = ++inodes_;
                names_[path] = node;
            }
            if (flags & O_TRUNC)
                node->live.clear();
        }
        open_[++fds_] = node;
        return fds_;
    }
    int openInFolder(const QByteArray& folder, const QByteArray& name, int flags, mode_t mode) override
    {
        return open(folder + '/' + name, flags, mode);
    }
    int close(int fd) override { return open_.erase(fd) ? 0 : failWith(EBADF); }
    ssize_t pread(int fd, void* data, size_t count, off_t offset) override
    {
        const NodeRef node = at(fd);
        if (!node)
            return -1;
        const qsizetype n = std::clamp<qsizetype>(node->live.size() - offset, 0, qsizetype(count));
        if (n > 0)
            std::memcpy(data, node->live.constData() + offset, size_t(n));
        return n;
    }
    ssize_t pwrite(int fd, const void* data, size_t count, off_t offset) override
    {
        const NodeRef node = at(fd);
        if (!node)
            return -1;
        size_t n = count;
        if (budget_ >= 0 && long(n) > budget_ - taken_)
            n = size_t(std::max(0L, budget_ - taken_));
        if (node->live.size() < offset + qsizetype(n))
            node->live.resize(offset + qsizetype(n), '\0');
        std::memcpy(node->live.data() + offset, data, n);
        taken_ += long(n);
        if (n < count) {
            stopped_ = true;
            cut_ = { node, offset + qsizetype(n), QByteArray(static_cast<const char*>(data) + n, qsizetype(count - n)), 0 };
            return failWith(EIO);
        }
        return ssize_t(n);
    }
    int ftruncate(int fd, off_t length) override
    {
        const NodeRef node = at(fd);
        if (!node || !step())
            return -1;
        node->live.resize(length, '\0');
        return 0;
    }
    int fdatasync(int fd) override
    {
        const NodeRef node = at(fd);
        if (!node || !step())
            return -1;
        node->lasting = node->live;
        return 0;
    }
    int fsync(int fd) override { return fdatasync(fd); }
    int fstat(int fd, struct stat* st) override
    {
        const NodeRef node = at(fd);
        return node ? describe(*node, st) : -1;
    }
    int stat(const QByteArray& path, struct stat* st) override
    {
        if (stopped_)
            return failWith(EIO);
        const NodeRef node = file(path);
        return node ? describe(*node, st) : failWith(ENOENT);
    }
    int fchmod(int fd, mode_t mode) override
    {
        const NodeRef node = at(fd);
        if (!node || !step())
            return -1;
        node->mode = mode;
        return 0;
    }
    int flock(int fd, int) override { return at(fd) ? 0 : -1; }
    int rename(const QByteArray& from, const QByteArray& to) override
    {
        if (stopped_)
            return failWith(EIO);
        const NodeRef node = file(from);
        if (!node)
            return failWith(ENOENT);
        if (!step())
            return -1;
        names_.erase(from);
        names_[to] = node;
        return 0;
    }
    int unlink(const QByteArray& path) override
    {
        if (stopped_)
            return failWith(EIO);
        if (!file(path))
            return failWith(ENOENT);
        if (!step())
            return -1;
        names_.erase(path);
        return 0;
    }
    int syncFolder(const QByteArray&) override
    {
        if (!step())
            return -1;
        lastingNames_ = names_;
        return 0;
    }
    QList<QByteArray> names(const QByteArray& folder) override
    {
        QList<QByteArray> found;
        if (stopped_)
            return found;
        for (const auto& [name, node] : names_)
            if (name.startsWith(folder + '/'))
                found.append(name.mid(folder.size() + 1));
        return found;
    }
    QByteArray realPath(const QByteArray& path) override { return path; }

private:
    // The files whose bytes were never all synced, each once.
    std::vector<const Node*> unsyncedNodes() const
    {
        std::vector<const Node*> unsynced;
        for (const auto* names : { &names_, &lastingNames_ })
            for (const auto& [name, node] : *names)
                if (!same(node->live, node->lasting) && std::find(unsynced.begin(), unsynced.end(), node.get()) == unsynced.end())
                    unsynced.push_back(node.get());
        return unsynced;
    }
    // What a file holds after the restart `way`: bit 0 of the way picks the
    // folder's names, the next bits each unsynced file's bytes.
    static const QByteArray& kept(const std::vector<const Node*>& unsynced, const Node& node, unsigned way)
    {
        const auto at = std::find(unsynced.begin(), unsynced.end(), &node) - unsynced.begin();
        return (way >> (at + 1)) & 1 ? node.live : node.lasting;
    }
    static bool same(const QByteArray& a, const QByteArray& b)
    {
        return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
    }
    static int failWith(int error)
    {
        errno = error;
        return -1;
    }
    // One step more, unless the machine has stopped.
    bool step()
    {
        if (stopped_ || (budget_ >= 0 && taken_ >= budget_)) {
            stopped_ = true;
            return failWith(EIO) == 0;
        }
        ++taken_;
        return true;
    }
    NodeRef at(int fd)
    {
        const auto it = open_.find(fd);
        if (stopped_ || it == open_.end()) {
            failWith(stopped_ ? EIO : EBADF);
            return nullptr;
        }
        return it->second;
    }
    int describe(const Node& node, struct stat* st) const
    {
        *st = {};
        st->st_dev = device_;
        st->st_nlink = 1;
        st->st_uid = ::geteuid();
        st->st_ino = node.inode;
        st->st_mode = S_IFREG | node.mode;
        st->st_size = node.live.size();
        return 0;
    }

    std::map<QByteArray, NodeRef> names_, lastingNames_;
    std::map<int, NodeRef> open_;
    int fds_ = 2;
    ino_t inodes_ = 0;
    dev_t device_ = 1;
    long budget_ = -1;
    long taken_ = 0;
    bool stopped_ = false;
    // The write the stop cut short: the file, where it stopped, what it
    // still had to write, and how much of that got through after all.
    struct Cut
    {
        NodeRef node;
        qsizetype offset = 0;
        QByteArray bytes;
        qsizetype through = 0;
    } cut_;
};
