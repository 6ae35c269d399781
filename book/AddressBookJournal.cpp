#include "book/AddressBookFile.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The journal of the book's card saves: made at the first save, carried out
// or kept aside when a save was cut short.

namespace {

constexpr std::int64_t CardBytes = CustomerCard::Size;

} // namespace

QByteArray AddressBookFile::journalName() const
{
    return realPath_ + ".journal";
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

// A journal left by a save that a crash cut short: a whole one is carried out
// where the book still holds the card it replaced (or part of the new one),
// one cut short is dropped (the book was not touched yet), and one that fits
// no longer is kept aside for the operator.
void AddressBookFile::recover()
{
    journal::Record record;
    const journal::State state = loadJournal(record);
    const QString interrupted =
        QStringLiteral("L'ultimo salvataggio nella rubrica \"%1\" era stato interrotto (il programma o il computer "
                       "si è fermato)")
            .arg(path_);
    if (state == journal::State::CutShort)
        notices_.append(interrupted + QStringLiteral(" prima di toccare la rubrica: la rubrica è rimasta com'era."));
    if (state == journal::State::Whole) {
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
                                                  .arg(AddressBookError::reasonFor(errno)));
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
void AddressBookFile::keepJournalAside(const journal::Record& record)
{
    const QByteArray base =
        journalName() + '-' + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    QByteArray kept = base;
    struct stat st {};
    for (int n = 2; n < 100 && files_.stat(kept, &st) == 0; ++n)
        kept = base + '-' + QByteArray::number(n);
    const bool free = files_.stat(kept, &st) != 0 && errno == ENOENT;
    const bool moved = free && files_.rename(journalName(), kept) == 0;
    const QString why = moved ? QString() : AddressBookError::reasonFor(free ? errno : EEXIST);
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
            : QStringLiteral("non si può scrivere nella cartella della rubrica (%1)")
                  .arg(AddressBookError::reasonFor(error));
    return -1;
}

journal::State AddressBookFile::loadJournal(journal::Record& record) const
{
    const int journal = openJournal(O_RDONLY);
    if (journal < 0)
        return journal::State::None;
    QByteArray bytes(journal::Size + 1, '\0');
    const std::int64_t n = readAll(journal, bytes.data(), size_t(bytes.size()), 0);
    files_.close(journal);
    bytes.truncate(qsizetype(std::max<std::int64_t>(n, 0)));
    return journal::read(bytes, record);
}

// A journal belongs to the open book as it is now: the same file, the length
// the save had or was making, and at the save's place the card it replaced,
// the new one, or a mix of the two (a write cut short; an added card may
// also end in the zeros of a file grown before its bytes arrived).
AddressBookFile::JournalFit AddressBookFile::fitOf(const journal::Record& r) const
{
    struct stat st {};
    if (files_.fstat(fd_, &st) != 0 || r.inode != std::uint64_t(st.st_ino) || r.offset < 0
        || r.offset % CardBytes != 0 || r.offset > r.lengthBefore || r.lengthBefore > journal::LargestOffset)
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
    journal::Record record;
    pendingSave_ = loadJournal(record) == journal::State::Whole && fitOf(record) != JournalFit::Foreign;
    if (pendingSave_)
        pending_ = record;
}
