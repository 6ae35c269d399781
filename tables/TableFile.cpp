#include "tables/TableFile.h"

#include <QFile>
#include <QSaveFile>
#include <QFileInfo>
#include <QDir>
#include <QIODevice>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace editor {

const QString TableFileFilter = QStringLiteral("Dat Files|*.dat|All Files|*.*");
const QString TableFileSuffix = QStringLiteral("dat");

namespace {

constexpr char Cr = '\r';
constexpr char Lf = '\n';
constexpr char EndOfFile = 0x1A;
// No table line is anywhere near this long; a file without line ends (a
// picture chosen by mistake) is still read in bounded pieces.
constexpr int LongestLine = 4096;

// The most a table file can hold that the reader ever looks at: 128 lines
// of at most LongestLine bytes and their LF. Anything beyond is never read,
// so a huge file chosen by mistake costs no more than this.
constexpr qint64 LongestTableFile = qint64(TableFileLines) * (LongestLine + 1);

// Reads the device to its end, or up to what a table file can hold. False
// when the device failed part-way: what was read then is not a table.
bool readWhole(QIODevice& device, QByteArray& bytes)
{
    bytes.clear();
    char chunk[4096];
    while (bytes.size() < LongestTableFile) {
        const qint64 n = device.read(chunk, std::min<qint64>(sizeof chunk, LongestTableFile - bytes.size()));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        bytes.append(chunk, int(n));
    }
    return true;
}

// Walks the bytes of a table file with look-ahead.
class ByteReader
{
public:
    explicit ByteReader(const QByteArray& bytes)
        : bytes_(bytes)
    {
    }

    // True when at least `count` bytes are left from the current position.
    bool have(int count) const { return bytes_.size() - pos_ >= count; }
    // Byte at `offset` from the current position; have(offset + 1) first.
    char at(int offset) const { return bytes_.at(pos_ + offset); }
    void skip(int count) { pos_ += count; }

private:
    const QByteArray& bytes_;
    qsizetype pos_ = 0;
};

void putLine(TableGrid& grid, int row, const char* bytes, int count)
{
    for (int i = 0; i < TableFileLineLength; ++i) {
        const char b = i < count ? bytes[i] : '\0';
        grid.setCell(TableGrid::FirstDataColumn + i, row, b); // shared one-byte texts: no allocation
    }
}

QString systemText(const QFileDevice& file)
{
    const QString text = file.errorString();
    return text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text);
}

// What a path names, links followed.
enum class FileKind { FileOrNothing, Folder, CharDevice, Other };

FileKind fileKind(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return FileKind::FileOrNothing;
    if (S_ISDIR(st.st_mode))
        return FileKind::Folder;
    if (S_ISCHR(st.st_mode))
        return FileKind::CharDevice;
    return FileKind::Other; // a pipe, a socket, a disk
}

// Why a file could not be opened, in the operator's words.
QString openReason(const QString& path, const QFileDevice& file, bool forWriting)
{
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("è una cartella");
    if (!info.exists()) {
        if (!forWriting)
            return QStringLiteral("il file non esiste");
        const QFileInfo folder(info.absolutePath());
        if (!folder.isDir())
            return QStringLiteral("la cartella \"%1\" non esiste").arg(QDir::toNativeSeparators(folder.filePath()));
        if (!folder.isWritable())
            return QStringLiteral("non è permesso scrivere nella cartella");
    } else if (forWriting ? !info.isWritable() : !info.isReadable()) {
        return QStringLiteral("accesso negato");
    }
    return QStringLiteral("errore del sistema") + systemText(file);
}

QString rowList(const std::vector<int>& rows)
{
    QStringList parts;
    QStringList numbers;
    for (int row : rows) {
        if (row == 1)
            parts << QStringLiteral("intestazione");
        else
            numbers << QString::number(row - 1);
    }
    if (!numbers.isEmpty())
        parts << (numbers.size() == 1 ? QStringLiteral("associazione ") : QStringLiteral("associazioni "))
                + numbers.join(QStringLiteral(", "));
    return parts.join(QStringLiteral("; "));
}

} // namespace

