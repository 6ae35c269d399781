// RUBRICA.DAT as it may lie in the folder: any bytes at all, a partial card at
// the end included. The book is opened from a file holding the bytes, every
// card is reached by position in both directions, and the book is sorted.
// Every whole card must read back as its bytes and the partial one must be
// refused; the sort must keep every card that has a surname, in surname order,
// cards of one surname in their old order, and leave the file whole cards
// long, or refuse and leave the file as it was. Nothing may be left beside it.
#include "book/AddressBookFile.h"
#include "fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

constexpr int CardBytes = CustomerCard::Size;

QString folder;

void removeFolder()
{
    if (!folder.isEmpty())
        QDir(folder).removeRecursively();
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    fuzzCheck(file.open(QIODevice::ReadOnly), "the book cannot be read back");
    return file.readAll();
}

QByteArray surnameOf(const std::uint8_t* card)
{
    CustomerCard c;
    std::memcpy(c.data(), card, CardBytes);
    const int offset = CustomerCard::layout(CustomerCard::Field::Cognome).offset + 1;
    return QByteArray(reinterpret_cast<const char*>(card) + offset, c.textLength(CustomerCard::Field::Cognome));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A folder of its own, in memory where the machine has one this user may
    // write in (the sort syncs), else in the temporary folder.
    QByteArray pattern;
    for (const QByteArray& base : { QByteArray("/dev/shm"), QDir::tempPath().toLocal8Bit() }) {
        pattern = base + "/pradix-bookfuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            break;
        pattern.clear();
    }
    fuzzCheck(!pattern.isEmpty(), "no scratch folder");
    folder = QString::fromLocal8Bit(pattern);
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QString path = folder + QStringLiteral("/RUBRICA.DAT");
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(path);
        fuzzCheck(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
                  "the book cannot be laid down");
    }

    const int count = int(size / CardBytes);
    const bool partial = size % CardBytes != 0;
    AddressBookFile book;
    book.open(path);
    fuzzCheck(book.cardCount() == count && book.hasPartialCard() == partial, "cards counted wrongly");

    // Forwards, then backwards, one past the partial card and the end included.
    const int last = count + 1;
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k <= last; ++k) {
            const int i = pass == 0 ? k : last - k;
            book.seek(i);
            fuzzCheck(book.atEnd() == (std::int64_t(i) * CardBytes >= std::int64_t(size)), "end of book misplaced");
            CustomerCard card;
            card.data()[0] = 0xA5;
            try {
                book.readCard(card);
                fuzzCheck(i < count, "a card read that is not whole in the file");
                fuzzCheck(std::memcmp(card.data(), data + size_t(i) * CardBytes, CardBytes) == 0,
                          "a card reads other than its bytes");
                fuzzCheck(book.position() == i + 1, "reading did not move on one card");
            } catch (const AddressBookError& e) {
                fuzzCheck(i >= count, "a whole card refused");
                fuzzCheck(e.step() == AddressBookError::Step::Read, "a refused card blamed on another step");
                fuzzCheck(card.data()[0] == 0xA5, "a refused card changed the buffer");
                fuzzCheck(book.position() == i, "a refused card moved the position");
            }
        }
    }

    std::map<QByteArray, std::vector<int>> bySurname; // card indexes in file order
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray surname = surnameOf(data + size_t(i) * CardBytes);
        if (!surname.isEmpty()) {
            bySurname[surname].push_back(i);
            ++kept;
        }
    }

    int sorted = -1;
    try {
        sorted = book.sortBySurname();
        fuzzCheck(!partial, "a book ending in a partial card was sorted");
    } catch (const AddressBookError& e) {
        fuzzCheck(partial, "a book of whole cards was not sorted");
        fuzzCheck(e.step() == AddressBookError::Step::Sort, "a refused sort blamed on another step");
        fuzzCheck(fileBytes(path) == bytes, "a refused sort changed the book");
        fuzzCheck(book.isOpen() && book.position() == 0, "a refused sort did not leave the book open at its start");
    }
    if (!partial) {
        fuzzCheck(sorted == kept, "the sort lost or invented cards");
        fuzzCheck(book.position() == sorted, "the sorted book is not positioned after its last card");
        const QByteArray after = fileBytes(path);
        fuzzCheck(after.size() == qsizetype(kept) * CardBytes, "the sorted book is not whole cards long");
        const auto* out = reinterpret_cast<const std::uint8_t*>(after.constData());
        std::map<QByteArray, size_t> taken;
        QByteArray previous;
        for (int j = 0; j < kept; ++j) {
            const std::uint8_t* card = out + size_t(j) * CardBytes;
            const QByteArray surname = surnameOf(card);
            fuzzCheck(!surname.isEmpty(), "a card without a surname kept");
            // QByteArray compares as unsigned bytes, a prefix first: the book's order.
            fuzzCheck(j == 0 || !(surname < previous), "cards out of surname order");
            previous = surname;
            const auto group = bySurname.find(surname);
            fuzzCheck(group != bySurname.end(), "a sorted card with a surname the book never had");
            size_t& next = taken[surname];
            fuzzCheck(next < group->second.size(), "a surname appears more often than in the book");
            const int from = group->second[next++];
            fuzzCheck(std::memcmp(card, data + size_t(from) * CardBytes, CardBytes) == 0,
                      "a sorted card differs from its original, or cards of one surname changed order");
        }
    }
    book.close();
    fuzzCheck(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size() == 1,
              "something was left beside the book");
    return 0;
}
