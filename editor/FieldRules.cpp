#include "editor/FieldRules.h"

#include "device/GridLayout.h"

#include <algorithm>
#include <optional>

namespace editor {

namespace {

namespace header = layout::header;
namespace kolvar22 = layout::kolvar22;
using layout::Columns;
constexpr char Nothing = layout::cell::Nothing;
constexpr char Star = layout::cell::Star;
constexpr char Hash = layout::cell::Hash;
constexpr int HeaderRow = layout::HeaderRow;
constexpr int LastColumn = layout::RowCells.last;

// The time field that starts at `firstColumn`, if any.
std::optional<Columns> timeField(int firstColumn)
{
    if (firstColumn == kolvar22::StartTime.first)
        return kolvar22::StartTime;
    if (firstColumn == kolvar22::EndTime.first)
        return kolvar22::EndTime;
    return std::nullopt;
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isAssociationRow(int row)
{
    return row >= layout::FirstAssociationRow && row <= layout::LastAssociationRow;
}

void put(TableGrid& grid, int column, int row, QChar c)
{
    grid.setCell(column, row, QString(c));
}

void put(TableGrid& grid, int column, int row, char c)
{
    grid.setCell(column, row, c);
}

// Characters of `text` into the columns of `field` in `row`, one per cell;
// the cells the text does not reach get `filler`. Nothing past the field is
// written.
void writeField(TableGrid& grid, int row, Columns field, const QString& text, char filler)
{
    for (int c = field.first; c <= field.last; ++c) {
        const int i = c - field.first;
        if (i < text.size())
            put(grid, c, row, text.at(i));
        else
            put(grid, c, row, filler);
    }
}

void fillRow(TableGrid& grid, int row, Columns columns, char text)
{
    for (int c = columns.first; c <= columns.last; ++c)
        put(grid, c, row, text);
}

// The time boxes take only whole numbers; leading zeros do not count
// towards the size, so "00001" is 1 and never overflows.
bool isWholeNumber(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

bool aboveLatestTime(const QString& digits)
{
    int start = 0;
    while (start < digits.size() && digits.at(start) == QLatin1Char('0'))
        ++start;
    const QString significant = digits.mid(start);
    if (significant.size() > 4)
        return true;
    return significant.toInt() > 2400;
}

} // namespace

void managementChanged(TableGrid& grid, const QString& text)
{
    put(grid, header::ManagementColumn, HeaderRow, text == layout::Automatic ? header::Automatic : header::Manual);
    put(grid, header::FirstSeparatorColumn, HeaderRow, Hash);
    put(grid, header::SecondSeparatorColumn, HeaderRow, Hash);
}

void localPrefixReleased(TableGrid& grid, const QString& text)
{
    // The prefix, its "#" and the "-" after it stay before the beep and flash
    // cells; a longer text (only the program can put one in the box) is cut
    // there rather than overwrite them.
    const Columns written = header::LocalPrefixWritten;
    for (int c = written.first; c <= written.last; ++c) {
        const int i = c - written.first;
        if (i < text.size())
            put(grid, c, HeaderRow, text.at(i));
        else
            put(grid, c, HeaderRow, i == text.size() ? Hash : Nothing);
    }
    fillRow(grid, HeaderRow, header::Trailer, Nothing);
}

void beepFlashClicked(TableGrid& grid, bool beep, bool flash)
{
    put(grid, header::BeepColumn, HeaderRow, beep ? header::BeepOn : header::Off);
    put(grid, header::FlashColumn, HeaderRow, flash ? header::FlashOn : header::Off);
}

void prefixReleased(TableGrid& grid, int row, const QString& prefix, codec::Model model)
{
    if (!isAssociationRow(row))
        return;
    switch (model) {
    case codec::Model::Kolvar22:
        writeField(grid, row, kolvar22::Prefix, prefix, Star);
        break;
    case codec::Model::Kolvar1: {
        if (prefix.isEmpty()) {
            fillRow(grid, row, layout::RowCells, Nothing);
            break;
        }
        // Prefix digits, then the "*" that separates them from the code; the
        // code behind it is rewritten by the next key released in its box.
        const int n = std::min<int>(int(prefix.size()), LastColumn);
        for (int i = 0; i < n; ++i)
            put(grid, 1 + i, row, prefix.at(i));
        if (n + 1 <= LastColumn)
            put(grid, n + 1, row, Star);
        break;
    }
    case codec::Model::None:
        break;
    }
}

CodeResult codeReleased(TableGrid& grid, int row, const QString& code, const QString& prefix, codec::Model model)
{
    CodeResult result;
    switch (model) {
    case codec::Model::Kolvar22:
        if (!code.isEmpty()) {
            if (isAssociationRow(row))
                writeField(grid, row, kolvar22::Carrier, code, Star);
            break;
        }
        // An empty code box starts a new association: every time, every day,
        // the line left for the operator to choose.
        result.defaults = true;
        if (isAssociationRow(row)) {
            fillRow(grid, row, kolvar22::Carrier, Star);
            writeField(grid, row, kolvar22::StartTime, QStringLiteral("0000"), '0');
            writeField(grid, row, kolvar22::EndTime, QStringLiteral("2400"), '0');
            put(grid, kolvar22::DayTypeColumn, row, *layout::dayTypeCell(layout::Always));
            put(grid, kolvar22::SeparatorColumn, row, Star);
        }
        break;
    case codec::Model::Kolvar1: {
        if (!isAssociationRow(row))
            break;
        const int a = int(prefix.size());
        if (a == 0) {
            fillRow(grid, row, layout::RowCells, Star);
            break;
        }
        // The code follows the prefix and its "*": digits, "#", then "-" to the end.
        int c = a + 2;
        for (int i = 0; i < code.size() && c <= LastColumn; ++i, ++c)
            put(grid, c, row, code.at(i));
        if (c <= LastColumn)
            put(grid, c++, row, Hash);
        for (; c <= LastColumn; ++c)
            put(grid, c, row, Nothing);
        break;
    }
    case codec::Model::None:
        break;
    }
    return result;
}

TimeResult timeReleased(TableGrid& grid, int row, const QString& time, int firstColumn)
{
    TimeResult result;
    if (!time.isEmpty() && !isWholeNumber(time))
        return result; // "****" or "----" copied from the row: the operator erases them first
    QString left = time;
    if (!left.isEmpty() && aboveLatestTime(left)) {
        left.clear();
        result.clearBox = true;
        result.beep = true;
    }
    const std::optional<Columns> field = timeField(firstColumn);
    if (!isAssociationRow(row) || !field)
        return result;
    if (left.isEmpty())
        fillRow(grid, row, *field, Star);
    else
        writeField(grid, row, *field, left, '?');
    return result;
}

void clearAssociation(TableGrid& grid, int row)
{
    if (isAssociationRow(row))
        fillRow(grid, row, layout::RowCells, Nothing);
}

QString nextManagement(const QString& text)
{
    return text == layout::Automatic ? QString(layout::Manual) : QString(layout::Automatic);
}

QString nextPort(const QString& text)
{
    return text == QLatin1String("Com2") ? QStringLiteral("Com1") : QStringLiteral("Com2");
}

QString nextDayType(const QString& text)
{
    if (text == layout::Always)
        return layout::Holiday;
    if (text == layout::Holiday)
        return layout::WorkingDay;
    return layout::Always;
}

QString nextLine(const QString& text)
{
    if (text == QLatin1String("0"))
        return QStringLiteral("1");
    if (text == QLatin1String("1"))
        return QStringLiteral("2");
    return QStringLiteral("0");
}

} // namespace editor
