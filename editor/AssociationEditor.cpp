#include "editor/AssociationEditor.h"

#include <algorithm>
#include <climits>

namespace editor {

namespace {

// A cell holding the code 0 (rows a short file did not reach) shows nothing in a box.
QString visible(const QString& cell)
{
    QString text = cell;
    text.remove(QChar(0));
    return text;
}

// Cells first..last of `row` joined, stopping before the first cell that
// holds `stop`; `taken` counts the cells joined.
QString joinUntil(const TableGrid& grid, int row, int first, int last, QLatin1String stop, int* taken = nullptr)
{
    QString text;
    int count = 0;
    for (int c = first; c <= last; ++c) {
        const QString& cell = grid.cell(c, row);
        if (cell == stop)
            break;
        text += visible(cell);
        ++count;
    }
    if (taken)
        *taken = count;
    return text;
}

QString joinAll(const TableGrid& grid, int row, int first, int last)
{
    QString text;
    for (int c = first; c <= last; ++c)
        text += visible(grid.cell(c, row));
    return text;
}

} // namespace

int selectorValue(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (ok)
        return int(std::clamp<qlonglong>(value, INT_MIN, INT_MAX));
    // Digits too many for any integer still name an association the table does not have.
    const QString trimmed = text.trimmed();
    const bool digits = !trimmed.isEmpty()
        && std::all_of(trimmed.begin(), trimmed.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    return digits ? INT_MAX : 1;
}

int associationRow(int selector)
{
    if (selector < FirstAssociation || selector > LastAssociation)
        return 0;
    return selector + 1;
}

BoxFill boxesForAssociation(const TableGrid& grid, int selector, codec::Model model)
{
    BoxFill fill;
    const int r = associationRow(selector);
    if (r == 0 || grid.cell(1, r).isEmpty()) {
        fill.startTime = QString();
        fill.endTime = QString();
        fill.dayType = QString();
        fill.line = QString();
        return fill;
    }

    switch (model) {
    case codec::Model::Kolvar22: {
        fill.prefix = joinUntil(grid, r, 1, 6, QLatin1String("*"));
        fill.code = joinUntil(grid, r, 7, 14, QLatin1String("*"));
        fill.startTime = joinAll(grid, r, 15, 18);
        fill.endTime = joinAll(grid, r, 19, 22);

        const QString& day = grid.cell(23, r);
        if (day == QLatin1String("0"))
            fill.dayType = QStringLiteral("Sempre");
        else if (day == QLatin1String("1"))
            fill.dayType = QStringLiteral("Feriale");
        else if (day == QLatin1String("2"))
            fill.dayType = QStringLiteral("Festivo");
        else if (day == QLatin1String("-"))
            fill.dayType = QString();

        const QString& line = grid.cell(25, r);
        if (line == QLatin1String("0") || line == QLatin1String("1") || line == QLatin1String("2"))
            fill.line = line;
        else if (line == QLatin1String("-"))
            fill.line = QString();
        break;
    }
    case codec::Model::Kolvar1: {
        // Prefix digits up to the "*", the code after it up to the "#".
        int p = 0;
        fill.prefix = joinUntil(grid, r, 1, 7, QLatin1String("*"), &p);
        fill.code = joinUntil(grid, r, p + 2, 15, QLatin1String("#"));
        fill.startTime = QString();
        fill.endTime = QString();
        break;
    }
    case codec::Model::None:
        break;
    }
    return fill;
}

void rewriteRowNumbers(TableGrid& grid)
{
    for (int r = 2; r <= TableGrid::LastDataRow; ++r)
        grid.setCell(0, r, QString::number(r - 1));
}

codec::Model modelAfterMarkerClick(const TableGrid& grid)
{
    return codec::modelOf(grid) == codec::Model::Kolvar22 ? codec::Model::Kolvar1 : codec::Model::Kolvar22;
}

} // namespace editor
