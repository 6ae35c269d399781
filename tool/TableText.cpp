#include "tool/TableText.h"

#include "device/GridLayout.h"
#include "editor/AssociationEditor.h"
#include "editor/FieldRules.h"

#include <algorithm>

namespace tool {

namespace {

namespace header = layout::header;
namespace kolvar22 = layout::kolvar22;
namespace kolvar1 = layout::kolvar1;
using layout::Columns;
constexpr int HeaderRow = layout::HeaderRow;
constexpr char Nothing = layout::cell::Nothing;

const QString Yes = QStringLiteral("Si");
const QString No = QStringLiteral("No");

bool allNothing(const TableGrid& grid, int row, Columns columns)
{
    for (int c = columns.first; c <= columns.last; ++c)
        if (!layout::cell::holds(grid.cell(c, row), Nothing))
            return false;
    return true;
}

// The text of a one-cell field: its word, nothing for "-", else the cell.
QString cellWord(const QString& cell, std::optional<QString> word)
{
    if (word)
        return *word;
    return layout::cell::holds(cell, Nothing) ? QString() : editor::visibleText(cell);
}

QString onOff(const QString& cell, char on)
{
    if (layout::cell::holds(cell, on))
        return Yes;
    if (layout::cell::holds(cell, header::Off))
        return No;
    return cellWord(cell, std::nullopt);
}

bool usedRow(const TableGrid& grid, int row)
{
    if (layout::cell::holds(grid.cell(1, row), Nothing))
        return false;
    // A row a short file did not reach holds only the code 0: nothing to read.
    for (int c = layout::RowCells.first; c <= layout::RowCells.last; ++c) {
        const QString text = editor::visibleText(grid.cell(c, row));
        if (!text.isEmpty() && text != QLatin1String("-"))
            return true;
    }
    return false;
}

QString timeText(const std::optional<QString>& box)
{
    const QString text = box.value_or(QString());
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == QLatin1Char(Nothing); }) ? QString() : text;
}

bool digitsOnly(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return editor::filterKey(editor::KeyFilter::Digits, c) == editor::KeyVerdict::Accept && c.isDigit();
    });
}

// A carrier code as a box shows it: digits and the "#" end mark a box may
// hold. A "*" ends what a box shows, so none can stand inside the code.
bool carrierKeysOnly(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char(layout::cell::Hash);
    });
}

void writeCells(TableGrid& grid, int row, Columns columns, const QString& text, char filler)
{
    for (int c = columns.first; c <= columns.last; ++c) {
        const int i = c - columns.first;
        grid.setCell(c, row, i < text.size() ? QString(text.at(i)) : QString(QLatin1Char(filler)));
    }
}

} // namespace

QString fieldName(HeaderField field)
{
    switch (field) {
    case HeaderField::Model: return QStringLiteral("Modello");
    case HeaderField::Management: return QStringLiteral("Gestione");
    case HeaderField::LocalPrefix: return QStringLiteral("Prefisso Locale");
    case HeaderField::Beep: return QStringLiteral("Beep");
    case HeaderField::Flash: return QStringLiteral("Flash");
    }
    return QString();
}

QString fieldName(AssociationField field)
{
    switch (field) {
    case AssociationField::Prefix: return QStringLiteral("Prefisso");
    case AssociationField::Carrier: return QStringLiteral("Gestore");
    case AssociationField::Start: return QStringLiteral("Dalle");
    case AssociationField::End: return QStringLiteral("Alle");
    case AssociationField::Day: return QStringLiteral("Giorno");
    case AssociationField::Line: return QStringLiteral("Linea");
    }
    return QString();
}

const char* fieldKey(HeaderField field)
{
    switch (field) {
    case HeaderField::Model: return "model";
    case HeaderField::Management: return "management";
    case HeaderField::LocalPrefix: return "local_prefix";
    case HeaderField::Beep: return "beep";
    case HeaderField::Flash: return "flash";
    }
    return "";
}

