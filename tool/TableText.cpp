#include "tool/TableText.h"

#include "device/GridLayout.h"
#include "editor/AssociationEditor.h"
#include "editor/FieldRules.h"

#include <algorithm>

namespace tool {

using fields::Field;

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
        return fields::filterKey(fields::KeyFilter::Digits, c) == fields::KeyVerdict::Accept && c.isDigit();
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

QString fieldName(Field field)
{
    return QString::fromUtf8(fields::describe(field).label);
}

QLatin1String fieldKey(Field field)
{
    return QLatin1String(fields::describe(field).key);
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
    text[Field::Model] = text.model != codec::Model::None ? modelName(text.model) : cellWord(marker, std::nullopt);

    const editor::HeaderBoxes boxes = editor::boxesForHeader(grid);
    text[Field::Management] = cellWord(grid.cell(header::ManagementColumn, HeaderRow), boxes.management);
    text[Field::LocalPrefix] = allNothing(grid, HeaderRow, header::LocalPrefixWritten)
        ? QString(QLatin1Char(Nothing))
        : editor::visibleText(boxes.localPrefix);
    text[Field::Beep] = onOff(grid.cell(header::BeepColumn, HeaderRow), header::BeepOn);
    text[Field::Flash] = onOff(grid.cell(header::FlashColumn, HeaderRow), header::FlashOn);

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
            a[Field::Prefix] = editor::joinCellsUntil(grid, r, kolvar1::Keys, layout::cell::Star, &star);
            a[Field::Carrier] =
                editor::joinCellsUntil(grid, r, { kolvar1::Keys.first + star + 1, kolvar1::Keys.last }, layout::cell::Hash);
            continue;
        }
        const editor::BoxFill fill = editor::boxesForAssociation(grid, n, rowModel);
        a[Field::Prefix] = fill[Field::Prefix].value_or(QString());
        a[Field::Carrier] = fill[Field::Carrier].value_or(QString());
        a[Field::StartTime] = timeText(fill[Field::StartTime]);
        a[Field::EndTime] = timeText(fill[Field::EndTime]);
        a[Field::DayType] = cellWord(grid.cell(kolvar22::DayTypeColumn, r), fill[Field::DayType]);
        a[Field::Line] = cellWord(grid.cell(kolvar22::LineColumn, r), fill[Field::Line]);
    }
    return text;
}

