#include "book/AddressBookFile.h"
#include "tests/book/CrashDisk.h"
#include "tests/common/TestFiles.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using Field = CustomerCard::Field;
using Step = AddressBookError::Step;

using namespace testfiles;

namespace {

CustomerCard card(const QString& surname, const QString& name = QString())
{
    CustomerCard c;
    c.setText(Field::Cognome, surname);
    c.setText(Field::Nome, name);
    c.setSummaryByte(1, 1, 'U');
    c.setSummaryByte(26, 128, std::uint8_t(surname.size()));
    return c;
}

QByteArray bookOf(const std::vector<CustomerCard>& cards)
{
    QByteArray bytes;
    for (const CustomerCard& c : cards)
        bytes.append(reinterpret_cast<const char*>(c.data()), CustomerCard::Size);
    return bytes;
}

std::vector<CustomerCard> readBook(AddressBookFile& book)
{
    std::vector<CustomerCard> cards(size_t(book.cardCount()));
    book.seek(0);
    for (CustomerCard& c : cards)
        book.readCard(c);
    return cards;
}

// The order the book has always been sorted in: bubble passes over adjacent
// pairs, exchanging when the first surname is greater, until a pass makes no
// exchange; then the cards without a surname are left out.
std::vector<CustomerCard> bubbleSorted(std::vector<CustomerCard> cards)
{
    const auto surname = [](const CustomerCard& c) {
        return QByteArray(reinterpret_cast<const char*>(c.data()) + 22, std::min<int>(c.data()[21], 20));
    };
    for (bool exchanged = true; exchanged;) {
        exchanged = false;
        for (size_t i = 0; i + 1 < cards.size(); ++i) {
            const QByteArray a = surname(cards[i]);
            const QByteArray b = surname(cards[i + 1]);
            const int common = std::min(a.size(), b.size());
            const int order = std::memcmp(a.constData(), b.constData(), size_t(common));
            if (order > 0 || (order == 0 && a.size() > b.size())) {
                std::swap(cards[i], cards[i + 1]);
                exchanged = true;
            }
        }
    }
    std::vector<CustomerCard> kept;
    for (const CustomerCard& c : cards)
        if (c.data()[21] != 0)
            kept.push_back(c);
    return kept;
}

template <typename F>
AddressBookError failureOf(F&& operation)
{
    try {
        operation();
    } catch (const AddressBookError& e) {
        return e;
    }
    ADD_FAILURE() << "no failure reported";
    return AddressBookError(Step::Open, QString(), QString());
}

// A small file system of its own, when the tests may mount one.
class Tmpfs
{
public:
    Tmpfs(const QString& where, const char* options)
        : where_(QFile::encodeName(where))
    {
        mounted_ = ::mount("tmpfs", where_.constData(), "tmpfs", 0, options) == 0;
    }
    ~Tmpfs()
    {
        if (mounted_)
            ::umount2(where_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool makeReadOnly()
    {
        return ::mount("tmpfs", where_.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray where_;
    bool mounted_ = false;
};

} // namespace

// A new book is created empty in the current folder; cards are appended at
// the index after the last one and rewritten in place.
TEST(AddressBookFile, NewBookIsCreatedEmptyAndGrowsCardByCard)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    AddressBookFile book;
    book.open();
    QDir::setCurrent(before);
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(book.cardCount(), 0);
    EXPECT_TRUE(book.atEnd());
    CustomerCard untouched = card(QStringLiteral("KEEP"));
    EXPECT_EQ(failureOf([&] { book.readCard(untouched); }).step(), Step::Read);
    EXPECT_EQ(untouched, card(QStringLiteral("KEEP")));

    book.writeCard(card(QStringLiteral("ROSSI")));
    EXPECT_EQ(QFileInfo(path).size(), 3454);
    EXPECT_EQ(book.position(), 1);
    book.writeCard(card(QStringLiteral("BIANCHI")));
    book.seek(0);
    book.writeCard(card(QStringLiteral("VERDI")));
    EXPECT_EQ(QFileInfo(path).size(), 6908);
    EXPECT_EQ(fileBytes(path), bookOf({ card(QStringLiteral("VERDI")), card(QStringLiteral("BIANCHI")) }));

    // A card two places after the last would leave a hole of zero cards.
    book.seek(3);
    const AddressBookError gap = failureOf([&] { book.writeCard(card(QStringLiteral("X"))); });
    EXPECT_EQ(gap.step(), Step::Write);
    EXPECT_TRUE(gap.message().startsWith(QStringLiteral("Impossibile scrivere la scheda 4"))) << gap.what();
    EXPECT_EQ(QFileInfo(path).size(), 6908);

    // Opening again starts over at card 0 on the same file.
    book.open(path);
    CustomerCard first;
    book.readCard(first);
    EXPECT_EQ(first.text(Field::Cognome), QStringLiteral("VERDI"));
}

// A book written elsewhere, byte by byte: card 3 starts at 6908, its surname
// length byte is at 6929. A partial card at the end is seen and never read.
TEST(AddressBookFile, HandMadeBookReadsBackFieldForField)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    QByteArray bytes(3 * 3454 + 100, '\x55');
    const auto put = [&](int at, const QByteArray& text) {
        bytes[at] = char(text.size());
        bytes.replace(at + 1, text.size(), text);
    };
    put(6908, "MARIO");
    put(6929, "ROSSI");
    put(6950, "0498765432");
    put(6971, "VIA ROMA 1");
    put(7002, "PADOVA");
    put(7023, "PD");
    put(7028, "35100");
    bytes[6908 + 126] = 'U';
    bytes[6908 + 126 + 26 + 2] = '\xE8';
    bytes[6908 + 3453] = '#';
    writeFile(path, bytes);

    AddressBookFile book;
    book.open(path);
    EXPECT_EQ(book.cardCount(), 3);
    EXPECT_TRUE(book.hasPartialCard());
    book.seek(2);
    CustomerCard c;
    book.readCard(c);
    EXPECT_EQ(c.text(Field::Nome), QStringLiteral("MARIO"));
    EXPECT_EQ(c.text(Field::Cognome), QStringLiteral("ROSSI"));
    EXPECT_EQ(c.text(Field::Numero), QStringLiteral("0498765432"));
    EXPECT_EQ(c.text(Field::Indirizzo), QStringLiteral("VIA ROMA 1"));
    EXPECT_EQ(c.text(Field::Citta), QStringLiteral("PADOVA"));
    EXPECT_EQ(c.text(Field::Provincia), QStringLiteral("PD"));
    EXPECT_EQ(c.text(Field::Cap), QStringLiteral("35100"));
    EXPECT_EQ(c.summaryByte(1, 1), 'U');
    EXPECT_EQ(c.summaryByte(3, 2), 0xE8);
    EXPECT_EQ(c.summaryByte(26, 128), '#');
    EXPECT_EQ(c.summaryByte(4, 2), 0x55);
    // Card 1 is all 0x55: every length byte above capacity, read as capacity.
    book.seek(0);
    CustomerCard full;
    book.readCard(full);
    EXPECT_EQ(full.text(Field::Indirizzo), QString(30, QChar(0x55)));

    // The partial card: positioning there works, it is not the end, it is not read.
    book.seek(3);
    EXPECT_FALSE(book.atEnd());
    const AddressBookError partial = failureOf([&] { book.readCard(c); });
    EXPECT_EQ(partial.step(), Step::Read);
    EXPECT_TRUE(partial.reason().contains(QStringLiteral("incompleta"))) << partial.what();
    EXPECT_EQ(c.text(Field::Cognome), QStringLiteral("ROSSI"));
    EXPECT_EQ(book.position(), 3);
    book.seek(4);
    EXPECT_TRUE(book.atEnd());

    // Written by this program, a card lies exactly where the hand put it.
    AddressBookFile mine;
    const QString minePath = dir.filePath(QStringLiteral("MINE.DAT"));
    mine.open(minePath);
    mine.writeCard(full);
    mine.writeCard(full);
    mine.writeCard(c);
    EXPECT_EQ(fileBytes(minePath).mid(6908), bytes.mid(6908, 3454));
}

// Whatever the operator points the book at, and whatever the disk does, the
// failure is told in Italian and the file keeps every card it had.
TEST(AddressBookFile, FailuresAreReportedAndLoseNothing)
{
    QTemporaryDir dir;
    AddressBookFile book;
    EXPECT_EQ(failureOf([&] { book.open(dir.path()); }).reason(), QStringLiteral("è una cartella"));
    EXPECT_EQ(failureOf([&] { book.open(QStringLiteral("/dev/full")); }).reason(), QStringLiteral("non è un file"));
    const QString pipe = dir.filePath(QStringLiteral("PIPE.DAT"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    EXPECT_EQ(failureOf([&] { book.open(pipe); }).reason(), QStringLiteral("non è un file"));
    const AddressBookError missing = failureOf([&] { book.open(dir.filePath(QStringLiteral("NO/RUBRICA.DAT"))); });
    EXPECT_EQ(missing.step(), Step::Create);
    EXPECT_EQ(missing.message(), QStringLiteral("Impossibile creare la rubrica \"%1\": la cartella non esiste.")
                                     .arg(dir.filePath(QStringLiteral("NO/RUBRICA.DAT"))));
    EXPECT_FALSE(book.isOpen());
    EXPECT_EQ(failureOf([&] { book.seek(0); }).step(), Step::Position);

    // A new card that does not fit: the half written is taken back.
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    const std::vector<CustomerCard> three = { card("C"), card("A"), card("B") };
    writeFile(path, bookOf(three));
    book.open(path);
    book.seek(3);
    {
        FileSizeLimit limit(3 * 3454 + 1000);
        const AddressBookError full = failureOf([&] { book.writeCard(card("D")); });
        EXPECT_EQ(full.step(), Step::Write);
        EXPECT_TRUE(full.message().endsWith(QStringLiteral("La scheda non è stata salvata."))) << full.what();
        EXPECT_EQ(book.position(), 3);
    }
    {
        FileSizeLimit limit(2 * 3454); // the sorted copy does not fit
        const AddressBookError sort = failureOf([&] { book.sortBySurname(); });
        EXPECT_EQ(sort.step(), Step::Sort);
        EXPECT_TRUE(sort.message().endsWith(QStringLiteral("La rubrica non è stata modificata."))) << sort.what();
    }
    EXPECT_EQ(fileBytes(path), bookOf(three));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1) << "the sort left its scratch file";
    book.seek(1);
    CustomerCard c;
    book.readCard(c);
    EXPECT_EQ(c, three[1]);

    // A book with a partial card is not sorted: those bytes would be lost.
    writeFile(path, bookOf(three) + "xyz");
    book.open(path);
    EXPECT_TRUE(failureOf([&] { book.sortBySurname(); }).reason().contains(QStringLiteral("incompleta")));
    EXPECT_EQ(fileBytes(path), bookOf(three) + "xyz");
}

// On a disk of its own that fills up, then turns read-only.
TEST(AddressBookFile, FullAndReadOnlyDiskKeepTheBook)
{
    QTemporaryDir dir;
    Tmpfs disk(dir.path(), "size=12k"); // three pages: three cards fit, four do not
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a file system here";
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    const std::vector<CustomerCard> three = { card("C"), card("A"), card("B") };
    writeFile(path, bookOf(three));

    AddressBookFile book;
    book.open(path);
    book.seek(3);
    EXPECT_EQ(failureOf([&] { book.writeCard(card("D")); }).reason(), QStringLiteral("il disco è pieno"));
    EXPECT_EQ(fileBytes(path), bookOf(three));
    const AddressBookError sort = failureOf([&] { book.sortBySurname(); });
    EXPECT_TRUE(sort.reason().contains(QStringLiteral("il disco è pieno"))) << sort.what();
    EXPECT_EQ(fileBytes(path), bookOf(three));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);

    book.close(); // a file system with a file open for writing stays writable
    ASSERT_TRUE(disk.makeReadOnly());
    book.open(path);
    EXPECT_TRUE(book.isReadOnly());
    EXPECT_EQ(readBook(book), three);
    book.seek(0);
    EXPECT_EQ(failureOf([&] { book.writeCard(card("D")); }).reason(), QStringLiteral("il file è di sola lettura"));
    EXPECT_EQ(failureOf([&] { book.sortBySurname(); }).reason(), QStringLiteral("il file è di sola lettura"));
    book.close();
    EXPECT_EQ(fileBytes(path), bookOf(three));
}

TEST(AddressBookFile, SortDropsEmptySurnamesAndKeepsTheFileOrderOfEqualOnes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    writeFile(path, bookOf({ card("BBB"), card(""), card("AAA") }));
    AddressBookFile book;
    book.open(path);
    EXPECT_EQ(book.sortBySurname(), 2);
    EXPECT_EQ(book.position(), 2);
    EXPECT_TRUE(book.atEnd());
    EXPECT_EQ(fileBytes(path), bookOf({ card("AAA"), card("BBB") }));

    const std::vector<CustomerCard> cards = {
        card("ROSSI", "B"), card(QStringLiteral("ÈRBA")), card("ROSSI", "A"), card("ZANZI"),
        card("ROSS"),       card("ROSSI", "C"),           card(""),           card("ZZ"),
    };
    writeFile(path, bookOf(cards));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    book.open(path);
    EXPECT_EQ(book.sortBySurname(), 7);
    const std::vector<CustomerCard> expected = {
        card("ROSS"),  card("ROSSI", "B"), card("ROSSI", "A"), card("ROSSI", "C"),
        card("ZANZI"), card("ZZ"),         card(QStringLiteral("ÈRBA")),
    };
    EXPECT_EQ(readBook(book), expected);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Any book, of any size, comes out exactly as the old bubble sort left one of
// up to 256 cards: same order, no card lost.
TEST(AddressBookFile, SortMatchesTheBubbleSortOnRandomBooks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    QRandomGenerator random(11);
    for (int size : { 0, 1, 256, 300 }) {
        std::vector<CustomerCard> cards;
        for (int i = 0; i < size; ++i) {
            CustomerCard c = card(QString(), QString::number(i)); // the first name tells cards apart
            const int length = random.bounded(5) == 0 ? 0 : 1 + random.bounded(24);
            c.data()[21] = std::uint8_t(length); // over 20 now and then: read as 20
            for (int k = 0; k < 20; ++k)
                c.data()[22 + k] = std::uint8_t("AB\xE8"[random.bounded(3)]);
            cards.push_back(c);
        }
        writeFile(path, bookOf(cards));
        AddressBookFile book;
        book.open(path);
        const std::vector<CustomerCard> expected = bubbleSorted(cards);
        EXPECT_EQ(book.sortBySurname(), int(expected.size()));
        EXPECT_EQ(fileBytes(path), bookOf(expected)) << size << " cards";
    }
}

namespace {

const QByteArray Folder = "/disk";
const QByteArray Book = Folder + "/RUBRICA.DAT";

// Runs `operation` (after `setup`, which is not cut short) on a book laid on
// a disk that stops after every possible step of the operation in turn, then
// starts the machine again keeping or dropping what was never synced, and
// opens the book as the window does. Every outcome must be one of `outcomes`
// (the book before, between steps, after), byte for byte; an operation that
// reported success must have left the last; a program that only reads must
// have shown the same; nothing may be left beside it.
template <typename Setup, typename Operation>
void survivesEveryStop(const QByteArray& before, const std::vector<QByteArray>& outcomes, Setup setup,
                       Operation operation)
{
    QSet<QByteArray> checked; // a crashed disk seen before ends the same way
    const auto restartsEndWell = [&](const CrashDisk& stopped, long stop, bool reported) {
        const std::vector<QByteArray> keys = stopped.restartKeys();
        for (unsigned way = 0; way < keys.size(); ++way) {
            const QByteArray key = keys[way] + char(reported);
            if (checked.contains(key))
                continue;
            checked.insert(key);
            CrashDisk after = stopped.restart(way);
            const QByteArray left = after.file(Book)->live;
            AddressBookFile reader(after);
            reader.open(QString::fromLatin1(Book), AddressBookFile::Access::ReadOnly);
            QByteArray shown;
            for (const CustomerCard& c : readBook(reader))
                shown.append(reinterpret_cast<const char*>(c.data()), CustomerCard::Size);

            AddressBookFile book(after);
            book.open(QString::fromLatin1(Book));
            const QByteArray outcome = after.file(Book)->live;
            const auto where = [&] { return testing::Message() << "stop " << stop << " restart " << way; };
            ASSERT_NE(std::find(outcomes.begin(), outcomes.end(), outcome), outcomes.end()) << where();
            if (reported) {
                ASSERT_EQ(outcome, outcomes.back()) << where();
            }
            ASSERT_EQ(shown, outcome) << where();
            ASSERT_EQ(after.names(Folder), QList<QByteArray> { "RUBRICA.DAT" }) << where();
            // A save completed on opening is told, and told once.
            const QStringList told = book.takeNotices();
            if (outcome != left) {
                ASSERT_FALSE(told.isEmpty()) << where();
            }
            book.open(QString::fromLatin1(Book));
            ASSERT_TRUE(book.takeNotices().isEmpty()) << where();
        }
    };

    long total = -1; // the operation's steps, counted by a first run without a stop
    for (long stop = -1; stop <= total; ++stop) {
        CrashDisk disk;
        disk.lay(Book, before);
        bool reported = true;
        {
            AddressBookFile book(disk);
            book.open(QString::fromLatin1(Book));
            setup(book);
            const long start = disk.stepsTaken();
            disk.stopAfter(stop < 0 ? -1 : start + stop);
            try {
                operation(book);
            } catch (const AddressBookError&) {
                reported = false;
            }
            if (stop < 0) {
                ASSERT_TRUE(reported);
                total = disk.stepsTaken() - start;
                continue;
            }
        } // the machine stops here
        ASSERT_NO_FATAL_FAILURE(restartsEndWell(disk, stop, reported));
        // A stop at the first byte of a write and one at any later byte of it
        // look the same to the program: the stops inside the write are this
        // disk with more of the write's bytes through. Every byte near either
        // end of the write (a journal's header, its check) and near a card's
        // edge is tried, and every 61st between: each stop costs a restart
        // in every way and two openings, and a card is 3,454 bytes.
        if (stop < total) {
            const long more = std::min<long>(long(disk.bytesCutOff()), total - stop) - 1;
            const auto worthTrying = [more](long byte) {
                const long inCard = byte % CustomerCard::Size;
                return byte <= 64 || more - byte < 64 || inCard <= 8 || CustomerCard::Size - inCard <= 8
                    || byte % 61 == 0;
            };
            for (long byte = 1; byte <= more; ++byte) {
                if (!worthTrying(byte))
                    continue;
                ASSERT_NO_FATAL_FAILURE(restartsEndWell(disk.stoppedLater(byte), stop + byte, reported));
            }
            stop += std::max(more, 0L);
        }
    }
}

} // namespace

// Each operation stopped at any step: three cases, run side by side. The
// card saved over another differs from it in its first and its last byte,
// so that half of one and half of the other is neither.
class BookSurvivesAStop : public testing::Test
{
protected:
    const CustomerCard c = card("C"), a = card("A"), b = card("B"), empty = card(""), d = card("Di", "Dario"),
                       e = card("E");
    const QByteArray before = bookOf({ c, a, empty, b });
};

TEST_F(BookSurvivesAStop, CardOverwrite)
{
    survivesEveryStop(before, { before, bookOf({ c, d, empty, b }) }, [](AddressBookFile&) {},
                      [&](AddressBookFile& book) {
                          book.seek(1);
                          book.writeCard(d);
                      });
}

// A second save in one session finds the first one's journal.
TEST_F(BookSurvivesAStop, NewCard)
{
    const auto appendD = [&](AddressBookFile& book) {
        book.seek(4);
        book.writeCard(d);
    };
    survivesEveryStop(before, { bookOf({ c, a, empty, b, d }), bookOf({ c, a, empty, b, d, e }) }, appendD,
                      [&](AddressBookFile& book) { book.writeCard(e); });
}

// The journal of a save must not outlive the book it was made for.
TEST_F(BookSurvivesAStop, Sort)
{
    survivesEveryStop(before, { bookOf({ d, a, empty, b }), bookOf({ a, b, d }) },
                      [&](AddressBookFile& book) { book.writeCard(d); },
                      [&](AddressBookFile& book) { EXPECT_EQ(book.sortBySurname(), 3); });
}

// A journal whole on disk whose save never reached the book is carried out
// only over the book it was made for, holding what it held then. A book put
// in its place, grown or shrunk, or restored with other cards (a copy over
// the same file), or a journal of an older Pradix that cannot tell: the book
// is left as it is, the operator is told once and the journal is kept beside
// the book under another name.
TEST_F(BookSurvivesAStop, AJournalThatNoLongerFitsTheBookIsKeptAndTheBookLeftAlone)
{
    const QByteArray journalName = Book + ".journal";
    qsizetype journalSize = 0;
    CrashDisk disk;
    disk.lay(Book, before);
    {
        CrashDisk probe;
        probe.lay(Book, before);
        AddressBookFile book(probe);
        book.open(QString::fromLatin1(Book));
        book.seek(1);
        book.writeCard(d);
        journalSize = probe.file(journalName)->live.size();

        AddressBookFile stopped(disk);
        stopped.open(QString::fromLatin1(Book));
        stopped.seek(1);
        // Made, emptied, its name synced, written and synced: then the stop.
        disk.stopAfter(disk.stepsTaken() + 4 + long(journalSize));
        EXPECT_THROW(stopped.writeCard(d), AddressBookError);
    }
    const QByteArray journal = disk.restart(0).file(journalName)->live;
    ASSERT_EQ(journal.size(), journalSize);
    ASSERT_EQ(disk.restart(0).file(Book)->live, before);

    const auto resealed = [](QByteArray bytes) {
        bytes.chop(32);
        return bytes + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    };
    const QByteArray older = "PRXJRNL1" + QByteArray(8, '\1') + journal.mid(8, 24 + CustomerCard::Size) + QByteArray(32, '\0');
    const std::vector<std::pair<const char*, std::function<void(CrashDisk&)>>> cases = {
        { "replaced", [&](CrashDisk& at) { at.lay(Book, before); } },
        { "longer", [&](CrashDisk& at) { at.file(Book)->live = at.file(Book)->lasting = before + bookOf({ e }); } },
        { "restored", [&](CrashDisk& at) { at.file(Book)->live = at.file(Book)->lasting = bookOf({ c, e, empty, b }); } },
        { "older", [&](CrashDisk& at) { at.lay(journalName, resealed(older)); } },
    };
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        CrashDisk after = disk.restart(0);
        change(after);
        const QByteArray left = after.file(Book)->live;
        AddressBookFile reader(after);
        reader.open(QString::fromLatin1(Book), AddressBookFile::Access::ReadOnly);
        EXPECT_EQ(bookOf(readBook(reader)), left);

        AddressBookFile book(after);
        book.open(QString::fromLatin1(Book));
        EXPECT_EQ(after.file(Book)->live, left);
        const QStringList told = book.takeNotices();
        ASSERT_EQ(told.size(), 1);
        EXPECT_TRUE(told[0].contains(QStringLiteral("non è stata toccata"))) << told[0].toStdString();
        EXPECT_FALSE(after.file(journalName));
        const QList<QByteArray> names = after.names(Folder);
        ASSERT_EQ(names.size(), 2);
        const QByteArray kept = names[0] == "RUBRICA.DAT" ? names[1] : names[0];
        EXPECT_TRUE(kept.startsWith("RUBRICA.DAT.journal-")) << kept.constData();
        EXPECT_TRUE(told[0].contains(QString::fromLatin1(kept))) << told[0].toStdString();
        book.open(QString::fromLatin1(Book));
        EXPECT_TRUE(book.takeNotices().isEmpty());
        EXPECT_FALSE(book.isReadOnly());
    }
}

// A link or a second name planted where the journal goes, by anyone who may
// write the book's folder: the save is refused and nothing is written
// through it; once it is gone the save goes through.
TEST(AddressBookFile, ASaveNeverWritesThroughAPlantedJournal)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    const QByteArray journal = QFile::encodeName(path) + ".journal";
    const QString victim = dir.filePath(QStringLiteral("someone's file"));
    const QByteArray victimBytes(40, 'v');
    writeFile(victim, victimBytes);
    AddressBookFile book;
    book.open(path);
    for (const auto plant : { &::symlink, &::link }) {
        ASSERT_EQ(plant(QFile::encodeName(victim).constData(), journal.constData()), 0);
        const AddressBookError refused = failureOf([&] { book.writeCard(card("A")); });
        EXPECT_TRUE(refused.reason().contains(QStringLiteral("non è un giornale"))) << refused.what();
        EXPECT_EQ(fileBytes(victim), victimBytes);
        EXPECT_EQ(fileBytes(path), QByteArray());
        ASSERT_EQ(::unlink(journal.constData()), 0);
    }
    book.writeCard(card("A"));
    EXPECT_EQ(fileBytes(path), bookOf({ card("A") }));
}

// Two programs on one book, on the real disk: the second may only read and is
// told so once; a book replaced under the writer is reopened, never written;
// after a sort the writer holds the sorted file; what a crash left aside goes.
TEST(AddressBookFile, OneWriterAndNeverIntoAReplacedBook)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUBRICA.DAT"));
    const QByteArray name = QFile::encodeName(path);
    // Scratch copies of a sort: one a crash left long ago goes; one just made
    // and one a sort still holds stay, as does the operator's own copy.
    const QDateTime longAgo = QDateTime::currentDateTime().addSecs(-3600);
    for (const char* scratch : { ".sort-Ab12Cd", ".sort-Young1", ".sort-Held12" }) {
        writeFile(name + scratch, "left by a crash");
        if (std::strcmp(scratch, ".sort-Young1") != 0) {
            QFile aged(name + scratch);
            ASSERT_TRUE(aged.open(QIODevice::ReadWrite) && aged.setFileTime(longAgo, QFileDevice::FileModificationTime));
        }
    }
    writeFile(name + ".backup", "the operator's own copy");
    QFile held(name + ".sort-Held12");
    ASSERT_TRUE(held.open(QIODevice::ReadOnly) && ::flock(held.handle(), LOCK_EX) == 0);
    AddressBookFile first;
    first.open(path);
    EXPECT_TRUE(QFile::exists(name + ".sort-Young1"));
    EXPECT_TRUE(QFile::exists(name + ".sort-Held12"));
    held.close();
    QFile::remove(name + ".sort-Young1");
    QFile::remove(name + ".sort-Held12");
    struct stat st {};
    ASSERT_EQ(::stat(name.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".sort-Ab12Cd")));
    EXPECT_TRUE(QFile::exists(path + QStringLiteral(".backup")));
    first.writeCard(card("B"));

    AddressBookFile second;
    second.open(path);
    EXPECT_TRUE(second.isReadOnly());
    EXPECT_EQ(second.takeNotices().size(), 1);
    second.open(path);
    EXPECT_TRUE(second.takeNotices().isEmpty());
    second.seek(1);
    EXPECT_TRUE(failureOf([&] { second.writeCard(card("X")); }).reason().contains(QStringLiteral("altro programma")));
    EXPECT_EQ(fileBytes(path), bookOf({ card("B") }));

    // A copy put back over the book while it is open.
    const QString copy = dir.filePath(QStringLiteral("COPIA.DAT"));
    writeFile(copy, bookOf({ card("Z"), card("A") }));
    ASSERT_EQ(::rename(QFile::encodeName(copy).constData(), name.constData()), 0);
    first.seek(0);
    const AddressBookError replaced = failureOf([&] { first.writeCard(card("C")); });
    EXPECT_TRUE(replaced.reason().contains(QStringLiteral("sostituita"))) << replaced.what();
    EXPECT_EQ(fileBytes(path), bookOf({ card("Z"), card("A") }));
    EXPECT_EQ(first.cardCount(), 2);

    // The sorted book is held without a new opening, lock included.
    EXPECT_EQ(first.sortBySurname(), 2);
    first.seek(2);
    first.writeCard(card("C"));
    EXPECT_EQ(fileBytes(path), bookOf({ card("A"), card("Z"), card("C") }));
    second.open(path);
    EXPECT_TRUE(second.isReadOnly());
    first.close();
    second.open(path);
    EXPECT_FALSE(second.isReadOnly());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}
