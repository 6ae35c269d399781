// A ".dat" file as the operator may pick it: any bytes at all. Reading must
// stay inside the grid, fill whole rows in order and leave every data cell
// with exactly one byte; saving what was read and reading it back must give
// the same cells.
#include "tables/TableFile.h"
#include "fuzz/FuzzCheck.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer file(&content);
    file.open(QIODevice::ReadOnly);
    TableGrid grid;
    grid.fillData(QString(QChar(0)));
    bool readError = false;
    const int lines = editor::readTableLines(file, grid, &readError);
    fuzzCheck(lines >= 0 && lines <= editor::TableFileLines, "line count out of range");
    fuzzCheck(!readError, "a memory buffer cannot fail");
    for (int r = 1; r <= 128; ++r)
        for (int c = 1; c <= 26; ++c)
            fuzzCheck(grid.cell(c, r).size() == 1, "a data cell does not hold one byte");

    std::vector<int> replaced;
    QByteArray saved = editor::tableFileBytes(grid, &replaced);
    fuzzCheck(saved.size() == 128 * 28, "a saved table is not 128 lines of 28 bytes");
    fuzzCheck(replaced.empty(), "cells read from a file needed stand-ins");
    QBuffer again(&saved);
    again.open(QIODevice::ReadOnly);
    TableGrid reread;
    reread.fillData(QString(QChar(0)));
    fuzzCheck(editor::readTableLines(again, reread) == 128, "a saved table does not read back whole");
    fuzzCheck(reread.dataEquals(grid), "saved table reads back differently");
    return 0;
}