QByteArray tableFileBytes(const TableGrid& grid, std::vector<int>* replacedRows)
{
    QByteArray bytes;
    bytes.reserve(TableFileLines * (TableFileLineLength + 2));
    for (int r = TableGrid::FirstDataRow; r <= TableGrid::LastDataRow; ++r) {
        bool replaced = false;
        for (int c = TableGrid::FirstDataColumn; c <= TableGrid::LastDataColumn; ++c) {
            const QString& cell = grid.cell(c, r);
            if (cell.size() == 1 && cell.at(0).unicode() <= 0xFF) {
                bytes.append(char(cell.at(0).unicode()));
                continue;
            }
            // Every line keeps its 26 bytes so the file loads back cell for
            // cell. An empty cell stays "nothing"; a longer one (a byte the
            // box sent that no rule knows) must not turn into a different
            // value by losing digits, so it becomes a "?" no write accepts.
            bytes.append(cell.isEmpty() ? '\0' : '?');
            replaced = true;
        }
        bytes.append(Cr);
        bytes.append(Lf);
        if (replaced && replacedRows)
            replacedRows->push_back(r);
    }
    return bytes;
}

namespace {

// Puts the lines of a table file into grid rows 1, 2, ...; returns how many.
int putTableLines(const QByteArray& bytes, TableGrid& grid)
{
    ByteReader in(bytes);
    int row = TableGrid::FirstDataRow;
    for (; row <= TableGrid::LastDataRow; ++row) {
        if (!in.have(1))
            break;
        // A whole line is a row whatever its bytes, 0x1A first included (a
        // card's summary can put it there): only a short line ends the file
        // with it.
        constexpr int Full = TableFileLineLength + 2;
        if (in.have(Full) && in.at(Full - 2) == Cr && in.at(Full - 1) == Lf) {
            char line[TableFileLineLength];
            for (int i = 0; i < TableFileLineLength; ++i)
                line[i] = in.at(i);
            putLine(grid, row, line, TableFileLineLength);
            in.skip(Full);
            continue;
        }
        if (in.at(0) == EndOfFile)
            break;
        // A short or LF-ended line: up to its LF, the CR before it not a cell.
        char line[TableFileLineLength + 1];
        int length = 0;
        char last = 0;
        while (length < LongestLine && in.have(1) && in.at(0) != Lf) {
            last = in.at(0);
            if (length < int(sizeof line))
                line[length] = last;
            ++length;
            in.skip(1);
        }
        if (in.have(1) && in.at(0) == Lf)
            in.skip(1);
        if (length > 0 && last == Cr)
            --length;
        putLine(grid, row, line, std::min(length, TableFileLineLength));
    }
    return row - TableGrid::FirstDataRow;
}

} // namespace

int readTableLines(QIODevice& device, TableGrid& grid, bool* readError)
{
    QByteArray bytes;
    const bool whole = readWhole(device, bytes);
    if (readError)
        *readError = !whole;
    return whole ? putTableLines(bytes, grid) : 0;
}

SaveResult saveTableFile(const TableGrid& grid, const QString& path)
{
    SaveResult result;
    const QByteArray bytes = tableFileBytes(grid, &result.replacedRows);

    const FileKind kind = fileKind(path);
    // Opening a pipe for writing would wait for a reader with the window
    // frozen, and a disk is no place for a table.
    if (kind == FileKind::Other) {
        result.status = SaveResult::Status::CreateFailed;
        result.reason = QStringLiteral("non è un file");
        return result;
    }
    if (kind == FileKind::Folder) {
        result.status = SaveResult::Status::CreateFailed;
        result.reason = QStringLiteral("è una cartella");
        return result;
    }

    if (kind == FileKind::CharDevice) {
        // A device cannot be replaced: the bytes go straight to it.
        QFile device(path);
        if (!device.open(QIODevice::WriteOnly)) {
            result.status = SaveResult::Status::CreateFailed;
            result.reason = openReason(path, device, true);
            return result;
        }
        const bool written = device.write(bytes) == bytes.size() && device.flush();
        const QString detail = systemText(device);
        device.close();
        if (!written || device.error() != QFileDevice::NoError) {
            result.status = SaveResult::Status::WriteFailed;
            result.partial = true;
            result.reason = QStringLiteral("errore di scrittura") + (detail.isEmpty() ? systemText(device) : detail);
        }
        return result;
    }

    // The new table is written aside and takes the old one's place only when
    // it is complete: a full disk or a vanished stick leaves the operator's
    // previous table as it was.
    QSaveFile file(path);
    const AsideWrite written = writeFileAside(file, bytes);
    switch (written.status) {
    case AsideWrite::Status::Written:
        break;
    case AsideWrite::Status::OpenFailed:
        result.status = SaveResult::Status::CreateFailed;
        result.reason = openReason(path, file, true);
        break;
    case AsideWrite::Status::WriteFailed:
        result.status = SaveResult::Status::WriteFailed;
        result.reason = QStringLiteral("errore di scrittura")
            + (written.error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(written.error));
        break;
    case AsideWrite::Status::FolderUnsynced:
        result.status = SaveResult::Status::WriteFailed;
        result.unconfirmed = true;
        result.reason = written.error;
        break;
    }
    return result;
}

