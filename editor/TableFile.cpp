#include "editor/TableFile.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QIODevice>
#include <QStringList>

#include <sys/stat.h>

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

// Reads a device in chunks, with look-ahead, and remembers whether it failed.
class ByteReader
{
public:
    explicit ByteReader(QIODevice& device)
        : device_(device)
    {
    }

    // True when at least `count` bytes are available from the current position.
    bool have(int count)
    {
        while (buffer_.size() - pos_ < count && !ended_) {
            if (pos_ > 0) {
                buffer_.remove(0, pos_);
                pos_ = 0;
            }
            char chunk[4096];
            const qint64 n = device_.read(chunk, sizeof chunk);
            if (n < 0)
                failed_ = true;
            if (n <= 0)
                ended_ = true;
            else
                buffer_.append(chunk, int(n));
        }
        return buffer_.size() - pos_ >= count;
    }
    // Byte at `offset` from the current position; have(offset + 1) first.
    char at(int offset) const { return buffer_.at(pos_ + offset); }
    void skip(int count) { pos_ += count; }
    bool failed() const { return failed_; }

private:
    QIODevice& device_;
    QByteArray buffer_;
    int pos_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

void putLine(TableGrid& grid, int row, const char* bytes, int count)
{
    for (int i = 0; i < TableFileLineLength; ++i) {
        const char b = i < count ? bytes[i] : '\0';
        grid.setCell(TableGrid::FirstDataColumn + i, row, QString(QChar(uchar(b))));
    }
}

QString systemText(const QFileDevice& file)
{
    const QString text = file.errorString();
    return text.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(text);
}

bool isPipeOrSocket(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
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

int readTableLines(QIODevice& device, TableGrid& grid, bool* readError)
{
    ByteReader in(device);
    int row = TableGrid::FirstDataRow;
    for (; row <= TableGrid::LastDataRow; ++row) {
        if (!in.have(1) || in.at(0) == EndOfFile)
            break;
        constexpr int Full = TableFileLineLength + 2;
        if (in.have(Full) && in.at(Full - 2) == Cr && in.at(Full - 1) == Lf) {
            char line[TableFileLineLength];
            for (int i = 0; i < TableFileLineLength; ++i)
                line[i] = in.at(i);
            putLine(grid, row, line, TableFileLineLength);
            in.skip(Full);
            continue;
        }
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
    if (readError)
        *readError = in.failed();
    return row - TableGrid::FirstDataRow;
}

SaveResult saveTableFile(const TableGrid& grid, const QString& path)
{
    SaveResult result;
    const QByteArray bytes = tableFileBytes(grid, &result.replacedRows);

    QFile file(path);
    // Opening a pipe for writing would wait for a reader with the window frozen.
    if (isPipeOrSocket(path)) {
        result.status = SaveResult::Status::CreateFailed;
        result.reason = QStringLiteral("non è un file");
        return result;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        result.status = SaveResult::Status::CreateFailed;
        result.reason = openReason(path, file, true);
        return result;
    }
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    const QString detail = systemText(file);
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        result.status = SaveResult::Status::WriteFailed;
        result.reason = QStringLiteral("errore di scrittura") + (detail.isEmpty() ? systemText(file) : detail);
    }
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

    grid.fillData(QString(QChar(0)));
    bool failed = false;
    result.linesRead = readTableLines(file, grid, &failed);
    if (failed) {
        result.status = LoadResult::Status::ReadFailed;
        result.reason = QStringLiteral("errore di lettura") + systemText(file);
    }
    return result;
}

QString saveFailedMessage(const QString& path, const SaveResult& result)
{
    const QString name = QDir::toNativeSeparators(path);
    if (result.status == SaveResult::Status::CreateFailed)
        return QStringLiteral("Impossibile creare il file \"%1\": %2.\nLa tabella non è stata salvata.")
            .arg(name, result.reason);
    return QStringLiteral("Impossibile scrivere il file \"%1\": %2.\nIl file è incompleto: la tabella non è stata salvata.")
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
    return QStringLiteral("Lettura del file \"%1\" interrotta: %2.\nSono state caricate solo le prime %3 righe.")
        .arg(name, result.reason)
        .arg(result.linesRead);
}

} // namespace editor
