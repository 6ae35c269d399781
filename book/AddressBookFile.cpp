#include "book/AddressBookFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const QString AddressBookFile::DefaultName = QStringLiteral("RUBRICA.DAT");

namespace {

constexpr std::int64_t CardBytes = CustomerCard::Size;
// The sorted book goes out this many cards a write.
constexpr int CardsPerWrite = 64;

// The cause of a system error in the operator's words.
QString errnoReason(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
        return QStringLiteral("il disco è pieno");
    case EDQUOT:
        return QStringLiteral("lo spazio concesso sul disco è esaurito");
    case EFBIG:
        return QStringLiteral("il file ha raggiunto la dimensione massima consentita");
    case EACCES:
    case EPERM:
        return QStringLiteral("accesso negato");
    case EROFS:
        return QStringLiteral("il disco è di sola lettura");
    case EISDIR:
        return QStringLiteral("è una cartella");
    case ENOENT:
        return QStringLiteral("la cartella non esiste");
    case ENOTDIR:
    case ELOOP:
        return QStringLiteral("il percorso non è valido");
    case ENAMETOOLONG:
        return QStringLiteral("il nome del file è troppo lungo");
    case EIO:
        return QStringLiteral("errore del disco");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("troppi file aperti");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("il file è in uso");
    case ENOMEM:
        return QStringLiteral("memoria insufficiente");
    default:
        return QStringLiteral("errore del sistema (%1: %2)")
            .arg(errorNumber)
            .arg(QString::fromLocal8Bit(std::strerror(errorNumber)));
    }
}

QString messageFor(AddressBookError::Step step, const QString& path, const QString& reason, int card)
{
    const QString number = QString::number(card + 1);
    switch (step) {
    case AddressBookError::Step::Open:
        return QStringLiteral("Impossibile aprire la rubrica \"%1\": %2.").arg(path, reason);
    case AddressBookError::Step::Create:
        return QStringLiteral("Impossibile creare la rubrica \"%1\": %2.").arg(path, reason);
    case AddressBookError::Step::Position:
        return QStringLiteral("Impossibile raggiungere la scheda %1 della rubrica \"%2\": %3.").arg(number, path, reason);
    case AddressBookError::Step::Read:
        return QStringLiteral("Impossibile leggere la scheda %1 della rubrica \"%2\": %3.").arg(number, path, reason);
    case AddressBookError::Step::Write:
        return QStringLiteral("Impossibile scrivere la scheda %1 nella rubrica \"%2\": %3.\nLa scheda non è stata salvata.")
            .arg(number, path, reason);
    case AddressBookError::Step::Sort:
        return QStringLiteral("Impossibile ordinare la rubrica \"%1\": %2.\nLa rubrica non è stata modificata.")
            .arg(path, reason);
    }
    return reason;
}

// The journal: a fixed-size record, so that a new one always covers the last
// one whole. A record is taken only with its magic, its length and its
// checksum right; a cut-short or stale write fails one of them.
//   "PRXJRNL2", inode, offset, length before (each 8 bytes, little-endian),
//   the new card, the bytes the book held there, SHA-256 of all before it.
// An older Pradix wrote "PRXJRNL1", device, inode, offset, length before, the
// new card and the checksum: read, but never carried out over a card it
// cannot tell apart from another book's.
constexpr char JournalMagic[8] = { 'P', 'R', 'X', 'J', 'R', 'N', 'L', '2' };
constexpr char OlderJournalMagic[8] = { 'P', 'R', 'X', 'J', 'R', 'N', 'L', '1' };
constexpr int JournalHeader = 8 + 3 * 8;
constexpr int JournalDigest = 32;
constexpr int JournalSize = JournalHeader + 2 * CustomerCard::Size + JournalDigest;
constexpr int OlderJournalHeader = 8 + 4 * 8;
constexpr int OlderJournalSize = OlderJournalHeader + CustomerCard::Size + JournalDigest;
// Further than any book can reach: offsets past it are not a save of ours,
// and sums of two stay far from the 64-bit limit.
constexpr std::int64_t LargestOffset = std::int64_t(1) << 50;
// A sort's scratch copy younger than this may still be in the making.
constexpr std::int64_t ScratchAgeSeconds = 10 * 60;

