#include "book/AddressBookFile.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const QString AddressBookFile::DefaultName = QStringLiteral("RUBRICA.DAT");

namespace {

constexpr std::int64_t CardBytes = CustomerCard::Size;

} // namespace

AddressBookFile::AddressBookFile(BookFileSystem& files)
    : files_(files)
{
}

AddressBookFile::~AddressBookFile()
{
    close();
}

void AddressBookFile::close()
{
    dropJournal();
    if (fd_ >= 0)
        files_.close(fd_); // lets the lock go
    fd_ = -1;
    readOnly_ = ReadOnly::No;
    position_ = 0;
    pendingSave_ = false;
}

QStringList AddressBookFile::takeNotices()
{
    return std::exchange(notices_, {});
}

QByteArray AddressBookFile::folderName() const
{
    const int slash = realPath_.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : realPath_.left(slash);
}

void AddressBookFile::fail(AddressBookError::Step step, const QString& reason, int card) const
{
    throw AddressBookError(step, AddressBookError::messageFor(step, path_, reason, card), reason);
}

void AddressBookFile::fail(AddressBookError::Step step, int errorNumber, int card) const
{
    fail(step, AddressBookError::reasonFor(errorNumber), card);
}

void AddressBookFile::open(const QString& path, Access access)
{
    openFile(path, access, true);
}

