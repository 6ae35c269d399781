#pragma once

#include "device/TableGrid.h"

#include <QByteArray>
#include <QString>

#include <vector>

class QIODevice;
class QSaveFile;

// The ".dat" table file: grid rows 1..128, the 26 data cells of each row as
// one byte per cell (Latin-1, unchanged), each row ended by CR LF. No header,
// no count, no end mark. A saved file is 128 x 28 = 3584 bytes.
namespace editor {

// What the file dialogs offer.
extern const QString TableFileFilter; // "Dat Files|*.dat|All Files|*.*"
extern const QString TableFileSuffix; // "dat"

constexpr int TableFileLines = 128;
constexpr int TableFileLineLength = 26;

struct SaveResult
{
    enum class Status {
        Saved,
        CreateFailed, // the file could not be created: nothing was written
        WriteFailed,  // not written whole: a file keeps what it held before
    };
    Status status = Status::Saved;
    // The bytes went straight to a device (not a file) and stopped part-way.
    bool partial = false;
    // The new file took the old one's place, but the disk did not confirm the
    // folder's new entry: a power cut may still bring the old one back.
    bool unconfirmed = false;
    QString reason; // why it failed, for the operator (Italian)
    // Grid rows (1 = header, n + 1 = association n) with a cell that did not
    // hold exactly one character of one byte, and so was saved as one
    // stand-in byte: code 0 for an empty cell, "?" for any other.
    std::vector<int> replacedRows;

    bool saved() const { return status == Status::Saved; }
};

struct LoadResult
{
    enum class Status {
        Loaded,
        OpenFailed, // the grid was not touched
        ReadFailed, // the file broke off: the grid was not touched either
    };
    Status status = Status::Loaded;
    QString reason;
    int linesRead = 0;

    bool loaded() const { return status == Status::Loaded; }
};

// The bytes of a table file for the grid; rows whose cells needed a stand-in
// byte are added to `replacedRows` (when given), each once, in order.
QByteArray tableFileBytes(const TableGrid& grid, std::vector<int>* replacedRows = nullptr);

// Reads the device whole first (no further than a table file can reach),
// then puts its lines into grid rows 1, 2, ... until the bytes end, a line
// that is not 26 bytes and CR LF starts with the byte 0x1A, or 128 lines are
// read; later lines are ignored. A line
// of 26 bytes and CR LF is taken as it stands, whatever its bytes; any other
// line runs to the next LF (a CR before it is the line end, not a cell), and
// only its first 26 bytes count. Cells a line does not reach get the code 0.
// Returns the number of lines read; `readError` tells whether the device
// failed part-way, and then the grid was not touched.
int readTableLines(QIODevice& device, TableGrid& grid, bool* readError = nullptr);

// A file of the operator's written whole aside, then put in its name's place.
struct AsideWrite
{
    enum class Status {
        Written,
        OpenFailed,      // nothing was written
        WriteFailed,     // the file aside went; a file by the name keeps what it held
        FolderUnsynced,  // in place, but the folder's new entry is not confirmed on disk
    };
    Status status = Status::Written;
    QString error; // the system's words, when it failed
};

// Writes `bytes` into `file` (a QSaveFile on the name, not yet open): synced
// before the rename and the folder synced after it. A file made new is for
// the user alone (0600): tables, books and their exports are customers'
// data. A file that exists keeps its mode.
AsideWrite writeFileAside(QSaveFile& file, const QByteArray& bytes);

// Creates (or replaces) `path` with the grid's table. A file is written aside
// and replaces the old one only when complete; a character device is written
// directly.
SaveResult saveTableFile(const TableGrid& grid, const QString& path);

// Opens and reads `path` whole first: if it cannot be opened or read the grid
// is left as it was. Otherwise every data cell is set to the code 0 and the
// lines are put in.
LoadResult loadTableFile(TableGrid& grid, const QString& path);

// Texts for the operator.
QString saveFailedMessage(const QString& path, const SaveResult& result);
QString replacedCellsMessage(const std::vector<int>& rows);
QString loadFailedMessage(const QString& path, const LoadResult& result);

} // namespace editor
