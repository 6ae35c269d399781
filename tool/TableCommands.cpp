// show, diff, export and import: table files read as a person reads them.

#include "tool/Commands.h"
#include "tool/Csv.h"
#include "tool/TableIo.h"
#include "tool/TableDiff.h"
#include "tool/TableText.h"

#include "device/GridLayout.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cstdint>
#include <map>

namespace tool {

using fields::Field;

namespace {

// ---- show

// Every field is a string, the same text `show` prints, `diff` compares and
// the CSV holds: "" for a field never set, "-" for a local prefix never set,
// "Si"/"No" for beep and flash. Each object carries the fields its model has.
QJsonObject showJson(const TableText& table)
{
    QJsonObject header;
    for (const Field f : fields::headerFieldsOf(table.model))
        header.insert(fieldKey(f), table[f]);

    const std::vector<Field> shownFields = fields::associationFieldsOf(table.model);
    QJsonArray associations;
    for (const AssociationText& a : table.associations) {
        if (!a.used)
            continue;
        QJsonObject o;
        o.insert(QStringLiteral("number"), a.number);
        for (const Field f : shownFields)
            o.insert(fieldKey(f), a[f]);
        associations.append(o);
    }
    QJsonObject root;
    root.insert(fieldKey(Field::Model), modelName(table.model));
    root.insert(QStringLiteral("header"), header);
    root.insert(QStringLiteral("associations"), associations);
    return root;
}

QString shown(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : terminalText(text);
}

QString showText(const TableText& table)
{
    QString text;
    const QString model = table.model == codec::Model::None ? QStringLiteral("nessuno") : modelName(table.model);
    text += QStringLiteral("%1: %2\n").arg(fieldName(Field::Model), model);
    for (const Field f : fields::headerFieldsOf(table.model))
        text += QStringLiteral("%1: %2\n").arg(fieldName(f), shown(table[f]));
    const int used = table.usedCount();
    text += QStringLiteral("Associazioni usate: %1 di %2\n").arg(used).arg(codec::RecordCount);
    if (used == 0)
        return text;

    const std::vector<Field> shownFields = fields::associationFieldsOf(table.model);
    std::vector<int> widths(shownFields.size() + 1, 4);
    for (size_t i = 0; i < shownFields.size(); ++i)
        widths[i + 1] = int(fieldName(shownFields[i]).size());
    for (const AssociationText& a : table.associations)
        for (size_t i = 0; a.used && i < shownFields.size(); ++i)
            widths[i + 1] = std::max(widths[i + 1], int(shown(a[shownFields[i]]).size()));

    auto line = [&](const QString& number, auto field) {
        QString row = QStringLiteral("%1").arg(number, widths[0]);
        for (size_t i = 0; i < shownFields.size(); ++i)
            row += QStringLiteral("  ") + QStringLiteral("%1").arg(field(shownFields[i]), -widths[i + 1]);
        while (row.endsWith(QLatin1Char(' ')))
            row.chop(1);
        return row + QLatin1Char('\n');
    };
    text += QLatin1Char('\n');
    text += line(QStringLiteral("N."), [](Field f) { return fieldName(f); });
    for (const AssociationText& a : table.associations)
        if (a.used)
            text += line(QString::number(a.number), [&](Field f) { return shown(a[f]); });
    return text;
}

// ---- CSV

const QString NumberColumn = QStringLiteral("Associazione");
// Written by export after the fields: see csvCheck.
const QString CheckColumn = QStringLiteral("Controllo");
constexpr int MaxCsvRecords = 1000;
constexpr int CheckLetters = 3;

QStringList csvColumns()
{
    QStringList names{ NumberColumn };
    for (const Field f : fields::AssociationFields)
        names << fieldName(f);
    return names;
}

// Three letters of a field's text, FNV-1a over its UTF-8 bytes. Letters,
// because a spreadsheet leaves them alone where it turns "0039" into 39.
QString fieldCheck(const QString& text)
{
    std::uint32_t hash = 2166136261u;
    for (const char byte : text.toUtf8()) {
        hash ^= std::uint8_t(byte);
        hash *= 16777619u;
    }
    QString letters;
    for (int i = 0; i < CheckLetters; ++i, hash /= 26)
        letters += QLatin1Char(char('a' + hash % 26));
    return letters;
}

// The check of a record's value fields, in their order: export writes it in
// the last column, and import tells from it a field a spreadsheet has
// changed on the way (leading zeros dropped) from one the operator edited.
QString csvCheck(const QStringList& values)
{
    QString check;
    for (const QString& v : values)
        check += fieldCheck(v);
    return check;
}

QByteArray csvRecord(const QStringList& fieldsAndValues)
{
    return csv::record(fieldsAndValues + QStringList{ csvCheck(fieldsAndValues.mid(1)) });
}

QString problemText(const FieldProblem& p, const QString& value)
{
    return QStringLiteral("%1: \"%2\" %3").arg(fieldPlace(p.association, p.field), terminalText(value), p.reason);
}

QString fieldValue(const TableText& text, const FieldProblem& p)
{
    if (p.field && fields::isHeaderField(*p.field))
        return text[*p.field];
    if (p.field && p.association >= 1 && p.association <= int(text.associations.size()))
        return text.associations[size_t(p.association - 1)][*p.field];
    return QString::number(p.association);
}

// The CSV of a table, or a refusal when the table holds cells the CSV could
// not give back: export then import always gives the same file.
QByteArray tableCsv(const TableGrid& grid)
{
    const TableText text = tableText(grid);
    if (text.model == codec::Model::None)
        fail(TableRefused, QStringLiteral("la tabella non ha un modello (la prima cella non è U né Y): non si esporta."));
    TableGrid back;
    if (std::optional<FieldProblem> p = fieldsToGrid(text, back))
        fail(TableRefused, QStringLiteral("la tabella non si può esportare: %1.").arg(problemText(*p, fieldValue(text, *p))));
    for (int r = layout::HeaderRow; r <= layout::LastAssociationRow; ++r)
        for (int c = layout::RowCells.first; c <= layout::RowCells.last; ++c)
            if (grid.cell(c, r) != back.cell(c, r)) {
                const FieldAt at = fieldAt(grid, c, r);
                fail(TableRefused, QStringLiteral("la tabella non si può esportare: %1 contiene \"%2\", che un CSV "
                                                  "non riporterebbe tale e quale.")
                                       .arg(fieldPlace(at.association, at.field), terminalText(rawCells(grid, at, r))));
            }

    const QStringList columns = csvColumns();
    QByteArray bytes = csv::record(columns + QStringList{ CheckColumn });
    const QStringList blanks(columns.size() - 2, QString());
    for (const Field f : fields::HeaderFields)
        bytes += csvRecord(QStringList{ fieldName(f), text[f] } + blanks);
    for (const AssociationText& a : text.associations) {
        QStringList record{ QString::number(a.number) };
        for (const Field f : fields::AssociationFields)
            record << a[f];
        bytes += csvRecord(record);
    }
    return bytes;
}

[[noreturn]] void csvProblem(ExitCode code, const QString& path, int line, const QString& column, const QString& what)
{
    fail(code, QStringLiteral("%1, riga %2, colonna \"%3\": %4.").arg(path).arg(line).arg(column, what));
}

bool sameNames(const QStringList& names, const QStringList& expected)
{
    return names.size() == expected.size()
        && std::equal(names.begin(), names.end(), expected.begin(),
                      [](const QString& x, const QString& y) { return x.compare(y, Qt::CaseInsensitive) == 0; });
}

// A field whose check says it is not what export wrote: refused when the
// exported text was this one with zeros in front (what a spreadsheet does to
// a code it takes for a number); an operator's own edit is only noted.
void checkField(const QString& path, const csv::Record& record, const QString& place, const QString& column,
                const QString& value, const QString& check, QStringList& edited)
{
    if (fieldCheck(value) == check)
        return;
    // A spreadsheet writes a number without zeros in front (a lone "0" apart):
    // "039" for "0039" is an operator's edit, not its damage.
    const bool number = value == QLatin1String("0") || (!value.isEmpty() && !value.startsWith(QLatin1Char('0')));
    const bool digits = number && std::all_of(value.begin(), value.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    for (int zeros = 1; digits && zeros <= layout::kolvar1::Keys.width(); ++zeros) {
        const QString exported = QString(zeros, QLatin1Char('0')) + value;
        if (fieldCheck(exported) == check)
            csvProblem(TableRefused, path, record.line, column,
                       QStringLiteral("%1: \"%2\" era \"%3\" nel file esportato. Gli zeri iniziali sono andati persi, "
                                      "di solito aprendo e salvando il CSV con un foglio di calcolo che legge i codici "
                                      "come numeri: rimetterli o esportare di nuovo la tabella")
                           .arg(place, terminalText(value), exported));
    }
    edited << QStringLiteral("%1 (riga %2)").arg(place).arg(record.line);
}

QStringList trimmedFields(const csv::Record& record)
{
    QStringList trimmed;
    for (const QString& f : record.fields)
        trimmed << f.trimmed();
    return trimmed;
}

// The first record names the columns export writes, with or without the
// check column (files of older versions lack it): whether it is there.
bool csvHasCheckColumn(const QString& path, const csv::Record& names, const QStringList& columns, bool quiet)
{
    const QStringList trimmed = trimmedFields(names);
    if (trimmed.size() == 1 && trimmed.first().contains(QLatin1Char(';')))
        fail(FileError, QStringLiteral("%1, riga %2: i campi sono separati da \";\": il separatore dev'essere la "
                                          "virgola (nel foglio di calcolo, salvare come CSV con separatore \",\").")
                               .arg(path)
                               .arg(names.line));
    const bool checked = sameNames(trimmed, columns + QStringList{ CheckColumn });
    if (!checked && !sameNames(trimmed, columns))
        fail(TableRefused, QStringLiteral("%1, riga %2: le colonne devono essere %3.")
                               .arg(path)
                               .arg(names.line)
                               .arg(QLatin1Char('"') + (columns + QStringList{ CheckColumn }).join(QStringLiteral("\", \""))
                                    + QLatin1Char('"')));
    if (!checked)
        note(quiet, QStringLiteral("%1: il file non ha la colonna \"%2\" (esportato da una versione precedente): "
                                   "zeri iniziali persi in un foglio di calcolo non si possono riconoscere, "
                                   "controllare prefissi e codici.")
                        .arg(path, CheckColumn));
    return checked;
}

// What import has gathered from the records read so far.
struct CsvImport
{
    TableText text;
    std::map<Field, int> headerLines;    // header field -> line
    std::map<int, int> associationLines; // association -> line
    QStringList edited;                  // fields changed since export, as told to the operator
};

// A table with every association unset and no local prefix, for the records to fill.
TableText blankCsvText()
{
    TableText text;
    text[Field::LocalPrefix] = QStringLiteral("-");
    text.associations.resize(codec::RecordCount);
    for (int n = 1; n <= codec::RecordCount; ++n)
        text.associations[size_t(n - 1)].number = n;
    return text;
}

std::optional<Field> headerFieldNamed(const QString& key)
{
    std::optional<Field> headerField;
    for (const Field h : fields::HeaderFields)
        if (key.compare(fieldName(h), Qt::CaseInsensitive) == 0)
            headerField = h;
    return headerField;
}

int associationNumber(const QString& path, const csv::Record& record, const QString& key)
{
    bool ok = false;
    const int n = key.toInt(&ok);
    if (!ok || n < 1 || n > codec::RecordCount
        || !std::all_of(key.begin(), key.end(), [](QChar c) { return c.isDigit(); }))
        csvProblem(TableRefused, path, record.line, NumberColumn,
                   QStringLiteral("\"%1\" non è un numero da 1 a %2 né un campo dell'intestazione")
                       .arg(terminalText(key))
                       .arg(codec::RecordCount));
    return n;
}

// Puts a record's values in the header field it names, or in association n.
void takeCsvValues(const QString& path, const csv::Record& record, const QStringList& values,
                   std::optional<Field> headerField, int n, CsvImport& import)
{
    if (headerField) {
        if (import.headerLines.count(*headerField))
            csvProblem(TableRefused, path, record.line, NumberColumn,
                       QStringLiteral("\"%1\" compare due volte").arg(terminalText(values.first())));
        import.headerLines[*headerField] = record.line;
        import.text[*headerField] = values.at(1);
        return;
    }
    if (import.associationLines.count(n))
        csvProblem(TableRefused, path, record.line, NumberColumn,
                   QStringLiteral("l'associazione %1 compare due volte").arg(n));
    import.associationLines[n] = record.line;
    AssociationText& a = import.text.associations[size_t(n - 1)];
    for (size_t f = 0; f < fields::AssociationFields.size(); ++f)
        a[fields::AssociationFields[f]] = values.at(int(f) + 1);
}

// Compares a record's values with the check export wrote after them.
void checkCsvRecord(const QString& path, const csv::Record& record, const QStringList& values,
                    const QStringList& columns, std::optional<Field> headerField, int n, QStringList& edited)
{
    const QString& check = values.last();
    if (check.size() != CheckLetters * (columns.size() - 1)) {
        edited << QStringLiteral("riga %1").arg(record.line);
        return;
    }
    for (int f = 1; f < columns.size(); ++f) {
        const QString place = headerField ? fieldPlace(0, *headerField)
                                          : fieldPlace(n, fields::AssociationFields[size_t(f - 1)]);
        checkField(path, record, place, headerField ? columns.at(1) : columns.at(f), values.at(f),
                   check.mid((f - 1) * CheckLetters, CheckLetters), edited);
    }
}

// The grid of what the records gave, or a refusal at the line of the field
// the table cannot hold.
TableGrid csvGrid(const QString& path, CsvImport& import, const QStringList& columns)
{
    TableText& text = import.text;
    if (import.headerLines.find(Field::Model) == import.headerLines.end())
        fail(TableRefused, QStringLiteral("%1: manca la riga \"Modello\" (Kolvar22 o Kolvar1).").arg(path));
    const QString& model = text[Field::Model];
    if (model.compare(modelName(codec::Model::Kolvar22), Qt::CaseInsensitive) == 0)
        text.model = codec::Model::Kolvar22;
    else if (model.compare(modelName(codec::Model::Kolvar1), Qt::CaseInsensitive) == 0)
        text.model = codec::Model::Kolvar1;

    TableGrid grid;
    if (std::optional<FieldProblem> p = fieldsToGrid(text, grid)) {
        const bool header = p->field && fields::isHeaderField(*p->field);
        const int line = header ? import.headerLines[*p->field] : import.associationLines[p->association];
        const QString column = header ? columns.at(1) : fieldName(*p->field);
        csvProblem(TableRefused, path, line, column, problemText(*p, fieldValue(text, *p)));
    }
    return grid;
}

TableGrid csvTable(const QString& path, bool quiet)
{
    const QByteArray bytes = readFileBounded(path, 1 << 20);
    QString error;
    const std::optional<std::vector<csv::Record>> records = csv::parse(bytes, MaxCsvRecords, &error);
    if (!records)
        fail(FileError, QStringLiteral("%1: %2.").arg(path, error));
    if (records->empty())
        fail(FileError, QStringLiteral("%1: il file è vuoto.").arg(path));

    const QStringList columns = csvColumns();
    const bool checked = csvHasCheckColumn(path, records->front(), columns, quiet);
    const int width = int(records->front().fields.size());

    CsvImport import;
    import.text = blankCsvText();
    for (size_t i = 1; i < records->size(); ++i) {
        const csv::Record& record = (*records)[i];
        const QStringList values = trimmedFields(record);
        if (std::all_of(values.begin(), values.end(), [](const QString& f) { return f.isEmpty(); }))
            continue; // a spreadsheet's blank line
        if (values.size() != width)
            fail(FileError, QStringLiteral("%1, riga %2: %3 campi invece di %4.")
                                   .arg(path)
                                   .arg(record.line)
                                   .arg(values.size())
                                   .arg(width));
        const std::optional<Field> headerField = headerFieldNamed(values.first());
        const int n = headerField ? 0 : associationNumber(path, record, values.first());
        takeCsvValues(path, record, values, headerField, n, import);
        if (checked)
            checkCsvRecord(path, record, values, columns, headerField, n, import.edited);
    }
    if (!import.edited.isEmpty())
        note(quiet, QStringLiteral("%1: cambiati dopo l'esportazione: %2.").arg(path, import.edited.join(QStringLiteral(", "))));
    return csvGrid(path, import, columns);
}

} // namespace

int runShow(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Mostra la tabella di un file .dat: modello, gestione, prefisso locale, beep e\n"
                                        "flash, poi ogni associazione usata con i suoi campi, come li mostra la finestra."));
    parser.addOption(jsonOption());
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    const TableText table = tableText(loadTable(parser.positional().first()));
    if (parser.isSet(QStringLiteral("json")))
        out(QString::fromUtf8(QJsonDocument(showJson(table)).toJson(QJsonDocument::Indented)));
    else
        out(showText(table));
    return Success;
}

