#include "tool/TableIo.h"

#include "tables/TableFile.h"
#include "tool/ToolFrame.h"


namespace tool {

TableGrid loadTable(const QString& path)
{
    // A window just started shows "-" in every data cell; the load then
    // replaces them all.
    TableGrid grid;
    grid.fillData(QStringLiteral("-"));
    const editor::LoadResult result = editor::loadTableFile(grid, path);
    if (!result.loaded())
        // The window's message without its second line, which speaks of the window's grid.
        fail(FileError, editor::loadFailedMessage(path, result).section(QLatin1Char('\n'), 0, 0));
    return grid;
}

void saveTable(const TableGrid& grid, const QString& path)
{
    // Every table saved here comes from field texts or a card's summary: one
    // byte per cell, so nothing is replaced on the way.
    writeFileWhole(path, editor::tableFileBytes(grid));
}

} // namespace tool
