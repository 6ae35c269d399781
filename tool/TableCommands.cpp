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

#include <map>

namespace tool {

namespace {

// ---- show

QJsonValue onOffJson(const QString& text)
{
    if (text == QLatin1String("Si"))
        return true;
    if (text == QLatin1String("No"))
        return false;
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue textJson(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject showJson(const TableText& table)
{
    QJsonObject header;
    header.insert(QLatin1String(fieldKey(HeaderField::Management)), textJson(table[HeaderField::Management]));
    const QString& local = table[HeaderField::LocalPrefix];
    header.insert(QLatin1String(fieldKey(HeaderField::LocalPrefix)),
                  local == QLatin1String("-") ? QJsonValue() : QJsonValue(local));
    header.insert(QLatin1String(fieldKey(HeaderField::Beep)), onOffJson(table[HeaderField::Beep]));
    header.insert(QLatin1String(fieldKey(HeaderField::Flash)), onOffJson(table[HeaderField::Flash]));

    QJsonArray associations;
    for (const AssociationText& a : table.associations) {
        if (!a.used)
            continue;
        QJsonObject o;
        o.insert(QStringLiteral("number"), a.number);
        const int fields = table.model == codec::Model::Kolvar1 ? 2 : AssociationFieldCount;
        for (int i = 0; i < fields; ++i)
            o.insert(QLatin1String(fieldKey(AssociationField(i))), a.fields[size_t(i)]);
        associations.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("model"), textJson(modelName(table.model)));
    root.insert(QStringLiteral("header"), header);
    root.insert(QStringLiteral("associations"), associations);
    return root;
}

QString shown(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QString showText(const TableText& table)
{
    QString text;
    const QString model = table.model == codec::Model::None ? QStringLiteral("nessuno") : modelName(table.model);
    text += QStringLiteral("Modello: %1\n").arg(model);
    for (HeaderField f : { HeaderField::Management, HeaderField::LocalPrefix, HeaderField::Beep, HeaderField::Flash }) {
        if (table.model == codec::Model::Kolvar1 && (f == HeaderField::Beep || f == HeaderField::Flash))
            continue;
        text += QStringLiteral("%1: %2\n").arg(fieldName(f), shown(table[f]));
    }
    const int used = table.usedCount();
    text += QStringLiteral("Associazioni usate: %1 di %2\n").arg(used).arg(codec::RecordCount);
    if (used == 0)
        return text;

    const int fields = table.model == codec::Model::Kolvar1 ? 2 : AssociationFieldCount;
    std::vector<int> widths(size_t(fields) + 1, 4);
    widths[0] = 4;
    for (int i = 0; i < fields; ++i)
        widths[size_t(i) + 1] = int(fieldName(AssociationField(i)).size());
    for (const AssociationText& a : table.associations)
        for (int i = 0; a.used && i < fields; ++i)
            widths[size_t(i) + 1] = std::max(widths[size_t(i) + 1], int(a.fields[size_t(i)].size()));

    auto line = [&](const QString& number, auto field) {
        QString row = QStringLiteral("%1").arg(number, widths[0]);
        for (int i = 0; i < fields; ++i)
            row += QStringLiteral("  ") + QStringLiteral("%1").arg(field(i), -widths[size_t(i) + 1]);
        while (row.endsWith(QLatin1Char(' ')))
            row.chop(1);
        return row + QLatin1Char('\n');
    };
    text += QLatin1Char('\n');
    text += line(QStringLiteral("N."), [](int i) { return fieldName(AssociationField(i)); });
    for (const AssociationText& a : table.associations)
        if (a.used)
            text += line(QString::number(a.number), [&](int i) { return shown(a.fields[size_t(i)]); });
    return text;
}

// ---- CSV

const QStringList CsvColumns = {
    QStringLiteral("Associazione"), QStringLiteral("Prefisso"), QStringLiteral("Gestore"), QStringLiteral("Dalle"),
    QStringLiteral("Alle"),         QStringLiteral("Giorno"),   QStringLiteral("Linea"),
};
constexpr int MaxCsvRecords = 1000;

QString problemText(const FieldProblem& p, const QString& value)
{
    return QStringLiteral("%1: \"%2\" %3").arg(fieldPlace(p.association, p.header, p.field), value, p.reason);
}

QString fieldValue(const TableText& text, const FieldProblem& p)
{
    if (p.header)
        return text[*p.header];
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
                                       .arg(fieldPlace(at.association, at.header, at.field), rawCells(grid, at, r)));
            }

    QByteArray bytes = csv::record(CsvColumns);
    const QStringList blanks(CsvColumns.size() - 2, QString());
    for (int i = 0; i < HeaderFieldCount; ++i)
        bytes += csv::record(QStringList{ fieldName(HeaderField(i)), text[HeaderField(i)] } + blanks);
    for (const AssociationText& a : text.associations)
        bytes += csv::record(QStringList{ QString::number(a.number) } + QStringList(a.fields.begin(), a.fields.end()));
    return bytes;
}

[[noreturn]] void csvProblem(ExitCode code, const QString& path, int line, const QString& column, const QString& what)
{
    fail(code, QStringLiteral("%1, riga %2, colonna \"%3\": %4.").arg(path).arg(line).arg(column, what));
}

TableGrid csvTable(const QString& path)
{
    const QByteArray bytes = readFileBounded(path, 1 << 20);
    QString error;
    const std::optional<std::vector<csv::Record>> records = csv::parse(bytes, MaxCsvRecords, &error);
    if (!records)
        fail(FileError, QStringLiteral("%1: %2.").arg(path, error));
    if (records->empty())
        fail(FileError, QStringLiteral("%1: il file è vuoto.").arg(path));

    const csv::Record& names = records->front();
    QStringList trimmed;
    for (const QString& n : names.fields)
        trimmed << n.trimmed();
    if (trimmed.size() != CsvColumns.size()
        || !std::equal(trimmed.begin(), trimmed.end(), CsvColumns.begin(),
                       [](const QString& x, const QString& y) { return x.compare(y, Qt::CaseInsensitive) == 0; }))
        fail(FileError, QStringLiteral("%1, riga %2: le colonne devono essere %3.")
                            .arg(path)
                            .arg(names.line)
                            .arg(QLatin1Char('"') + CsvColumns.join(QStringLiteral("\", \"")) + QLatin1Char('"')));

    TableText text;
    text[HeaderField::LocalPrefix] = QStringLiteral("-");
    text.associations.resize(codec::RecordCount);
    for (int n = 1; n <= codec::RecordCount; ++n)
        text.associations[size_t(n - 1)].number = n;
    std::map<int, int> headerLines;      // header field -> line
    std::map<int, int> associationLines; // association -> line
    for (size_t i = 1; i < records->size(); ++i) {
        const csv::Record& record = (*records)[i];
        QStringList fields;
        for (const QString& f : record.fields)
            fields << f.trimmed();
        if (std::all_of(fields.begin(), fields.end(), [](const QString& f) { return f.isEmpty(); }))
            continue; // a spreadsheet's blank line
        if (fields.size() != CsvColumns.size())
            fail(FileError, QStringLiteral("%1, riga %2: %3 campi invece di %4.")
                                .arg(path)
                                .arg(record.line)
                                .arg(fields.size())
                                .arg(CsvColumns.size()));
        const QString& key = fields.first();
        bool isHeader = false;
        for (int h = 0; h < HeaderFieldCount; ++h) {
            if (key.compare(fieldName(HeaderField(h)), Qt::CaseInsensitive) != 0)
                continue;
            isHeader = true;
            if (headerLines.count(h))
                csvProblem(TableRefused, path, record.line, CsvColumns.first(),
                           QStringLiteral("\"%1\" compare due volte").arg(key));
            headerLines[h] = record.line;
            text.header[size_t(h)] = fields.at(1);
        }
        if (isHeader)
            continue;
        bool ok = false;
        const int n = key.toInt(&ok);
        if (!ok || n < 1 || n > codec::RecordCount || !std::all_of(key.begin(), key.end(), [](QChar c) { return c.isDigit(); }))
            csvProblem(TableRefused, path, record.line, CsvColumns.first(),
                       QStringLiteral("\"%1\" non è un numero da 1 a %2 né un campo dell'intestazione").arg(key).arg(codec::RecordCount));
        if (associationLines.count(n))
            csvProblem(TableRefused, path, record.line, CsvColumns.first(),
                       QStringLiteral("l'associazione %1 compare due volte").arg(n));
        associationLines[n] = record.line;
        AssociationText& a = text.associations[size_t(n - 1)];
        for (int f = 0; f < AssociationFieldCount; ++f)
            a.fields[size_t(f)] = fields.at(f + 1);
    }

    const auto modelLine = headerLines.find(int(HeaderField::Model));
    if (modelLine == headerLines.end())
        fail(TableRefused, QStringLiteral("%1: manca la riga \"Modello\" (Kolvar22 o Kolvar1).").arg(path));
    const QString& model = text[HeaderField::Model];
    if (model.compare(modelName(codec::Model::Kolvar22), Qt::CaseInsensitive) == 0)
        text.model = codec::Model::Kolvar22;
    else if (model.compare(modelName(codec::Model::Kolvar1), Qt::CaseInsensitive) == 0)
        text.model = codec::Model::Kolvar1;

    TableGrid grid;
    if (std::optional<FieldProblem> p = fieldsToGrid(text, grid)) {
        const int line = p->header ? headerLines[int(*p->header)] : associationLines[p->association];
        const QString column = p->header ? CsvColumns.at(1) : CsvColumns.at(int(*p->field) + 1);
        csvProblem(TableRefused, path, line, column,
                   QStringLiteral("%1: \"%2\" %3").arg(fieldPlace(p->association, p->header, p->field), fieldValue(text, *p), p->reason));
    }
    return grid;
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
                                        "Giorno, Linea. Poi l'intestazione, una riga per campo con il nome nella prima\n"
                                        "colonna e il valore nella seconda: Modello (Kolvar22 o Kolvar1), Gestione\n"
                                        "(Automatica o Manuale), Prefisso Locale (cifre; \"-\" se mai impostato), Beep e\n"
                                        "Flash (Si o No; vuoti sul Kolvar1). Poi una riga per ciascuna delle 127\n"
                                        "associazioni, vuota se non usata. Giorno: Sempre, Feriale o Festivo.\n"
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
                                        "è indicato con riga e colonna; allora nessun file viene scritto."));
    parser.addOption(outputOption(QStringLiteral("il file di tabella da scrivere")));
    parser.expectArguments(1, 1);
    if (!parser.parse())
        return Success;
    parser.require(QStringLiteral("o"));
    saveTable(csvTable(parser.positional().first()), parser.value(QStringLiteral("output")));
    return Success;
}

} // namespace tool
