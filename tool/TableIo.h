#pragma once

#include "device/TableGrid.h"

#include <QString>

// Table files for the commands: loaded exactly as "Copia da file" loads them
// into a window just started, written exactly as "Salva su File" writes them.
namespace tool {

// A file error (exit 5) with the window's message when it cannot be read.
TableGrid loadTable(const QString& path);

// Written aside, synced and renamed over `path`.
void saveTable(const TableGrid& grid, const QString& path);

} // namespace tool