AsideWrite writeFileAside(QSaveFile& file, const QByteArray& bytes)
{
    AsideWrite result;
    const QString path = file.fileName();
    const bool existed = QFileInfo::exists(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.status = AsideWrite::Status::OpenFailed;
        result.error = file.errorString();
        return result;
    }
    // Flushed and synced here, not left to commit(): this Qt's commit()
    // ignores a failure of its final flush and of the sync, and would put a
    // cut-off file in the old one's place.
    int error = 0;
    if (file.write(bytes) != bytes.size() || !file.flush())
        error = -1;
    else if ((!existed && ::fchmod(file.handle(), 0600) != 0) || ::fsync(file.handle()) != 0)
        error = errno;
    if (error != 0 || !file.commit()) {
        // Not committed: the file aside goes away with `file`.
        result.status = AsideWrite::Status::WriteFailed;
        result.error = error > 0 ? QString::fromLocal8Bit(std::strerror(error)) : file.errorString();
        if (error != 0)
            file.cancelWriting();
        return result;
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        result.status = AsideWrite::Status::FolderUnsynced;
        result.error = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (fd >= 0)
        ::close(fd);
    return result;
}

LoadResult loadTableFile(TableGrid& grid, const QString& path)
{
    LoadResult result;
    QFile file(path);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        // A device or a pipe is no table file; a pipe would also block the window.
        result.status = LoadResult::Status::OpenFailed;
        result.reason = QStringLiteral("non è un file");
        return result;
    }
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        result.status = LoadResult::Status::OpenFailed;
        result.reason = openReason(path, file, false);
        return result;
    }

    // The whole file first: a stick or a share that fails part-way must not
    // leave the grid half old table, half new.
    QByteArray bytes;
    if (!readWhole(file, bytes)) {
        result.status = LoadResult::Status::ReadFailed;
        result.reason = QStringLiteral("errore di lettura") + systemText(file);
        return result;
    }
    grid.fillData(TableGrid::byteText(0));
    result.linesRead = putTableLines(bytes, grid);
    return result;
}

QString saveFailedMessage(const QString& path, const SaveResult& result)
{
    const QString name = QDir::toNativeSeparators(path);
    if (result.status == SaveResult::Status::CreateFailed)
        return QStringLiteral("Impossibile creare il file \"%1\": %2.\nLa tabella non è stata salvata.")
            .arg(name, result.reason);
    if (result.unconfirmed)
        return QStringLiteral("Il file \"%1\" è stato scritto, ma il disco non ha confermato di averlo registrato "
                              "(%2): dopo un'interruzione di corrente potrebbe tornare com'era.")
            .arg(name, result.reason);
    if (result.partial)
        return QStringLiteral("Impossibile scrivere il file \"%1\": %2.\nIl file è incompleto: la tabella non è stata salvata.")
            .arg(name, result.reason);
    return QStringLiteral("Impossibile scrivere il file \"%1\": %2.\nLa tabella non è stata salvata; "
                          "il file, se esisteva già, è rimasto com'era.")
        .arg(name, result.reason);
}
QString replacedCellsMessage(const std::vector<int>& rows)
{
    return QStringLiteral("La tabella è stata salvata, ma alcune celle non contenevano esattamente un carattere "
                          "e sono state scritte come un solo byte (una cella vuota come codice 0, le altre come \"?\").\n"
                          "Righe interessate: %1.")
        .arg(rowList(rows));
}

QString loadFailedMessage(const QString& path, const LoadResult& result)
{
    const QString name = QDir::toNativeSeparators(path);
    if (result.status == LoadResult::Status::OpenFailed)
        return QStringLiteral("Impossibile aprire il file \"%1\": %2.\nLa tabella non è stata modificata.")
            .arg(name, result.reason);
    return QStringLiteral("Lettura del file \"%1\" interrotta: %2.\nLa tabella non è stata modificata.")
        .arg(name, result.reason);
}

} // namespace editor
