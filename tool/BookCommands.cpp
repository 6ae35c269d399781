// book list, show and export: the address book read, never written.

#include "tool/Commands.h"
#include "tool/Csv.h"
#include "tool/TableIo.h"
#include "tool/TableText.h"

#include "book/AddressBookFile.h"
#include "book/CustomerCard.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {

namespace {

using Field = CustomerCard::Field;

// The card's fields in the order the window shows them, with its labels and
// the names machine output uses.
struct CardField
{
    Field field;
    QString label;
    const char* key;
};
const std::vector<CardField>& cardFields()
{
    static const std::vector<CardField> fields = {
        { Field::Cognome, QStringLiteral("Cognome"), "surname" },
        { Field::Nome, QStringLiteral("Nome"), "name" },
        { Field::Numero, QStringLiteral("Numero telefonico"), "number" },
        { Field::Indirizzo, QStringLiteral("Indirizzo"), "address" },
        { Field::Citta, QStringLiteral("Citta'"), "town" },
        { Field::Provincia, QStringLiteral("Provincia"), "province" },
        { Field::Cap, QStringLiteral("CAP"), "postcode" },
    };
    return fields;
}

// RUBRICA.DAT opened for reading only: never created, never locked for
// writing, never written, so the window may keep it open meanwhile.
class BookReader
{
public:
    static constexpr qint64 MaxCards = 100000;

    explicit BookReader(const QString& path)
        : path_(path)
    {
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0)
            failWith(QStringLiteral("impossibile aprire la rubrica \"%1\": %2."),
                     errno == ENOENT ? QStringLiteral("il file non esiste") : QString::fromLocal8Bit(std::strerror(errno)));
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
            failWith(QStringLiteral("impossibile aprire la rubrica \"%1\": %2."), QStringLiteral("non è un file"));
        size_ = st.st_size;
        // Far beyond any customer list; a file this big was named by mistake.
        if (size_ / CustomerCard::Size > MaxCards)
            failWith(QStringLiteral("impossibile leggere la rubrica \"%1\": %2."),
                     QStringLiteral("ha più di %1 schede").arg(MaxCards));
    }
    ~BookReader()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    BookReader(const BookReader&) = delete;
    BookReader& operator=(const BookReader&) = delete;

    int cardCount() const { return int(size_ / CustomerCard::Size); }
    bool hasPartialCard() const { return size_ % CustomerCard::Size != 0; }

    // Card `index` (from 0).
    CustomerCard card(int index) const
    {
        CustomerCard card;
        const off_t offset = off_t(index) * CustomerCard::Size;
        size_t done = 0;
        while (done < size_t(CustomerCard::Size)) {
            const ssize_t n = ::pread(fd_, card.data() + done, size_t(CustomerCard::Size) - done, offset + off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                failWith(QStringLiteral("errore di lettura della rubrica \"%1\": %2."),
                         n == 0 ? QStringLiteral("il file è stato accorciato") : QString::fromLocal8Bit(std::strerror(errno)));
            done += size_t(n);
        }
        return card;
    }

private:
    [[noreturn]] void failWith(const QString& text, const QString& reason) const
    {
        fail(FileError, text.arg(path_, reason));
    }

    QString path_;
    int fd_ = -1;
    qint64 size_ = 0;
};

const QCommandLineOption BookOption(QStringLiteral("book"),
                                    QStringLiteral("la rubrica da leggere (predefinita: RUBRICA.DAT nella cartella corrente)"),
                                    QStringLiteral("FILE"));

QString bookPath(const CommandParser& parser)
{
    return parser.isSet(QStringLiteral("book")) ? parser.value(QStringLiteral("book")) : AddressBookFile::DefaultName;
}

void notePartial(const CommandParser& parser, const BookReader& book, const QString& path)
{
    if (book.hasPartialCard())
        note(parser.quiet(), QStringLiteral("la rubrica \"%1\" termina con una scheda incompleta, che è stata ignorata.").arg(path));
}

int cardNumber(const QString& text, const BookReader& book, const QString& path)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1)
        fail(UsageError, QStringLiteral("\"%1\" non è un numero di scheda (da 1).").arg(text));
    if (n > book.cardCount())
        fail(UsageError, QStringLiteral("la rubrica \"%1\" non ha la scheda %2: ne ha %3.").arg(path).arg(n).arg(book.cardCount()));
    return n;
}

} // namespace