void AddressBookFile::openFile(const QString& path, Access access, bool tellReplaced)
{
    using Step = AddressBookError::Step;
    // Reached the same way however the program's working folder changes.
    const QByteArray name = QFile::encodeName(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
    const auto refuse = [&](Step step, const QString& reason) {
        throw AddressBookError(step, AddressBookError::messageFor(step, path, reason, -1), reason);
    };
    bool writable = false;
    // Not blocking: a pipe by that name must not freeze the window.
    int fd = -1;
    if (access == Access::Write) {
        fd = files_.open(name, O_RDWR | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            // The customers' data, for the user alone.
            fd = files_.open(name, O_RDWR | O_NONBLOCK | O_CREAT | O_EXCL, 0600);
            if (fd < 0 && errno != EEXIST)
                refuse(Step::Create, AddressBookError::reasonFor(errno));
            if (fd < 0) // made by someone else in the meantime
                fd = files_.open(name, O_RDWR | O_NONBLOCK);
        }
        writable = fd >= 0;
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
            fd = files_.open(name, O_RDONLY | O_NONBLOCK);
    } else {
        fd = files_.open(name, O_RDONLY | O_NONBLOCK);
    }
    if (fd < 0)
        refuse(Step::Open, errno == ENOENT ? QStringLiteral("il file non esiste") : AddressBookError::reasonFor(errno));
    struct stat st {};
    QString reason;
    if (files_.fstat(fd, &st) != 0)
        reason = AddressBookError::reasonFor(errno);
    else if (!S_ISREG(st.st_mode))
        reason = QStringLiteral("non è un file");
    if (!reason.isEmpty()) {
        files_.close(fd);
        refuse(Step::Open, reason);
    }

    // The file already open: it keeps its descriptor, and so its lock
    // (unless it was opened for reading only and is now wanted for writing).
    struct stat held {};
    if (fd_ >= 0 && files_.fstat(fd_, &held) == 0 && held.st_dev == st.st_dev && held.st_ino == st.st_ino
        && !(access == Access::Write && readOnly_ == ReadOnly::Asked)) {
        files_.close(fd);
        path_ = path;
        position_ = 0;
        if (access == Access::Write && (readOnly_ == ReadOnly::HeldElsewhere || readOnly_ == ReadOnly::Unrecovered))
            takeOver();
        else if (isReadOnly())
            readPendingSave();
        return;
    }
    const bool replaced = fd_ >= 0 && name == name_;
    const QString shown = replaced ? path_ : path;
    close();
    fd_ = fd;
    path_ = shown;
    name_ = name;
    realPath_ = files_.realPath(name);
    readOnly_ = writable ? ReadOnly::No : (access == Access::ReadOnly ? ReadOnly::Asked : ReadOnly::Permission);
    if (replaced && tellReplaced)
        notices_.append(QStringLiteral("La rubrica \"%1\" è stata sostituita mentre era aperta (da un altro "
                                       "programma o da una copia): è stata riaperta.")
                            .arg(path_));
    if (writable)
        takeOver();
    else
        readPendingSave();
}

// The book's name opened again, told as the operator gave it.
void AddressBookFile::reopen(bool tellReplaced)
{
    const QString shown = path_;
    openFile(QFile::decodeName(name_), Access::Write, tellReplaced);
    path_ = shown;
}

// This program becomes the book's one writer, or learns that another program is.
void AddressBookFile::takeOver()
{
    if (files_.flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        if (!toldHeld_)
            notices_.append(QStringLiteral("La rubrica \"%1\" è già aperta in un altro programma Pradix: qui si "
                                           "può consultare, ma non salvare né ordinare finché l'altro programma "
                                           "non la chiude.")
                                .arg(path_));
        toldHeld_ = true;
        readOnly_ = ReadOnly::HeldElsewhere;
        readPendingSave();
        return;
    }
    // A file system without locks leaves the book to this program, as before.
    toldHeld_ = false;
    readOnly_ = ReadOnly::No;
    pendingSave_ = false;
    recover();
    removeScratchCopies();
}

void AddressBookFile::requireOpen(AddressBookError::Step step, int card) const
{
    if (fd_ < 0)
        fail(step, QStringLiteral("la rubrica non è aperta"), card);
}

void AddressBookFile::requireWritable(AddressBookError::Step step, int card) const
{
    requireOpen(step, card);
    switch (readOnly_) {
    case ReadOnly::No:
        return;
    case ReadOnly::HeldElsewhere:
        fail(step, QStringLiteral("la rubrica è aperta in un altro programma Pradix"), card);
    case ReadOnly::Unrecovered:
        fail(step, QStringLiteral("l'ultimo salvataggio interrotto non si è potuto completare"), card);
    case ReadOnly::Asked:
    case ReadOnly::Permission:
        break;
    }
    fail(step, QStringLiteral("il file è di sola lettura"), card);
}

bool AddressBookFile::stillAtPath() const
{
    struct stat atPath {};
    struct stat held {};
    return files_.stat(name_, &atPath) == 0 && files_.fstat(fd_, &held) == 0
        && atPath.st_dev == held.st_dev && atPath.st_ino == held.st_ino;
}

std::int64_t AddressBookFile::length() const
{
    requireOpen(AddressBookError::Step::Position, position_);
    struct stat st {};
    if (files_.fstat(fd_, &st) != 0)
        fail(AddressBookError::Step::Position, errno, position_);
    if (pendingSave_)
        return std::max<std::int64_t>(st.st_size, pending_.offset + CardBytes);
    return std::int64_t(st.st_size);
}

int AddressBookFile::cardCount() const
{
    return int(std::min<std::int64_t>(length() / CardBytes, INT32_MAX));
}

bool AddressBookFile::hasPartialCard() const
{
    return length() % CardBytes != 0;
}

void AddressBookFile::seek(int index)
{
    requireOpen(AddressBookError::Step::Position, index);
    if (index < 0)
        fail(AddressBookError::Step::Position, QStringLiteral("la posizione non è valida"), index);
    position_ = index;
}

bool AddressBookFile::atEnd() const
{
    return std::int64_t(position_) * CardBytes >= length();
}

std::int64_t AddressBookFile::readAll(int fd, void* data, size_t count, std::int64_t offset) const
{
    auto* at = static_cast<char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = files_.pread(fd, at + done, count - done, off_t(offset + std::int64_t(done)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += size_t(n);
    }
    return std::int64_t(done);
}

void AddressBookFile::readCard(CustomerCard& card)
{
    using Step = AddressBookError::Step;
    requireOpen(Step::Read, position_);
    const std::int64_t offset = std::int64_t(position_) * CardBytes;
    const std::int64_t size = length();
    if (offset >= size)
        fail(Step::Read, QStringLiteral("la scheda non esiste, il file finisce prima"), position_);
    if (offset + CardBytes > size)
        fail(Step::Read, QStringLiteral("la scheda è incompleta, il file finisce a metà"), position_);
    if (pendingSave_ && offset == pending_.offset) {
        card = pending_.card;
        ++position_;
        return;
    }
    CustomerCard read;
    const std::int64_t n = readAll(fd_, read.data(), size_t(CardBytes), offset);
    if (n < 0)
        fail(Step::Read, errno, position_);
    if (n < CardBytes)
        fail(Step::Read, QStringLiteral("la scheda è incompleta, il file finisce a metà"), position_);
    card = read;
    ++position_;
}

bool AddressBookFile::writeAll(int fd, const void* data, size_t count, std::int64_t offset) const
{
    const auto* at = static_cast<const char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = files_.pwrite(fd, at + done, count - done, off_t(offset + std::int64_t(done)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

void AddressBookFile::writeCard(const CustomerCard& card)
{
    using Step = AddressBookError::Step;
    requireWritable(Step::Write, position_);
    if (!stillAtPath()) {
        const int index = position_;
        reopen(false);
        fail(Step::Write,
             QStringLiteral("la rubrica è stata sostituita mentre era aperta (da un altro programma o da una copia) "
                            "ed è stata riaperta: controllare la scheda e salvarla di nuovo"),
             index);
    }
    struct stat st {};
    if (files_.fstat(fd_, &st) != 0)
        fail(Step::Write, errno, position_);
    const std::int64_t offset = std::int64_t(position_) * CardBytes;
    const std::int64_t size = st.st_size;
    if (position_ > size / CardBytes)
        fail(Step::Write, QStringLiteral("la scheda precedente non esiste"), position_);

    // What the file holds there now, to put back should the write break off.
    CustomerCard before;
    const std::int64_t kept = readAll(fd_, before.data(), size_t(std::min(CardBytes, size - offset)), offset);
    if (kept < 0)
        fail(Step::Write, errno, position_);

    // The card goes to the journal first, and the journal onto the disk; only
    // then is the book touched.
    if (journalFd_ < 0) {
        QString refused;
        journalFd_ = openJournal(O_RDWR | O_CREAT, &refused);
        if (journalFd_ < 0)
            fail(Step::Write, refused, position_);
        // Emptied only once known to be ours.
        if (files_.ftruncate(journalFd_, 0) != 0 || files_.syncFolder(folderName()) != 0) {
            const int error = errno;
            dropJournal();
            fail(Step::Write,
                 QStringLiteral("non si può scrivere nella cartella della rubrica (%1)")
                     .arg(AddressBookError::reasonFor(error)),
                 position_);
        }
    }
    journal::Record record;
    record.inode = std::uint64_t(st.st_ino);
    record.offset = offset;
    record.lengthBefore = size;
    record.card = card;
    record.before = before; // zeros past the book's end
    const QByteArray journal = journal::bytesOf(record);
    if (!writeAll(journalFd_, journal.constData(), size_t(journal.size()), 0) || files_.fdatasync(journalFd_) != 0) {
        const int error = errno;
        dropJournal();
        fail(Step::Write, error, position_);
    }

    if (!writeAll(fd_, card.data(), size_t(CardBytes), offset) || files_.fdatasync(fd_) != 0) {
        const int error = errno;
        writeAll(fd_, before.data(), size_t(kept), offset);
        // Put back, the journal must not carry the save out on the next opening.
        if (files_.ftruncate(fd_, off_t(size)) == 0 && files_.fdatasync(fd_) == 0)
            dropJournal();
        fail(Step::Write, error, position_);
    }
    // The save is whole on disk. Emptying the journal need not be: carried out
    // again, it writes the same card.
    files_.pwrite(journalFd_, "\0\0\0\0\0\0\0\0", 8, 0);
    ++position_;
}
