#include "editor/FieldRules.h"

#include <algorithm>

namespace editor {

namespace {

constexpr QChar Backspace(8);
constexpr QChar Enter(13);

// Columns of one association row.
constexpr int PrefixFirst = 1;
constexpr int PrefixLast = 6;
constexpr int CodeFirst = 7;
constexpr int CodeLast = 14;
constexpr int TimeWidth = 4;
constexpr int DayTypeColumn = 23;
constexpr int SeparatorColumn = 24;
constexpr int LineColumn = 25;
constexpr int TerminatorColumn = 26;
constexpr int LastColumn = TableGrid::LastDataColumn;

// Header row: the local prefix may run up to the cell before beep and flash.
constexpr int LocalPrefixFirst = 5;
constexpr int LocalPrefixLast = 14;
constexpr int BeepColumn = 15;
constexpr int FlashColumn = 16;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isAssociationRow(int row)
{
    return row >= 2 && row <= TableGrid::LastDataRow;
}

void put(TableGrid& grid, int column, int row, QChar c)
{
    grid.setCell(column, row, QString(c));
}

void put(TableGrid& grid, int column, int row, char c)
{
    grid.setCell(column, row, c);
}

// Characters of `text` into columns first..last of `row`, one per cell; the
// cells the text does not reach get `filler`. Nothing past `last` is written.
void writeField(TableGrid& grid, int row, int first, int last, const QString& text, char filler)
{
    for (int c = first; c <= last; ++c) {
        const int i = c - first;
        if (i < text.size())
            put(grid, c, row, text.at(i));
        else
            put(grid, c, row, filler);
    }
}

void fillRow(TableGrid& grid, int row, int first, int last, char text)
{
    for (int c = first; c <= last; ++c)
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

KeyVerdict filterKey(KeyFilter filter, QChar typed)
{
    switch (filter) {
    case KeyFilter::Digits:
        return typed == Backspace || isDigit(typed) ? KeyVerdict::Accept : KeyVerdict::Drop;
    case KeyFilter::LocalPrefix:
        return typed == Backspace || typed == Enter || isDigit(typed) ? KeyVerdict::Accept : KeyVerdict::Drop;
    case KeyFilter::Refuse:
        return KeyVerdict::Drop;
    case KeyFilter::Line:
        return typed == QLatin1Char('0') || typed == QLatin1Char('1') || typed == QLatin1Char('2')
            ? KeyVerdict::Accept
            : KeyVerdict::TypeZero;
    case KeyFilter::Any:
        break;
    }
    return KeyVerdict::Accept;
}

void managementChanged(TableGrid& grid, const QString& text)
{
    put(grid, 3, 1, text == QLatin1String("Automatica") ? 'A' : 'M');
    put(grid, 2, 1, '#');
    put(grid, 4, 1, '#');
}

void localPrefixReleased(TableGrid& grid, const QString& text)
{
    // The prefix, its "#" and the "-" after it stay before the beep and flash
    // cells; a longer text (only the program can put one in the box) is cut
    // there rather than overwrite them.
    for (int c = LocalPrefixFirst; c <= LocalPrefixLast; ++c) {
        const int i = c - LocalPrefixFirst;
        if (i < text.size())
            put(grid, c, 1, text.at(i));
        else
            put(grid, c, 1, i == text.size() ? '#' : '-');
    }
    fillRow(grid, 1, FlashColumn + 1, LastColumn, '-');
}

void beepFlashClicked(TableGrid& grid, bool beep, bool flash)
{
    put(grid, BeepColumn, 1, beep ? 'B' : '0');
    put(grid, FlashColumn, 1, flash ? 'F' : '0');
}

void prefixReleased(TableGrid& grid, int row, const QString& prefix, codec::Model model)
{
    if (!isAssociationRow(row))
        return;
    switch (model) {
    case codec::Model::Kolvar22:
        writeField(grid, row, PrefixFirst, PrefixLast, prefix, '*');
        break;
    case codec::Model::Kolvar1: {
        if (prefix.isEmpty()) {
            fillRow(grid, row, 1, LastColumn, '-');
            break;
        }
        // Prefix digits, then the "*" that separates them from the code; the
        // code behind it is rewritten by the next key released in its box.
        const int n = std::min<int>(int(prefix.size()), LastColumn);
        for (int i = 0; i < n; ++i)
            put(grid, 1 + i, row, prefix.at(i));
        if (n + 1 <= LastColumn)
            put(grid, n + 1, row, '*');
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
                writeField(grid, row, CodeFirst, CodeLast, code, '*');
            break;
        }
        // An empty code box starts a new association: every time, every day,
        // the line left for the operator to choose.
        result.defaults = true;
        if (isAssociationRow(row)) {
            fillRow(grid, row, CodeFirst, CodeLast, '*');
            writeField(grid, row, StartTimeColumn, StartTimeColumn + TimeWidth - 1, QStringLiteral("0000"), '0');
            writeField(grid, row, EndTimeColumn, EndTimeColumn + TimeWidth - 1, QStringLiteral("2400"), '0');
            put(grid, DayTypeColumn, row, '0');
            put(grid, SeparatorColumn, row, '*');
        }
        break;
    case codec::Model::Kolvar1: {
        if (!isAssociationRow(row))
            break;
        const int a = int(prefix.size());
        if (a == 0) {
            fillRow(grid, row, 1, LastColumn, '*');
            break;
        }
        // The code follows the prefix and its "*": digits, "#", then "-" to the end.
        int c = a + 2;
        for (int i = 0; i < code.size() && c <= LastColumn; ++i, ++c)
            put(grid, c, row, code.at(i));
        if (c <= LastColumn)
            put(grid, c++, row, '#');
        for (; c <= LastColumn; ++c)
            put(grid, c, row, '-');
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
    if (!isAssociationRow(row) || (firstColumn != StartTimeColumn && firstColumn != EndTimeColumn))
        return result;
    const int last = firstColumn + TimeWidth - 1;
    if (left.isEmpty())
        fillRow(grid, row, firstColumn, last, '*');
    else
        writeField(grid, row, firstColumn, last, left, '?');
    return result;
}

void dayTypeChanged(TableGrid& grid, int row, const QString& text)
{
    if (!isAssociationRow(row) || text.isEmpty())
        return;
    if (text == QLatin1String("Festivo"))
        put(grid, DayTypeColumn, row, '2');
    else if (text == QLatin1String("Feriale"))
        put(grid, DayTypeColumn, row, '1');
    else if (text == QLatin1String("Sempre"))
        put(grid, DayTypeColumn, row, '0');
    put(grid, SeparatorColumn, row, '*');
}

void lineChanged(TableGrid& grid, int row, const QString& text)
{
    if (!isAssociationRow(row) || text.isEmpty())
        return;
    if (text == QLatin1String("0") || text == QLatin1String("1") || text == QLatin1String("2"))
        grid.setCell(LineColumn, row, text);
    put(grid, TerminatorColumn, row, '#');
}

void clearAssociation(TableGrid& grid, int row)
{
    if (isAssociationRow(row))
        fillRow(grid, row, 1, LastColumn, '-');
}

QString nextManagement(const QString& text)
{
    return text == QLatin1String("Automatica") ? QStringLiteral("Manuale") : QStringLiteral("Automatica");
}

QString nextPort(const QString& text)
{
    return text == QLatin1String("Com2") ? QStringLiteral("Com1") : QStringLiteral("Com2");
}

QString nextDayType(const QString& text)
{
    if (text == QLatin1String("Sempre"))
        return QStringLiteral("Festivo");
    if (text == QLatin1String("Festivo"))
        return QStringLiteral("Feriale");
    return QStringLiteral("Sempre");
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
