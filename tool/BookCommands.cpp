// book list, show and export: the address book read, never written.

#include "tool/BookAccess.h"
#include "tool/Commands.h"
#include "tool/Csv.h"
#include "tool/TableIo.h"
#include "tool/TableText.h"

#include "book/AddressBookFile.h"
#include "book/CustomerCard.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>


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
        { Field::Citta, QStringLiteral("Città"), "town" },
        { Field::Provincia, QStringLiteral("Provincia"), "province" },
        { Field::Cap, QStringLiteral("CAP"), "postcode" },
    };
    return fields;
}

[[noreturn]] void bookFailure(const AddressBookError& error)
{
    fail(FileError, QString(error.message()).replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

// Card `text` (from 1) of a book of `count` cards.
int cardNumber(const QString& text, int count, const QString& path)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1)
        fail(UsageError, QStringLiteral("\"%1\" non è un numero di scheda (da 1).").arg(text));
    if (n > count)
        fail(UsageError, QStringLiteral("la rubrica \"%1\" non ha la scheda %2: ne ha %3.").arg(path).arg(n).arg(count));
    return n;
}

} // namespace

BookReader::BookReader(const QString& path)
{
    try {
        file_.open(path, AddressBookFile::Access::ReadOnly);
    } catch (const AddressBookError& error) {
        bookFailure(error);
    }
    if (file_.cardCount() > MaxCards)
        fail(FileError, QStringLiteral("la rubrica \"%1\" ha più di %2 schede: non è una rubrica.").arg(path).arg(MaxCards));
}

CustomerCard BookReader::card(int index)
{
    CustomerCard card;
    try {
        file_.seek(index);
        file_.readCard(card);
    } catch (const AddressBookError& error) {
        bookFailure(error);
    }
    return card;
}

void tellNotices(bool quiet, BookReader& book, const QString& path)
{
    for (const QString& notice : book.notices())
        note(quiet, notice);
    if (book.hasPartialCard())
        note(quiet, QStringLiteral("la rubrica \"%1\" termina con una scheda incompleta, che è stata ignorata.").arg(path));
}

QCommandLineOption bookOption()
{
    return QCommandLineOption(QStringLiteral("book"),
                              QStringLiteral("la rubrica (predefinita: RUBRICA.DAT nella cartella corrente)"),
                              QStringLiteral("FILE"));
}

QString bookPath(const CommandParser& parser)
{
    return parser.isSet(QStringLiteral("book")) ? parser.value(QStringLiteral("book")) : AddressBookFile::DefaultName;
}

bool cardOrNumber(const CommandParser& parser)
{
    const bool card = parser.isSet(QStringLiteral("card"));
    if (card == parser.isSet(QStringLiteral("number")))
        parser.usageError(QStringLiteral("serve --card N oppure --number CIFRE (uno dei due)."));
    if (!card && parser.isSet(QStringLiteral("book")))
        parser.usageError(QStringLiteral("--book va con --card."));
    return card;
}

CustomerCard readBookCard(const QString& path, const QString& number, bool quiet)
{
    BookReader book(path);
    const int n = cardNumber(number, book.cardCount(), path);
    const CustomerCard card = book.card(n - 1);
    for (const QString& notice : book.notices())
        note(quiet, notice);
    return card;
}

CardWriter::CardWriter(const QString& path, const QString& number)
    : path_(path)
{
    // Saving a card never makes a new book: the card must be there already.
    if (!QFileInfo::exists(path))
        fail(FileError, QStringLiteral("Impossibile aprire la rubrica \"%1\": il file non esiste.").arg(path));
    try {
        file_.open(path, AddressBookFile::Access::Write);
    } catch (const AddressBookError& error) {
        bookFailure(error);
    }
    const QStringList notices = file_.takeNotices();
    if (file_.isReadOnly())
        fail(FileError, notices.isEmpty()
                 ? QStringLiteral("La rubrica \"%1\" si può solo leggere: la scheda non si può salvare.").arg(path)
                 : notices.join(QLatin1Char(' ')));
    for (const QString& notice : notices)
        note(false, notice);
    index_ = cardNumber(number, file_.cardCount(), path) - 1;
    try {
        file_.seek(index_);
        file_.readCard(card_);
    } catch (const AddressBookError& error) {
        bookFailure(error);
    }
}

