#include "book/AddressBookFile.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::int64_t CardBytes = CustomerCard::Size;
// The sorted book goes out this many cards a write.
constexpr int CardsPerWrite = 64;
// A sort's scratch copy younger than this may still be in the making.
constexpr std::int64_t ScratchAgeSeconds = 10 * 60;

// A scratch copy of a sort: the book's name, ".sort-" and six letters or digits.
bool isScratchCopy(const QByteArray& name, const QByteArray& book)
{
    const QByteArray prefix = book + ".sort-";
    if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
        return false;
    return std::all_of(name.end() - 6, name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

} // namespace

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

// The cards with a surname, in surname order; equal surnames keep their order.
void AddressBookFile::orderBySurname(const std::vector<CustomerCard>& cards, std::vector<int>& order)
{
    for (int i = 0; i < int(cards.size()); ++i)
        if (cards[size_t(i)].textLength(CustomerCard::Field::Cognome) > 0)
            order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&cards](int a, int b) {
        return CustomerCard::surnameBefore(cards[size_t(a)], cards[size_t(b)]);
    });
}

int AddressBookFile::sortBySurname()
{
    using Step = AddressBookError::Step;
    requireOpen(Step::Sort, -1);
    // Sort what is in the folder now, not a file replaced since it was opened.
    reopen(true);
    requireWritable(Step::Sort, -1);
    // The one copy of the book in memory; the order is kept as indexes.
    std::vector<CustomerCard> cards;
    std::vector<int> order;
    readWholeBook(cards, order);
    orderBySurname(cards, order);
    const ScratchCopy scratch = makeScratchCopy();
    writeSorted(scratch, cards, order);
    replaceWithSorted(scratch, int(order.size()));
    return position_;
}

void AddressBookFile::readWholeBook(std::vector<CustomerCard>& cards, std::vector<int>& order) const
{
    using Step = AddressBookError::Step;
    const std::int64_t size = length();
    if (size % CardBytes != 0)
        fail(Step::Sort,
             QStringLiteral("il file termina con una scheda incompleta (%1 byte in più) e va controllato prima")
                 .arg(size % CardBytes));
    try {
        cards.resize(size_t(cardCount()));
        order.reserve(cards.size());
    } catch (const std::bad_alloc&) {
        fail(Step::Sort, ENOMEM);
    }
    const std::int64_t n = readAll(fd_, cards.data(), size_t(size), 0);
    if (n < 0)
        fail(Step::Sort, QStringLiteral("errore di lettura: ") + AddressBookError::reasonFor(errno));
    if (n != size)
        fail(Step::Sort, QStringLiteral("il file si è accorciato durante la lettura"));
}

// The new book goes beside the old one, in the same folder (a rename never
// crosses file systems), and replaces it only when whole on disk. A book
// reached through a link is replaced where it really lies.
AddressBookFile::ScratchCopy AddressBookFile::makeScratchCopy()
{
    ScratchCopy scratch;
    static constexpr char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100 && scratch.fd < 0; ++attempt) {
        scratch.name = realPath_ + ".sort-";
        for (int i = 0; i < 6; ++i)
            scratch.name += Letters[QRandomGenerator::global()->bounded(62)];
        scratch.fd = files_.open(scratch.name, O_RDWR | O_CREAT | O_EXCL, 0600);
        if (scratch.fd < 0 && errno != EEXIST)
            break;
    }
    if (scratch.fd < 0)
        fail(AddressBookError::Step::Sort,
             QStringLiteral("non si può scrivere nella cartella (%1)").arg(AddressBookError::reasonFor(errno)));
    // Locked before it has its name, so no other program can take it as writer.
    files_.flock(scratch.fd, LOCK_EX | LOCK_NB);
    struct stat st {};
    if (files_.fstat(fd_, &st) == 0)
        files_.fchmod(scratch.fd, st.st_mode & 07777);
    return scratch;
}

void AddressBookFile::abandonSort(const ScratchCopy& scratch, const QString& reason)
{
    files_.close(scratch.fd);
    files_.unlink(scratch.name);
    fail(AddressBookError::Step::Sort, reason);
}

void AddressBookFile::writeSorted(const ScratchCopy& scratch, const std::vector<CustomerCard>& cards,
                                  const std::vector<int>& order)
{
    const auto writeError = [] {
        return QStringLiteral("errore di scrittura (%1)").arg(AddressBookError::reasonFor(errno));
    };
    std::vector<std::uint8_t> chunk;
    chunk.reserve(size_t(CardsPerWrite * CardBytes));
    std::int64_t written = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const std::uint8_t* card = cards[size_t(order[i])].data();
        chunk.insert(chunk.end(), card, card + CardBytes);
        if (chunk.size() == size_t(CardsPerWrite * CardBytes) || i + 1 == order.size()) {
            if (!writeAll(scratch.fd, chunk.data(), chunk.size(), written))
                abandonSort(scratch, writeError());
            written += std::int64_t(chunk.size());
            chunk.clear();
        }
    }
    if (files_.fsync(scratch.fd) != 0)
        abandonSort(scratch, writeError());
}

// The sorted copy whole on disk takes the book's name, and its place here.
void AddressBookFile::replaceWithSorted(const ScratchCopy& scratch, int count)
{
    // A journal of this session names the old book: it must not outlive it.
    dropJournal();
    if (files_.rename(scratch.name, realPath_) != 0)
        abandonSort(scratch,
                    QStringLiteral("il file non si può sostituire (%1)").arg(AddressBookError::reasonFor(errno)));
    // The sorted copy is the book now, lock and all; the old one is gone.
    files_.close(fd_);
    fd_ = scratch.fd;
    position_ = count;
    // The new name is only lasting once the folder is on disk too.
    if (files_.syncFolder(folderName()) != 0) {
        const QString reason = AddressBookError::reasonFor(errno);
        throw AddressBookError(AddressBookError::Step::Sort,
                               QStringLiteral("La rubrica \"%1\" è stata ordinata, ma il disco non ha confermato di "
                                              "averla registrata (%2): dopo un'interruzione di corrente potrebbe "
                                              "tornare com'era.")
                                   .arg(path_, reason),
                               reason);
    }
}