const char* fieldKey(AssociationField field)
{
    switch (field) {
    case AssociationField::Prefix: return "prefix";
    case AssociationField::Carrier: return "carrier";
    case AssociationField::Start: return "start";
    case AssociationField::End: return "end";
    case AssociationField::Day: return "day";
    case AssociationField::Line: return "line";
    }
    return "";
}

QString modelName(codec::Model model)
{
    switch (model) {
    case codec::Model::Kolvar22: return QStringLiteral("Kolvar22");
    case codec::Model::Kolvar1: return QStringLiteral("Kolvar1");
    case codec::Model::None: break;
    }
    return QString();
}

int TableText::usedCount() const
{
    return int(std::count_if(associations.begin(), associations.end(), [](const AssociationText& a) { return a.used; }));
}

TableText tableText(const TableGrid& grid)
{
    TableText text;
    text.model = codec::modelOf(grid);
    const QString& marker = grid.cell(header::ModelColumn, HeaderRow);
    text[HeaderField::Model] = text.model != codec::Model::None ? modelName(text.model) : cellWord(marker, std::nullopt);

    const editor::HeaderBoxes boxes = editor::boxesForHeader(grid);
    text[HeaderField::Management] = cellWord(grid.cell(header::ManagementColumn, HeaderRow), boxes.management);
    text[HeaderField::LocalPrefix] = allNothing(grid, HeaderRow, header::LocalPrefixWritten)
        ? QString(QLatin1Char(Nothing))
        : editor::visibleText(boxes.localPrefix);
    text[HeaderField::Beep] = onOff(grid.cell(header::BeepColumn, HeaderRow), header::BeepOn);
    text[HeaderField::Flash] = onOff(grid.cell(header::FlashColumn, HeaderRow), header::FlashOn);

    // A table without a model is read as a Kolvar22 one, as the window shows it.
    const codec::Model rowModel = text.model == codec::Model::None ? codec::Model::Kolvar22 : text.model;
    text.associations.resize(codec::RecordCount);
    for (int n = 1; n <= codec::RecordCount; ++n) {
        AssociationText& a = text.associations[size_t(n - 1)];
        a.number = n;
        const int r = editor::associationRow(n);
        a.used = usedRow(grid, r);
        if (!a.used)
            continue;
        if (rowModel == codec::Model::Kolvar1) {
            // The whole key string: the window's boxes show only its first
            // cells, and a box may hold a prefix longer than they do.
            int star = 0;
            a[AssociationField::Prefix] = editor::joinCellsUntil(grid, r, kolvar1::Keys, layout::cell::Star, &star);
            a[AssociationField::Carrier] =
                editor::joinCellsUntil(grid, r, { kolvar1::Keys.first + star + 1, kolvar1::Keys.last }, layout::cell::Hash);
            continue;
        }
        const editor::BoxFill fill = editor::boxesForAssociation(grid, n, rowModel);
        a[AssociationField::Prefix] = fill.prefix;
        a[AssociationField::Carrier] = fill.code;
        a[AssociationField::Start] = timeText(fill.startTime);
        a[AssociationField::End] = timeText(fill.endTime);
        a[AssociationField::Day] = cellWord(grid.cell(kolvar22::DayTypeColumn, r), fill.dayType);
        a[AssociationField::Line] = cellWord(grid.cell(kolvar22::LineColumn, r), fill.line);
    }
    return text;
}