namespace {

std::optional<QString> headerProblem(const TableText& text, Field field)
{
    const QString& value = text[field];
    switch (field) {
    case Field::Model:
        if (text.model == codec::Model::None)
            return QStringLiteral("deve essere Kolvar22 o Kolvar1");
        return std::nullopt;
    case Field::Management:
        if (!value.isEmpty() && value != layout::Automatic && value != layout::Manual)
            return QStringLiteral("deve essere Automatica o Manuale");
        return std::nullopt;
    case Field::LocalPrefix:
        if (value == QLatin1String("-"))
            return std::nullopt;
        if (!digitsOnly(value))
            return QStringLiteral("può contenere solo cifre");
        // The prefix and its "#" end before the beep and flash cells.
        if (value.size() >= header::LocalPrefixWritten.width())
            return QStringLiteral("ha più di %1 cifre").arg(header::LocalPrefixWritten.width() - 1);
        return std::nullopt;
    case Field::Beep:
    case Field::Flash:
        if (text.model == codec::Model::Kolvar1 && !value.isEmpty())
            return QStringLiteral("non esiste sul Kolvar1");
        if (!value.isEmpty() && value != Yes && value != No)
            return QStringLiteral("deve essere Si o No");
        return std::nullopt;
    default:
        return std::nullopt;
    }
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

std::optional<QString> associationProblem(const AssociationText& a, codec::Model model, Field field)
{
    const QString& value = a[field];
    if (model == codec::Model::Kolvar1) {
        switch (field) {
        case Field::Prefix:
        case Field::Carrier:
            if (!digitsOnly(value))
                return QStringLiteral("può contenere solo cifre");
            // Prefix, "*", code and "#" share the sixteen keys of a record.
            if (a[Field::Prefix].size() + a[Field::Carrier].size() + 2 > kolvar1::Keys.width())
                return QStringLiteral("prefisso e gestore insieme superano %1 cifre").arg(kolvar1::Keys.width() - 2);
            return std::nullopt;
        default:
            if (!value.isEmpty())
                return QStringLiteral("non esiste sul Kolvar1");
            return std::nullopt;
        }
    }
    switch (field) {
    case Field::Prefix:
        if (!digitsOnly(value))
            return QStringLiteral("può contenere solo cifre");
        if (value.size() > kolvar22::Prefix.width())
            return QStringLiteral("ha più di %1 cifre").arg(kolvar22::Prefix.width());
        return std::nullopt;
    case Field::Carrier:
        if (!carrierKeysOnly(value))
            return QStringLiteral("può contenere solo cifre e il segno di fine #");
        if (value.size() > kolvar22::Carrier.width())
            return QStringLiteral("ha più di %1 caratteri").arg(kolvar22::Carrier.width());
        return std::nullopt;
    case Field::StartTime:
    case Field::EndTime:
        return timeProblem(value);
    case Field::DayType:
        if (!value.isEmpty() && !layout::dayTypeCell(value))
            return QStringLiteral("deve essere Sempre, Feriale o Festivo");
        return std::nullopt;
    case Field::Line:
        if (!value.isEmpty() && !layout::isLine(value))
            return QStringLiteral("deve essere 0, 1 o 2");
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

bool anyField(const AssociationText& a)
{
    return std::any_of(fields::AssociationFields.begin(), fields::AssociationFields.end(),
                       [&a](Field f) { return !a[f].isEmpty(); });
}

void putAssociation(TableGrid& grid, const AssociationText& a, codec::Model model)
{
    const int r = editor::associationRow(a.number);
    if (model == codec::Model::Kolvar1) {
        const QString keys = a[Field::Prefix] + QLatin1Char(layout::cell::Star) + a[Field::Carrier]
            + QLatin1Char(layout::cell::Hash);
        writeCells(grid, r, layout::RowCells, keys, Nothing);
        return;
    }
    writeCells(grid, r, kolvar22::Prefix, a[Field::Prefix], layout::cell::Star);
    writeCells(grid, r, kolvar22::Carrier, a[Field::Carrier], layout::cell::Star);
    writeCells(grid, r, kolvar22::StartTime, a[Field::StartTime], Nothing);
    writeCells(grid, r, kolvar22::EndTime, a[Field::EndTime], Nothing);
    // Day and line bring their separator and terminator, as their boxes write them.
    const QString& day = a[Field::DayType];
    if (!day.isEmpty())
        editor::dayTypeChanged(grid, r, day);
    const QString& line = a[Field::Line];
    if (!line.isEmpty())
        editor::lineChanged(grid, r, line);
}

} // namespace

std::optional<FieldProblem> fieldsToGrid(const TableText& text, TableGrid& grid)
{
    for (const Field field : fields::HeaderFields)
        if (std::optional<QString> reason = headerProblem(text, field))
            return FieldProblem{ 0, field, *reason };
    for (const AssociationText& a : text.associations) {
        if (a.number < 1 || a.number > codec::RecordCount)
            return FieldProblem{ a.number, std::nullopt, QStringLiteral("non è un numero da 1 a 127") };
        for (const Field field : fields::AssociationFields)
            if (std::optional<QString> reason = associationProblem(a, text.model, field))
                return FieldProblem{ a.number, field, *reason };
    }

    TableGrid table;
    table.fillData(QString(QLatin1Char(Nothing)));
    table.setCell(header::ModelColumn, HeaderRow,
                  text.model == codec::Model::Kolvar22 ? header::Kolvar22Marker : header::Kolvar1Marker);
    if (!text[Field::Management].isEmpty())
        editor::managementChanged(table, text[Field::Management]);
    if (text[Field::LocalPrefix] != QLatin1String("-"))
        editor::localPrefixReleased(table, text[Field::LocalPrefix]);
    if (!text[Field::Beep].isEmpty())
        table.setCell(header::BeepColumn, HeaderRow, text[Field::Beep] == Yes ? header::BeepOn : header::Off);
    if (!text[Field::Flash].isEmpty())
        table.setCell(header::FlashColumn, HeaderRow, text[Field::Flash] == Yes ? header::FlashOn : header::Off);
    for (const AssociationText& a : text.associations)
        if (anyField(a))
            putAssociation(table, a, text.model);
    grid.copyDataFrom(table);
    return std::nullopt;
}

FieldAt fieldAt(const TableGrid& grid, int column, int row)
{
    const Field field = fields::fieldAt(grid, column, row);
    return { row == HeaderRow ? 0 : row - 1, fields::describe(field).shownAs };
}

QString fieldPlace(int association, std::optional<Field> field)
{
    if (field && fields::isHeaderField(*field))
        return fieldName(*field);
    QString place = QStringLiteral("Associazione %1").arg(association);
    if (field)
        place += QStringLiteral(", ") + fieldName(*field);
    return place;
}

QString terminalText(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            shown += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace tool