QByteArray digestOf(const char* data, int count)
{
    return QCryptographicHash::hash(QByteArrayView(data, count), QCryptographicHash::Sha256);
}

bool wholeRecord(const QByteArray& bytes, int size)
{
    return bytes.size() == size && digestOf(bytes.constData(), size - JournalDigest) == bytes.right(JournalDigest);
}

} // namespace

QByteArray AddressBookFile::journalBytes(const JournalRecord& r)
{
    QByteArray bytes(JournalSize, '\0');
    char* at = bytes.data();
    std::memcpy(at, JournalMagic, 8);
    qToLittleEndian<quint64>(r.inode, at + 8);
    qToLittleEndian<qint64>(r.offset, at + 16);
    qToLittleEndian<qint64>(r.lengthBefore, at + 24);
    std::memcpy(at + JournalHeader, r.card.data(), CustomerCard::Size);
    std::memcpy(at + JournalHeader + CustomerCard::Size, r.before.data(), CustomerCard::Size);
    const QByteArray digest = digestOf(at, JournalSize - JournalDigest);
    std::memcpy(at + JournalSize - JournalDigest, digest.constData(), JournalDigest);
    return bytes;
}

AddressBookFile::JournalState AddressBookFile::readJournal(const QByteArray& bytes, JournalRecord& r)
{
    const bool current = bytes.size() >= 8 && std::memcmp(bytes.constData(), JournalMagic, 8) == 0;
    const bool older = bytes.size() >= 8 && std::memcmp(bytes.constData(), OlderJournalMagic, 8) == 0;
    if (!current && !older)
        return JournalState::None; // none, or one emptied after its save
    if (!wholeRecord(bytes, current ? JournalSize : OlderJournalSize))
        return JournalState::CutShort;
    const char* at = bytes.constData() + (older ? 16 : 8); // an older one's device is of no use
    r.inode = qFromLittleEndian<quint64>(at);
    r.offset = qFromLittleEndian<qint64>(at + 8);
    r.lengthBefore = qFromLittleEndian<qint64>(at + 16);
    r.older = older;
    const char* cards = bytes.constData() + (older ? OlderJournalHeader : JournalHeader);
    std::memcpy(r.card.data(), cards, CustomerCard::Size);
    r.before = CustomerCard();
    if (!older)
        std::memcpy(r.before.data(), cards + CustomerCard::Size, CustomerCard::Size);
    return JournalState::Whole;
}