int runBookList(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Elenca le schede della rubrica, numerate da 1 come le mostra \"Scheda:\".\n"
                                        "Con --json: una lista di oggetti \"card\", \"surname\", \"name\", \"number\",\n"
                                        "\"address\", \"town\", \"province\", \"postcode\"."));
    parser.addOption(BookOption);
    parser.addOption(jsonOption());
    if (!parser.parse())
        return Success;
    const QString path = bookPath(parser);
    const BookReader book(path);
    if (parser.isSet(QStringLiteral("json"))) {
        QJsonArray list;
        for (int i = 0; i < book.cardCount(); ++i) {
            const CustomerCard card = book.card(i);
            QJsonObject o;
            o.insert(QStringLiteral("card"), i + 1);
            for (const CardField& f : cardFields())
                o.insert(QLatin1String(f.key), card.text(f.field));
            list.append(o);
        }
        out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
    } else {
        const int width = std::max(6, int(QString::number(book.cardCount()).size()));
        out(QStringLiteral("%1  %2  %3  %4  %5\n")
                .arg(QStringLiteral("Scheda"), width)
                .arg(QStringLiteral("Cognome"), -20)
                .arg(QStringLiteral("Nome"), -20)
                .arg(QStringLiteral("Numero"), -20)
                .arg(QStringLiteral("Citta'"))
                .trimmed() + QLatin1Char('\n'));
        for (int i = 0; i < book.cardCount(); ++i) {
            const CustomerCard card = book.card(i);
            QString line = QStringLiteral("%1  %2  %3  %4  %5")
                               .arg(i + 1, width)
                               .arg(card.text(Field::Cognome), -20)
                               .arg(card.text(Field::Nome), -20)
                               .arg(card.text(Field::Numero), -20)
                               .arg(card.text(Field::Citta));
            while (line.endsWith(QLatin1Char(' ')))
                line.chop(1);
            out(line + QLatin1Char('\n'));
        }
    }
    notePartial(parser, book, path);
    return Success;
}

int runBookShow(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Mostra la scheda N (da 1) e il riepilogo della sua programmazione.\n"
                                        "Con --table -o FILE.dat scrive il riepilogo come file di tabella, come lo\n"
                                        "salverebbe \"Salva su File\" dopo \"Edita\"."));
    parser.addOption(BookOption);
    parser.addOption(QCommandLineOption(QStringLiteral("table"), QStringLiteral("scrive il riepilogo come file di tabella")));
    parser.addOption(outputOption(QStringLiteral("il file di tabella da scrivere (con --table)")));
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    const bool table = parser.isSet(QStringLiteral("table"));
    if (table != parser.isSet(QStringLiteral("output")))
        parser.usageError(QStringLiteral("--table e -o FILE.dat vanno insieme."));
    const QString path = bookPath(parser);
    const BookReader book(path);
    const int n = cardNumber(parser.positional().first(), book, path);
    const CustomerCard card = book.card(n - 1);
    TableGrid grid;
    card.showSummaryIn(grid);
    if (table) {
        saveTable(grid, parser.value(QStringLiteral("output")));
        return Success;
    }
    QString text = QStringLiteral("Scheda: %1\n").arg(n);
    for (const CardField& f : cardFields())
        text += QStringLiteral("%1: %2\n").arg(f.label, card.text(f.field));
    const TableText summary = tableText(grid);
    text += summary.model == codec::Model::None
        ? QStringLiteral("Riepilogo: nessuna tabella\n")
        : QStringLiteral("Riepilogo: %1, %2 associazioni usate\n").arg(modelName(summary.model)).arg(summary.usedCount());
    out(text);
    return Success;
}

int runBookExport(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Esporta le schede della rubrica in CSV (RFC 4180, UTF-8, ogni campo tra\n"
                                        "virgolette): Scheda, Cognome, Nome, Numero telefonico, Indirizzo, Citta',\n"
                                        "Provincia, CAP. Senza -o il CSV va sullo standard output."));
    parser.addOption(BookOption);
    parser.addOption(csvOption());
    parser.addOption(outputOption(QStringLiteral("scrive il CSV in FILE invece che sullo standard output")));
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("csv"));
    const QString path = bookPath(parser);
    const BookReader book(path);
    QStringList names{ QStringLiteral("Scheda") };
    for (const CardField& f : cardFields())
        names << f.label;
    QByteArray bytes = csv::record(names);
    for (int i = 0; i < book.cardCount(); ++i) {
        const CustomerCard card = book.card(i);
        QStringList fields{ QString::number(i + 1) };
        for (const CardField& f : cardFields())
            fields << card.text(f.field);
        bytes += csv::record(fields);
    }
    writeOutput(parser, bytes);
    notePartial(parser, book, path);
    return Success;
}

} // namespace tool