void CardWriter::saveSummary(const TableGrid& grid)
{
    CustomerCard built = card_;
    built.takeSummaryFrom(grid);
    try {
        file_.seek(index_);
        file_.writeCard(built);
    } catch (const AddressBookError& error) {
        bookFailure(error);
    }
    for (const QString& notice : file_.takeNotices())
        note(false, notice);
    card_ = built;
}

int runBookList(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Elenca le schede della rubrica, numerate da 1 come le mostra \"Scheda:\".\n"
                                        "Con --json: una lista di oggetti \"card\", \"surname\", \"name\", \"number\",\n"
                                        "\"address\", \"town\", \"province\", \"postcode\"."));
    parser.addOption(bookOption());
    parser.addOption(jsonOption());
    if (!parser.parse())
        return Success;
    const QString path = bookPath(parser);
    BookReader book(path);
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
                .arg(QStringLiteral("Città"))
                .trimmed() + QLatin1Char('\n'));
        for (int i = 0; i < book.cardCount(); ++i) {
            const CustomerCard card = book.card(i);
            QString line = QStringLiteral("%1  %2  %3  %4  %5")
                               .arg(i + 1, width)
                               .arg(terminalText(card.text(Field::Cognome)), -20)
                               .arg(terminalText(card.text(Field::Nome)), -20)
                               .arg(terminalText(card.text(Field::Numero)), -20)
                               .arg(terminalText(card.text(Field::Citta)));
            while (line.endsWith(QLatin1Char(' ')))
                line.chop(1);
            out(line + QLatin1Char('\n'));
        }
    }
    tellNotices(parser.quiet(), book, path);
    return Success;
}

int runBookShow(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Mostra la scheda N (da 1) e il riepilogo della sua programmazione.\n"
                                        "Con --table -o FILE.dat scrive il riepilogo come file di tabella, come lo\n"
                                        "salverebbe \"Salva su File\" dopo \"Edita\"."));
    parser.addOption(bookOption());
    parser.addOption(QCommandLineOption(QStringLiteral("table"), QStringLiteral("scrive il riepilogo come file di tabella")));
    parser.addOption(outputOption(QStringLiteral("il file di tabella da scrivere (con --table)")));
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    const bool table = parser.isSet(QStringLiteral("table"));
    if (table != parser.isSet(QStringLiteral("output")))
        parser.usageError(QStringLiteral("--table e -o FILE.dat vanno insieme."));
    const QString path = bookPath(parser);
    BookReader book(path);
    const int n = cardNumber(parser.positional().first(), book.cardCount(), path);
    const CustomerCard card = book.card(n - 1);
    TableGrid grid;
    card.showSummaryIn(grid);
    if (table) {
        saveTable(grid, parser.value(QStringLiteral("output")));
        return Success;
    }
    QString text = QStringLiteral("Scheda: %1\n").arg(n);
    for (const CardField& f : cardFields())
        text += QStringLiteral("%1: %2\n").arg(f.label, terminalText(card.text(f.field)));
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
                                        "virgolette): Scheda, Cognome, Nome, Numero telefonico, Indirizzo, Città,\n"
                                        "Provincia, CAP. Senza -o il CSV va sullo standard output."));
    parser.addOption(bookOption());
    parser.addOption(csvOption());
    parser.addOption(outputOption(QStringLiteral("scrive il CSV in FILE invece che sullo standard output")));
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("csv"));
    const QString path = bookPath(parser);
    BookReader book(path);
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
    tellNotices(parser.quiet(), book, path);
    return Success;
}

} // namespace tool