namespace {

// A scratch copy of a sort: the book's name, ".sort-" and six letters or digits.
bool isScratchCopy(const QByteArray& name, const QByteArray& book)
{
    const QByteArray prefix = book + ".sort-";
    if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
        return false;
    return std::all_of(name.end() - 6, name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

} // namespace

AddressBookError::AddressBookError(Step step, const QString& message, const QString& reason)
    : std::runtime_error(message.toStdString())
    , step_(step)
    , message_(message)
    , reason_(reason)
{
}

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

QByteArray AddressBookFile::journalName() const
{
    return realPath_ + ".journal";
}

QByteArray AddressBookFile::folderName() const
{
    const int slash = realPath_.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : realPath_.left(slash);
}

// Emptied for good before it goes: a journal that came back after a power cut
// must not carry out a save over a book that changed since.
void AddressBookFile::dropJournal()
{
    if (journalFd_ < 0)
        return;
    if (files_.ftruncate(journalFd_, 0) == 0)
        files_.fdatasync(journalFd_);
    files_.close(journalFd_);
    journalFd_ = -1;
    files_.unlink(journalName());
}

void AddressBookFile::fail(AddressBookError::Step step, const QString& reason, int card) const
{
    throw AddressBookError(step, messageFor(step, path_, reason, card), reason);
}

void AddressBookFile::fail(AddressBookError::Step step, int errorNumber, int card) const
{
    fail(step, errnoReason(errorNumber), card);
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
        throw AddressBookError(step, messageFor(step, path, reason, -1), reason);
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
                refuse(Step::Create, errnoReason(errno));
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
        refuse(Step::Open, errno == ENOENT ? QStringLiteral("il file non esiste") : errnoReason(errno));
    struct stat st {};
    QString reason;
    if (files_.fstat(fd, &st) != 0)
        reason = errnoReason(errno);
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

// A journal left by a save that a crash cut short: a whole one is carried out
// where the book still holds the card it replaced (or part of the new one),
// one cut short is dropped (the book was not touched yet), and one that fits
// no longer is kept aside for the operator.
void AddressBookFile::recover()
{
    JournalRecord record;
    const JournalState state = loadJournal(record);
    const QString interrupted =
        QStringLiteral("L'ultimo salvataggio nella rubrica \"%1\" era stato interrotto (il programma o il computer "
                       "si è fermato)")
            .arg(path_);
    if (state == JournalState::CutShort)
        notices_.append(interrupted + QStringLiteral(" prima di toccare la rubrica: la rubrica è rimasta com'era."));
    if (state == JournalState::Whole) {
        switch (fitOf(record)) {
        case JournalFit::Foreign:
            keepJournalAside(record);
            return;
        case JournalFit::Done:
            break;
        case JournalFit::Pending:
            if (!writeAll(fd_, record.card.data(), size_t(CardBytes), record.offset) || files_.fdatasync(fd_) != 0) {
                // Left for a later opening; meanwhile the book is shown as the save would leave it.
                notices_.append(interrupted + QStringLiteral(" e non si può completare (%1): la rubrica si può "
                                                             "solo consultare.")
                                                  .arg(errnoReason(errno)));
                readOnly_ = ReadOnly::Unrecovered;
                pendingSave_ = true;
                pending_ = record;
                return;
            }
            notices_.append(interrupted + QStringLiteral(": la scheda %1 è stata salvata ora, come era stata chiesta.")
                                              .arg(record.offset / CardBytes + 1));
            break;
        }
    }
    files_.unlink(journalName());
}

// A journal that does not fit the book is the only trace of a save: it goes
// beside the book under a name of its own, and the book is left alone.
void AddressBookFile::keepJournalAside(const JournalRecord& record)
{
    const QByteArray base =
        journalName() + '-' + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    QByteArray kept = base;
    struct stat st {};
    for (int n = 2; n < 100 && files_.stat(kept, &st) == 0; ++n)
        kept = base + '-' + QByteArray::number(n);
    const bool free = files_.stat(kept, &st) != 0 && errno == ENOENT;
    const bool moved = free && files_.rename(journalName(), kept) == 0;
    const QString why = moved ? QString() : errnoReason(free ? errno : EEXIST);
    if (moved)
        files_.syncFolder(folderName()); // should it come back, it is judged again, the same way

    const QString card = QString::number(record.offset / CardBytes + 1);
    QString text = record.older
        ? QStringLiteral("Accanto alla rubrica \"%1\" c'è il giornale di un salvataggio interrotto (scheda %2) "
                         "lasciato da una versione precedente di Pradix, che non permette di riconoscere la rubrica "
                         "a cui appartiene: la rubrica non è stata toccata, controllare la scheda %2.")
        : QStringLiteral("Accanto alla rubrica \"%1\" c'è il giornale di un salvataggio interrotto (scheda %2) che "
                         "non corrisponde alla rubrica di ora (forse sostituita o rimessa da una copia): la rubrica "
                         "non è stata toccata.");
    text = text.arg(path_, card);
    if (moved) {
        text += QStringLiteral(" Il giornale è conservato in \"%1\".").arg(QFile::decodeName(kept));
    } else {
        text += QStringLiteral(" Il giornale non si è potuto mettere da parte (%1): finché \"%2\" resta lì, la "
                               "rubrica si può solo consultare.")
                    .arg(why, QFile::decodeName(journalName()));
        readOnly_ = ReadOnly::Unrecovered;
    }
    notices_.append(text);
}

// The journal, opened only when it is a plain file of this user with no other
// name: a link or a file planted under its name is never written through.
int AddressBookFile::openJournal(int flags, QString* refused) const
{
    const QByteArray name = journalName().mid(journalName().lastIndexOf('/') + 1);
    const int fd = files_.openInFolder(folderName(), name, flags | O_NONBLOCK, 0600);
    struct stat st {};
    if (fd >= 0 && files_.fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid())
        return fd;
    const int error = errno;
    if (fd >= 0)
        files_.close(fd);
    if (refused)
        *refused = (fd >= 0 || error == ELOOP)
            ? QStringLiteral("\"%1\" non è un giornale di Pradix (un collegamento, un file di altri o con più "
                             "nomi): va tolto dalla cartella")
                  .arg(QFile::decodeName(journalName()))
            : QStringLiteral("non si può scrivere nella cartella della rubrica (%1)").arg(errnoReason(error));
    return -1;
}

AddressBookFile::JournalState AddressBookFile::loadJournal(JournalRecord& record) const
{
    const int journal = openJournal(O_RDONLY);
    if (journal < 0)
        return JournalState::None;
    QByteArray bytes(JournalSize + 1, '\0');
    const std::int64_t n = readAll(journal, bytes.data(), size_t(bytes.size()), 0);
    files_.close(journal);
    bytes.truncate(qsizetype(std::max<std::int64_t>(n, 0)));
    return readJournal(bytes, record);
}

// A journal belongs to the open book as it is now: the same file, the length
// the save had or was making, and at the save's place the card it replaced,
// the new one, or a mix of the two (a write cut short; an added card may
// also end in the zeros of a file grown before its bytes arrived).
AddressBookFile::JournalFit AddressBookFile::fitOf(const JournalRecord& r) const
{
    struct stat st {};
    if (files_.fstat(fd_, &st) != 0 || r.inode != std::uint64_t(st.st_ino) || r.offset < 0
        || r.offset % CardBytes != 0 || r.offset > r.lengthBefore || r.lengthBefore > LargestOffset)
        return JournalFit::Foreign;
    const std::int64_t size = st.st_size;
    const std::int64_t end = r.offset + CardBytes;
    if (end <= r.lengthBefore ? size != r.lengthBefore : (size < r.lengthBefore || size > end))
        return JournalFit::Foreign;
    CustomerCard there;
    const std::int64_t present = std::min(size, end) - r.offset;
    if (readAll(fd_, there.data(), size_t(present), r.offset) != present)
        return JournalFit::Foreign;
    if (present == CardBytes && there == r.card)
        return JournalFit::Done;
    if (r.older)
        return JournalFit::Foreign;
    const std::int64_t held = std::min(CardBytes, r.lengthBefore - r.offset);
    for (std::int64_t i = 0; i < present; ++i) {
        const std::uint8_t byte = there.data()[i];
        if (byte != r.card.data()[i] && byte != (i < held ? r.before.data()[i] : 0))
            return JournalFit::Foreign;
    }
    return JournalFit::Pending;
}

// A program that only reads the book shows a save cut short as completed,
// without touching a file.
void AddressBookFile::readPendingSave()
{
    JournalRecord record;
    pendingSave_ = loadJournal(record) == JournalState::Whole && fitOf(record) != JournalFit::Foreign;
    if (pendingSave_)
        pending_ = record;
}

// Scratch copies of a sort that a crash cut short. The sort holds its copy
// locked until the copy is the book; a young one or one of another user is
// left alone all the same, as may be a file the operator named alike.
void AddressBookFile::removeScratchCopies()
{
    const QByteArray folder = folderName();
    const QByteArray book = realPath_.mid(realPath_.lastIndexOf('/') + 1);
    const std::int64_t longAgo = QDateTime::currentSecsSinceEpoch() - ScratchAgeSeconds;
    for (const QByteArray& name : files_.names(folder)) {
        if (!isScratchCopy(name, book))
            continue;
        const int fd = files_.openInFolder(folder, name, O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        if (files_.fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_mtime < longAgo
            && files_.flock(fd, LOCK_EX | LOCK_NB) == 0)
            files_.unlink(folder + '/' + name);
        files_.close(fd);
    }
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
            fail(Step::Write, QStringLiteral("non si può scrivere nella cartella della rubrica (%1)").arg(errnoReason(error)),
                 position_);
        }
    }
    JournalRecord record;
    record.inode = std::uint64_t(st.st_ino);
    record.offset = offset;
    record.lengthBefore = size;
    record.card = card;
    record.before = before; // zeros past the book's end
    const QByteArray journal = journalBytes(record);
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

int AddressBookFile::sortBySurname()
{
    using Step = AddressBookError::Step;
    requireOpen(Step::Sort, -1);
    // Sort what is in the folder now, not a file replaced since it was opened.
    reopen(true);
    requireWritable(Step::Sort, -1);
    const std::int64_t size = length();
    if (size % CardBytes != 0)
        fail(Step::Sort,
             QStringLiteral("il file termina con una scheda incompleta (%1 byte in più) e va controllato prima")
                 .arg(size % CardBytes));
    const int count = cardCount();

    // The one copy of the book in memory; the order is kept as indexes.
    std::vector<CustomerCard> cards;
    std::vector<int> order;
    try {
        cards.resize(size_t(count));
        order.reserve(size_t(count));
    } catch (const std::bad_alloc&) {
        fail(Step::Sort, ENOMEM);
    }
    const std::int64_t n = readAll(fd_, cards.data(), size_t(size), 0);
    if (n < 0)
        fail(Step::Sort, QStringLiteral("errore di lettura: ") + errnoReason(errno));
    if (n != size)
        fail(Step::Sort, QStringLiteral("il file si è accorciato durante la lettura"));

    for (int i = 0; i < count; ++i)
        if (cards[size_t(i)].textLength(CustomerCard::Field::Cognome) > 0)
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&cards](int a, int b) {
        return CustomerCard::surnameBefore(cards[size_t(a)], cards[size_t(b)]);
    });

    // The new book goes beside the old one, in the same folder (a rename
    // never crosses file systems), and replaces it only when whole on disk.
    // A book reached through a link is replaced where it really lies.
    QByteArray scratch;
    int out = -1;
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
        scratch = realPath_ + ".sort-";
        for (int i = 0; i < 6; ++i)
            scratch += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"[QRandomGenerator::global()->bounded(62)];
        out = files_.open(scratch, O_RDWR | O_CREAT | O_EXCL, 0600);
        if (out < 0 && errno != EEXIST)
            break;
    }
    if (out < 0)
        fail(Step::Sort, QStringLiteral("non si può scrivere nella cartella (%1)").arg(errnoReason(errno)));
    const auto abandon = [&](const QString& reason) {
        files_.close(out);
        files_.unlink(scratch);
        fail(Step::Sort, reason);
    };
    const auto writeError = [&] { return QStringLiteral("errore di scrittura (%1)").arg(errnoReason(errno)); };
    // Locked before it has its name, so no other program can take it as writer.
    files_.flock(out, LOCK_EX | LOCK_NB);
    struct stat st {};
    if (files_.fstat(fd_, &st) == 0)
        files_.fchmod(out, st.st_mode & 07777);

