// RUBRICA.DAT.journal as it may lie beside the book: any bytes at all, taken
// once as they are and once sealed with a right checksum, so that the record
// behind the checksum is reached too. The book beside it is three cards long.
// A program that only reads must show what the writer then leaves in the
// file; the writer may change one card's place at most (the save carried
// out) or add one card; the journal goes, or is kept beside the book under a
// name of its own; nothing else is left in the folder.
#include "book/AddressBookFile.h"
#include "fuzz/FuzzCheck.h"
#include "tests/book/CrashDisk.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cstdint>

namespace {

constexpr int CardBytes = CustomerCard::Size;
const QByteArray Folder = "/disk";
const QByteArray Book = Folder + "/RUBRICA.DAT";
const QByteArray Journal = Book + ".journal";

QByteArray shownBook(AddressBookFile& book)
{
    QByteArray shown;
    book.seek(0);
    for (int i = book.cardCount(); i > 0; --i) {
        CustomerCard card;
        book.readCard(card);
        shown.append(reinterpret_cast<const char*>(card.data()), CardBytes);
    }
    return shown;
}

void openBeside(const QByteArray& journal)
{
    QByteArray before;
    for (const char fill : { '\x11', '\x22', '\x33' })
        before += QByteArray(CardBytes, fill);
    CrashDisk disk;
    disk.lay(Book, before); // inode 1
    disk.lay(Journal, journal);

    AddressBookFile reader(disk);
    reader.open(QString::fromLatin1(Book), AddressBookFile::Access::ReadOnly);
    const QByteArray shown = shownBook(reader);

    AddressBookFile writer(disk);
    writer.open(QString::fromLatin1(Book));
    const QByteArray after = disk.file(Book)->live;
    fuzzCheck(!writer.isReadOnly(), "a journal left the book only to read");
    fuzzCheck(shown == after, "the reader showed other than what the writer left");
    fuzzCheck(after.size() == before.size() || after.size() == before.size() + CardBytes,
              "the book grew by other than one card");
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < after.size(); ++i)
        if (i >= before.size() || after[i] != before[i]) {
            if (first < 0)
                first = i;
            last = i;
        }
    fuzzCheck(first < 0 || first / CardBytes == last / CardBytes, "more than one card changed");

    const QList<QByteArray> names = disk.names(Folder);
    fuzzCheck(names.contains("RUBRICA.DAT") && !names.contains("RUBRICA.DAT.journal"), "the journal stayed");
    fuzzCheck(names.size() == 1 || (names.size() == 2 && first < 0), "a journal kept aside after a change");
    for (const QByteArray& name : names)
        fuzzCheck(name == "RUBRICA.DAT" || name.startsWith("RUBRICA.DAT.journal-"), "a stray file beside the book");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    openBeside(bytes);
    openBeside(bytes + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
    return 0;
}
