#pragma once

#include "device/TableGrid.h"

#include <QDateTime>
#include <QString>

// Every table read from a box or about to be written to one is kept as a
// ".dat" table file, so an operator who wrote a wrong table can put back the
// one that was there ("Copia da file"). Files are named by local date and
// time, direction and model:
//   2026-12-07_14-03-22_read_Kolvar22.dat
// a second one in the same second gets "_2", "_3", ... before ".dat".
namespace editor {

enum class BackupDirection { Read, Write };

constexpr int BackupsKept = 500;

// $XDG_DATA_HOME/pradix/backups (an absolute XDG_DATA_HOME only), else
// ~/.local/share/pradix/backups.
QString backupFolder();

// Writes the table beside its final name and renames it there, then deletes
// the oldest files of this naming beyond the newest `keep` (no other file in
// the folder is touched). Never shows anything and never throws: a failure
// prints one line on stderr and the result is empty; otherwise it is the path
// of the new file. Cheap enough to call right before a transfer (one small
// file and one listing of the folder).
QString keepTableBackup(const TableGrid& grid, BackupDirection direction, const QString& folder = backupFolder(),
                        int keep = BackupsKept, const QDateTime& now = QDateTime::currentDateTime());
// The same in the usual folder, with why no backup was kept in `failure`
// (left as it was when the backup is kept), for a front end that tells the operator.
QString keepTableBackup(const TableGrid& grid, BackupDirection direction, QString& failure);

} // namespace editor
