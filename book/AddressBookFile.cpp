#include "book/AddressBookFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include <fcntl.h>
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

// pread until `count` bytes are in or the file ends; returns the bytes read,
// or -1 with errno set.
std::int64_t readAll(int fd, void* data, size_t count, std::int64_t offset)
{
    auto* at = static_cast<char*>(data);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, at + done, count - done, off_t(offset + std::int64_t(done)));
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

} // namespace

AddressBookError::AddressBookError(Step step, const QString& message, const QString& reason)
    : std::runtime_error(message.toStdString())
    , step_(step)
    , message_(message)
    , reason_(reason)
{
}

AddressBookFile::~AddressBookFile()
{
    close();
}

void AddressBookFile::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    readOnly_ = false;
    position_ = 0;
}

void AddressBookFile::fail(AddressBookError::Step step, const QString& reason, int card) const
{
    throw AddressBookError(step, messageFor(step, path_, reason, card), reason);
}

void AddressBookFile::fail(AddressBookError::Step step, int errorNumber, int card) const
{
    fail(step, errnoReason(errorNumber), card);
}

void AddressBookFile::open(const QString& path)
{
    openFile(path);
}

void AddressBookFile::openFile(const QString& path)
{
    const QString previousPath = path_;
    path_ = path; // for the message, should it fail
    const QByteArray name = QFile::encodeName(path);
    bool readOnly = false;
    // Not blocking: a pipe by that name must not freeze the window.
    int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST) {
            const int error = errno;
            path_ = previousPath;
            throw AddressBookError(AddressBookError::Step::Create,
                                   messageFor(AddressBookError::Step::Create, path, errnoReason(error), -1),
                                   errnoReason(error));
        }
        if (fd < 0) // made by someone else in the meantime
            fd = ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    }
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        readOnly = fd >= 0;
    }
    QString reason;
    if (fd < 0) {
        reason = errnoReason(errno);
    } else {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            reason = errnoReason(errno);
        else if (!S_ISREG(st.st_mode))
            reason = QStringLiteral("non è un file");
        else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
            reason = errnoReason(errno);
        if (!reason.isEmpty())
            ::close(fd);
    }
    if (!reason.isEmpty()) {
        path_ = previousPath;
        throw AddressBookError(AddressBookError::Step::Open,
                               messageFor(AddressBookError::Step::Open, path, reason, -1), reason);
    }
    close();
    fd_ = fd;
    readOnly_ = readOnly;
    position_ = 0;
    path_ = path;
}

void AddressBookFile::requireOpen(AddressBookError::Step step, int card) const
{
    if (fd_ < 0)
        fail(step, QStringLiteral("la rubrica non è aperta"), card);
}

void AddressBookFile::requireWritable(AddressBookError::Step step, int card) const
{
    requireOpen(step, card);
    if (readOnly_)
        fail(step, QStringLiteral("il file è di sola lettura"), card);
}

std::int64_t AddressBookFile::length() const
{
    requireOpen(AddressBookError::Step::Position, position_);
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        fail(AddressBookError::Step::Position, errno, position_);
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
        const ssize_t n = ::pwrite(fd, at + done, count - done, off_t(offset + std::int64_t(done)));
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
    const std::int64_t offset = std::int64_t(position_) * CardBytes;
    const std::int64_t size = length();
    if (position_ > size / CardBytes)
        fail(Step::Write, QStringLiteral("la scheda precedente non esiste"), position_);

    // What the file holds there now, to put back should the write break off.
    CustomerCard before;
    const std::int64_t kept = readAll(fd_, before.data(), size_t(std::min(CardBytes, size - offset)), offset);
    if (kept < 0)
        fail(Step::Write, errno, position_);

    if (!writeAll(fd_, card.data(), size_t(CardBytes), offset) || ::fdatasync(fd_) != 0) {
        const int error = errno;
        writeAll(fd_, before.data(), size_t(kept), offset);
        if (::ftruncate(fd_, off_t(size)) == 0)
            ::fdatasync(fd_);
        fail(Step::Write, error, position_);
    }
    ++position_;
}

int AddressBookFile::sortBySurname()
{
    using Step = AddressBookError::Step;
    requireOpen(Step::Sort, -1);
    // Sort what is in the folder now, not a file replaced since it was opened.
    openFile(path_);
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
    const QFileInfo info(path_);
    const QString target = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    QByteArray scratch = QFile::encodeName(target) + ".XXXXXX";
    const int out = ::mkstemp(scratch.data());
    if (out < 0)
        fail(Step::Sort, QStringLiteral("non si può scrivere nella cartella (%1)").arg(errnoReason(errno)));
    const auto abandon = [&](const QString& reason) {
        ::close(out);
        ::unlink(scratch.constData());
        fail(Step::Sort, reason);
    };
    struct stat st {};
    if (::fstat(fd_, &st) == 0)
        ::fchmod(out, st.st_mode & 07777);

    std::vector<std::uint8_t> chunk;
    chunk.reserve(size_t(CardsPerWrite * CardBytes));
    std::int64_t written = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const std::uint8_t* card = cards[size_t(order[i])].data();
        chunk.insert(chunk.end(), card, card + CardBytes);
        if (chunk.size() == size_t(CardsPerWrite * CardBytes) || i + 1 == order.size()) {
            if (!writeAll(out, chunk.data(), chunk.size(), written))
                abandon(QStringLiteral("errore di scrittura (%1)").arg(errnoReason(errno)));
            written += std::int64_t(chunk.size());
            chunk.clear();
        }
    }
    if (::fsync(out) != 0)
        abandon(QStringLiteral("errore di scrittura (%1)").arg(errnoReason(errno)));
    if (::close(out) != 0) {
        const int error = errno;
        ::unlink(scratch.constData());
        fail(Step::Sort, QStringLiteral("errore di scrittura (%1)").arg(errnoReason(error)));
    }
    if (::rename(scratch.constData(), QFile::encodeName(target).constData()) != 0) {
        const int error = errno;
        ::unlink(scratch.constData());
        fail(Step::Sort, QStringLiteral("il file non si può sostituire (%1)").arg(errnoReason(error)));
    }
    // The new name is only lasting once the folder is on disk too.
    const int folder = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }

    // The descriptor held still reads the old book, which is gone from the folder.
    const QString path = path_;
    close();
    path_ = path;
    openFile(path_);
    position_ = int(order.size());
    return position_;
}
