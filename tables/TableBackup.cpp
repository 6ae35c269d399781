#include "tables/TableBackup.h"

#include "tables/TableFile.h"

#include "device/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace editor {
namespace {

// Date, time, direction, model and an optional number for a second file in the same second.
const QRegularExpression& backupName()
{
    static const QRegularExpression name(QStringLiteral(
        "^(\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d)_(?:read|write)_(?:Kolvar22|Kolvar1|none)(?:_(\\d{1,6}))?\\.dat$"));
    return name;
}

QString modelName(const TableGrid& grid)
{
    const QString& marker = grid.cell(1, 1);
    if (marker == QLatin1String("U"))
        return QStringLiteral("Kolvar22");
    if (marker == QLatin1String("Y"))
        return QStringLiteral("Kolvar1");
    return QStringLiteral("none");
}

// Moves `from` to `to` unless `to` exists (then false with EEXIST).
bool renameNew(const QByteArray& from, const QByteArray& to)
{
    if (renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system that cannot rename without replacing.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return true;
    }
    if (errno == EEXIST)
        return false;
    if (QFile::exists(QFile::decodeName(to))) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

// Deletes the oldest backups beyond the newest `keep`, counting `kept`, the
// one just written, among them whatever its date says (a clock once set
// ahead leaves later names behind): it is never deleted itself.
void prune(const QString& folder, int keep, const QString& kept)
{
    struct Entry
    {
        QString stamp;
        int number;
        QString name;
    };
    std::vector<Entry> entries;
    const QStringList names = QDir(folder).entryList({ QStringLiteral("*.dat") }, QDir::Files, QDir::NoSort);
    for (const QString& name : names) {
        const QRegularExpressionMatch m = backupName().match(name);
        if (m.hasMatch() && name != kept)
            entries.push_back({ m.captured(1), m.captured(2).isEmpty() ? 1 : m.captured(2).toInt(), name });
    }
    const int others = keep - 1;
    if (int(entries.size()) <= others)
        return;
    // The names carry the time; a number counts the files of one second.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.stamp != b.stamp)
            return a.stamp < b.stamp;
        if (a.number != b.number)
            return a.number < b.number;
        return a.name < b.name;
    });
    const std::size_t excess = entries.size() - std::size_t(others);
    for (std::size_t i = 0; i < excess; ++i)
        QFile::remove(folder + QLatin1Char('/') + entries[i].name);
}

// Makes a rename lasting: the folder's entry is on disk once this returns.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Scratch copies that a crash left behind. One still being written by
// another Pradix is seconds old at most.
void removeLeftScratch(const QString& folder)
{
    static const QRegularExpression scratch(QStringLiteral("^\\.backup-[A-Za-z0-9]{6}$"));
    const QDateTime longAgo = QDateTime::currentDateTime().addSecs(-60);
    const QFileInfoList entries = QDir(folder).entryInfoList({ QStringLiteral(".backup-*") },
                                                             QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries)
        if (scratch.match(entry.fileName()).hasMatch() && entry.lastModified() < longAgo)
            QFile::remove(entry.filePath());
}

QString writeBackup(const TableGrid& grid, BackupDirection direction, const QString& folder, int count,
             const QDateTime& now, QString& why)
{
    if (!makePrivateFolder(folder)) {
        why = QStringLiteral("cannot create the folder: ") + QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    removeLeftScratch(folder);
    // Made 0600 by QTemporaryFile, and synced before it takes its name, so a
    // power cut never leaves an empty file under a backup's name.
    QTemporaryFile aside(folder + QStringLiteral("/.backup-XXXXXX"));
    const QByteArray bytes = tableFileBytes(grid);
    if (!aside.open() || aside.write(bytes) != bytes.size() || !aside.flush()) {
        why = aside.errorString();
        return QString();
    }
    if (::fsync(aside.handle()) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    aside.close();

    const QString base = folder + QLatin1Char('/') + now.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
        + (direction == BackupDirection::Read ? QStringLiteral("_read_") : QStringLiteral("_write_")) + modelName(grid);
    const QByteArray from = QFile::encodeName(aside.fileName());
    for (int n = 1; n <= 1000; ++n) {
        const QString path = base + (n == 1 ? QString() : QStringLiteral("_%1").arg(n)) + QStringLiteral(".dat");
        if (renameNew(from, QFile::encodeName(path))) {
            aside.setAutoRemove(false);
            syncFolder(folder);
            prune(folder, std::max(count, 1), QFileInfo(path).fileName());
            return path;
        }
        if (errno != EEXIST) {
            why = QString::fromLocal8Bit(std::strerror(errno));
            return QString();
        }
    }
    why = QStringLiteral("too many files for one second");
    return QString();
}

} // namespace

QString backupFolder()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/pradix/backups");
}

namespace {

QString keepReporting(const TableGrid& grid, BackupDirection direction, const QString& folder, int keep,
                      const QDateTime& now, QString& why)
{
    QString path;
    try {
        path = writeBackup(grid, direction, folder, keep, now, why);
    } catch (const std::exception& e) {
        why = QString::fromLocal8Bit(e.what());
    } catch (...) {
        why = QStringLiteral("unexpected failure");
    }
    if (path.isEmpty())
        std::fprintf(stderr, "pradix: no backup of the table kept in %s: %s\n", qPrintable(folder), qPrintable(why));
    return path;
}

} // namespace

QString keepTableBackup(const TableGrid& grid, BackupDirection direction, const QString& folder, int keep,
                        const QDateTime& now)
{
    QString why;
    return keepReporting(grid, direction, folder, keep, now, why);
}

QString keepTableBackup(const TableGrid& grid, BackupDirection direction, QString& failure)
{
    QString why;
    const QString path = keepReporting(grid, direction, backupFolder(), BackupsKept, QDateTime::currentDateTime(), why);
    if (path.isEmpty())
        failure = why;
    return path;
}

} // namespace editor