    std::vector<std::uint8_t> chunk;
    chunk.reserve(size_t(CardsPerWrite * CardBytes));
    std::int64_t written = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const std::uint8_t* card = cards[size_t(order[i])].data();
        chunk.insert(chunk.end(), card, card + CardBytes);
        if (chunk.size() == size_t(CardsPerWrite * CardBytes) || i + 1 == order.size()) {
            if (!writeAll(out, chunk.data(), chunk.size(), written))
                abandon(writeError());
            written += std::int64_t(chunk.size());
            chunk.clear();
        }
    }
    if (files_.fsync(out) != 0)
        abandon(writeError());
    // A journal of this session names the old book: it must not outlive it.
    dropJournal();
    if (files_.rename(scratch, realPath_) != 0)
        abandon(QStringLiteral("il file non si può sostituire (%1)").arg(errnoReason(errno)));
    // The sorted copy is the book now, lock and all; the old one is gone.
    files_.close(fd_);
    fd_ = out;
    position_ = int(order.size());
    // The new name is only lasting once the folder is on disk too.
    if (files_.syncFolder(folderName()) != 0) {
        const QString reason = errnoReason(errno);
        throw AddressBookError(Step::Sort,
                               QStringLiteral("La rubrica \"%1\" è stata ordinata, ma il disco non ha confermato di "
                                              "averla registrata (%2): dopo un'interruzione di corrente potrebbe "
                                              "tornare com'era.")
                                   .arg(path_, reason),
                               reason);
    }
    return position_;
}