namespace {

std::optional<QString> headerProblem(const TableText& text, HeaderField field)
{
    const QString& value = text[field];
    switch (field) {
    case HeaderField::Model:
        if (text.model == codec::Model::None)
            return QStringLiteral("deve essere Kolvar22 o Kolvar1");
        return std::nullopt;
    case HeaderField::Management:
        if (!value.isEmpty() && value != layout::Automatic && value != layout::Manual)
            return QStringLiteral("deve essere Automatica o Manuale");
        return std::nullopt;
    case HeaderField::LocalPrefix:
        if (value == QLatin1String("-"))
            return std::nullopt;
        if (!digitsOnly(value))
            return QStringLiteral("può contenere solo cifre");
        // The prefix and its "#" end before the beep and flash cells.
        if (value.size() >= header::LocalPrefixWritten.width())
            return QStringLiteral("ha più di %1 cifre").arg(header::LocalPrefixWritten.width() - 1);
        return std::nullopt;
    case HeaderField::Beep:
    case HeaderField::Flash:
        if (text.model == codec::Model::Kolvar1 && !value.isEmpty())
            return QStringLiteral("non esiste sul Kolvar1");
        if (!value.isEmpty() && value != Yes && value != No)
            return QStringLiteral("deve essere Si o No");
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QString> timeProblem(const QString& value)
{
    if (value.isEmpty())
        return std::nullopt;
    if (value.size() != 4 || !digitsOnly(value))
        return QStringLiteral("deve avere quattro cifre (per esempio 0830)");
    if (value.toInt() > 2400)
        return QStringLiteral("supera 2400");
    return std::nullopt;
}

std::optional<QString> associationProblem(const AssociationText& a, codec::Model model, AssociationField field)
{
    const QString& value = a[field];
    if (model == codec::Model::Kolvar1) {
        switch (field) {
        case AssociationField::Prefix:
        case AssociationField::Carrier:
            if (!digitsOnly(value))
                return QStringLiteral("può contenere solo cifre");
            // Prefix, "*", code and "#" share the sixteen keys of a record.
            if (a[AssociationField::Prefix].size() + a[AssociationField::Carrier].size() + 2 > kolvar1::Keys.width())
                return QStringLiteral("prefisso e gestore insieme superano %1 cifre").arg(kolvar1::Keys.width() - 2);
            return std::nullopt;
        default:
            if (!value.isEmpty())
                return QStringLiteral("non esiste sul Kolvar1");
            return std::nullopt;
        }
    }
    switch (field) {
    case AssociationField::Prefix:
        if (!digitsOnly(value))
            return QStringLiteral("può contenere solo cifre");
        if (value.size() > kolvar22::Prefix.width())
            return QStringLiteral("ha più di %1 cifre").arg(kolvar22::Prefix.width());
        return std::nullopt;
    case AssociationField::Carrier:
        if (!carrierKeysOnly(value))
            return QStringLiteral("può contenere solo cifre e il segno di fine #");
        if (value.size() > kolvar22::Carrier.width())
            return QStringLiteral("ha più di %1 caratteri").arg(kolvar22::Carrier.width());
        return std::nullopt;
    case AssociationField::Start:
    case AssociationField::End:
        return timeProblem(value);
    case AssociationField::Day:
        if (!value.isEmpty() && !layout::dayTypeCell(value))
            return QStringLiteral("deve essere Sempre, Feriale o Festivo");
        return std::nullopt;
    case AssociationField::Line:
        if (!value.isEmpty() && !layout::isLine(value))
            return QStringLiteral("deve essere 0, 1 o 2");
        return std::nullopt;
    }
    return std::nullopt;
}

bool anyField(const AssociationText& a)
{
    return std::any_of(a.fields.begin(), a.fields.end(), [](const QString& f) { return !f.isEmpty(); });
}

void putAssociation(TableGrid& grid, const AssociationText& a, codec::Model model)
{
    const int r = editor::associationRow(a.number);
    if (model == codec::Model::Kolvar1) {
        const QString keys = a[AssociationField::Prefix] + QLatin1Char(layout::cell::Star) + a[AssociationField::Carrier]
            + QLatin1Char(layout::cell::Hash);
        writeCells(grid, r, layout::RowCells, keys, Nothing);
        return;
    }
    writeCells(grid, r, kolvar22::Prefix, a[AssociationField::Prefix], layout::cell::Star);
    writeCells(grid, r, kolvar22::Carrier, a[AssociationField::Carrier], layout::cell::Star);
    writeCells(grid, r, kolvar22::StartTime, a[AssociationField::Start], Nothing);
    writeCells(grid, r, kolvar22::EndTime, a[AssociationField::End], Nothing);
    // Day and line bring their separator and terminator, as their boxes write them.
    const QString& day = a[AssociationField::Day];
    if (!day.isEmpty())
        editor::dayTypeChanged(grid, r, day);
    const QString& line = a[AssociationField::Line];
    if (!line.isEmpty())
        editor::lineChanged(grid, r, line);
}

} // namespace

std::optional<FieldProblem> fieldsToGrid(const TableText& text, TableGrid& grid)
{
    for (int i = 0; i < HeaderFieldCount; ++i) {
        const auto field = HeaderField(i);
        if (std::optional<QString> reason = headerProblem(text, field))
            return FieldProblem{ 0, field, std::nullopt, *reason };
    }
    for (const AssociationText& a : text.associations) {
        if (a.number < 1 || a.number > codec::RecordCount)
            return FieldProblem{ a.number, std::nullopt, std::nullopt, QStringLiteral("non è un numero da 1 a 127") };
        for (int i = 0; i < AssociationFieldCount; ++i) {
            const auto field = AssociationField(i);
            if (std::optional<QString> reason = associationProblem(a, text.model, field))
                return FieldProblem{ a.number, std::nullopt, field, *reason };
        }
    }

    TableGrid table;
    table.fillData(QString(QLatin1Char(Nothing)));
    table.setCell(header::ModelColumn, HeaderRow,
                  text.model == codec::Model::Kolvar22 ? header::Kolvar22Marker : header::Kolvar1Marker);
    if (!text[HeaderField::Management].isEmpty())
        editor::managementChanged(table, text[HeaderField::Management]);
    if (text[HeaderField::LocalPrefix] != QLatin1String("-"))
        editor::localPrefixReleased(table, text[HeaderField::LocalPrefix]);
    if (!text[HeaderField::Beep].isEmpty())
        table.setCell(header::BeepColumn, HeaderRow, text[HeaderField::Beep] == Yes ? header::BeepOn : header::Off);
    if (!text[HeaderField::Flash].isEmpty())
        table.setCell(header::FlashColumn, HeaderRow, text[HeaderField::Flash] == Yes ? header::FlashOn : header::Off);
    for (const AssociationText& a : text.associations)
        if (anyField(a))
            putAssociation(table, a, text.model);
    grid.copyDataFrom(table);
    return std::nullopt;
}

FieldAt fieldAt(const TableGrid& grid, int column, int row)
{
    FieldAt at;
    if (row == HeaderRow) {
        if (column == header::ModelColumn)
            at.header = HeaderField::Model;
        else if (column <= header::SecondSeparatorColumn)
            at.header = HeaderField::Management;
        else if (column == header::BeepColumn)
            at.header = HeaderField::Beep;
        else if (column == header::FlashColumn)
            at.header = HeaderField::Flash;
        else
            at.header = HeaderField::LocalPrefix;
        return at;
    }
    at.association = row - 1;
    if (codec::modelOf(grid) == codec::Model::Kolvar1) {
        int star = kolvar1::Keys.last + 1;
        for (int c = kolvar1::Keys.first; c <= kolvar1::Keys.last; ++c)
            if (layout::cell::holds(grid.cell(c, row), layout::cell::Star)) {
                star = c;
                break;
            }
        at.field = column < star ? AssociationField::Prefix : AssociationField::Carrier;
        return at;
    }
    if (kolvar22::Prefix.contains(column))
        at.field = AssociationField::Prefix;
    else if (kolvar22::Carrier.contains(column))
        at.field = AssociationField::Carrier;
    else if (kolvar22::StartTime.contains(column))
        at.field = AssociationField::Start;
    else if (kolvar22::EndTime.contains(column))
        at.field = AssociationField::End;
    else if (column <= kolvar22::SeparatorColumn)
        at.field = AssociationField::Day;
    else
        at.field = AssociationField::Line;
    return at;
}

QString fieldPlace(int association, std::optional<HeaderField> header, std::optional<AssociationField> field)
{
    if (header)
        return fieldName(*header);
    QString place = QStringLiteral("Associazione %1").arg(association);
    if (field)
        place += QStringLiteral(", ") + fieldName(*field);
    return place;
}

} // namespace tool