int runExport(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Esporta una tabella in CSV (RFC 4180, UTF-8, ogni campo tra virgolette).\n"
                                        "Prima riga: i nomi delle colonne Associazione, Prefisso, Gestore, Dalle, Alle,\n"
                                        "Giorno, Linea, Controllo. Poi l'intestazione, una riga per campo con il nome\n"
                                        "nella prima colonna e il valore nella seconda: Modello (Kolvar22 o Kolvar1),\n"
                                        "Gestione (Automatica o Manuale), Prefisso Locale (cifre; \"-\" se mai\n"
                                        "impostato), Beep e Flash (Si o No; vuoti sul Kolvar1). Poi una riga per\n"
                                        "ciascuna delle 127 associazioni, vuota se non usata. Giorno: Sempre, Feriale o\n"
                                        "Festivo. Controllo: tre lettere per campo, con cui \"import\" riconosce un\n"
                                        "campo che un foglio di calcolo ha cambiato (zeri iniziali persi).\n"
                                        "Senza -o il CSV va sullo standard output."));
    parser.addOption(csvOption());
    parser.addOption(outputOption(QStringLiteral("scrive il CSV in FILE invece che sullo standard output")));
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("csv"));
    writeOutput(parser, tableCsv(loadTable(parser.positional().first())));
    return Success;
}

int runImport(const Invocation& invocation)
{
    CommandParser parser(invocation, QStringLiteral("Legge un CSV come lo scrive \"export --csv\", controlla ogni campo con le regole\n"
                                        "dei campi della finestra e ne fa un file di tabella .dat. Il primo campo errato\n"
                                        "è indicato con riga e colonna; allora nessun file viene scritto. Un campo che\n"
                                        "ha perso gli zeri iniziali in un foglio di calcolo è rifiutato; un campo\n"
                                        "cambiato a mano è accettato e ricordato in una nota."));
    parser.addOption(outputOption(QStringLiteral("il file di tabella da scrivere")));
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("o"));
    saveTable(csvTable(parser.positional().first(), parser.quiet()), parser.value(QStringLiteral("output")));
    return Success;
}

} // namespace tool
