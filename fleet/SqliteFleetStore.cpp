#include "fleet/SqliteFleetStore.h"

#include "device/PrivateFolder.h"
#include "fleet/SqlSteps.h"
#include "fleet/SqliteSchema.h"
#include "fleet/StoreFailure.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace fleet {

using sqlite::bringUp;
using sqlite::currentVersion;
using sqlite::identify;
using sqlite::Identity;

namespace {

// How long a write waits for another process's write to end.
constexpr int BusyTimeoutMs = 10000;

QString connectionName()
{
    static std::atomic<int> next { 0 };
    return QStringLiteral("pradix-fleet-%1").arg(next++);
}

// A new store is made empty, for the user alone (0600, in a folder 0700);
// the engine's journal files then take the store's mode.
void makeStoreFile(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!makePrivateFolder(folder))
        throw failure::fromErrno(path, errno);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
        throw failure::fromErrno(path, errno);
    if (fd >= 0)
        ::close(fd);
}

// What stands at `path` before the engine opens it: a missing store is made
// for writing, and a store that cannot be written is told as such before
// anything is tried on it.
void prepareFile(const QString& path, OpenMode mode)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        if (mode == OpenMode::Read)
            throw failure::missing(path);
        makeStoreFile(path);
        return;
    }
    if (info.isDir())
        throw failure::notAStore(path, QStringLiteral("è una cartella"));
    if (!info.isFile())
        throw failure::notAStore(path, QStringLiteral("non è un file"));
    if (mode == OpenMode::Write) {
        if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0)
            throw errno == EROFS ? failure::fromErrno(path, EROFS)
                                 : failure::readOnly(path, QStringLiteral("il file è di sola lettura"));
        // The journal and the run lock are files beside the store.
        if (::access(QFile::encodeName(info.absolutePath()).constData(), W_OK | X_OK) != 0)
            throw failure::readOnly(path, QStringLiteral("la cartella \"%1\" è di sola lettura").arg(info.absolutePath()));
    }
}

} // namespace

std::unique_ptr<FleetStore> SqliteFleetStore::open(const QString& path, OpenMode mode)
{
    if (path.isEmpty())
        throw failure::other(path, QStringLiteral("nessun file indicato"));
    prepareFile(path, mode);
    std::unique_ptr<SqliteFleetStore> store(new SqliteFleetStore(path, mode));
    store->bringUpToDate();
    return store;
}

SqliteFleetStore::SqliteFleetStore(const QString& path, OpenMode mode)
    : SqlFleetStore(path, mode)
    , path_(path)
    , connection_(connectionName())
    , lock_(path)
{
}

SqliteFleetStore::~SqliteFleetStore()
{
    lock_.release();
    disconnect();
}

// The file is opened for reading and writing but never made here (it is
// made above, 0600): a reading that is the last one on the store then lets
// the engine put its journal back into the store and remove the journal's
// files, which a read-only connection would leave behind. Reading only never
// writes a statement.
//
// In a folder nobody may write to (a copy on a read-only disk) there can be
// no journal files and no writer: the store is read as it stands, through
// the journal when its files are there, from the file alone when not.
void SqliteFleetStore::connect()
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    if (!db_.isValid())
        throw failure::other(path_, QStringLiteral("manca il modulo SQLite di Qt (pacchetto libqt6sql6-sqlite)"));
    QString mode = QStringLiteral("?mode=rw");
    const QString folder = QFileInfo(path_).absolutePath();
    if (mode_ == OpenMode::Read && ::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        mode = QFile::exists(path_ + QStringLiteral("-wal")) ? QStringLiteral("?mode=ro")
                                                             : QStringLiteral("?mode=ro&immutable=1");
    db_.setDatabaseName(QStringLiteral("file:") + QString::fromLatin1(QUrl::toPercentEncoding(path_, "/")) + mode);
    db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    if (!db_.open())
        throw failure::fromSql(path_, db_.lastError());
    // Room for the pages of a few histories and a run's rows (the engine's
    // default is 2 MB); nothing is read from the file for it.
    sqlite::run(db_, path_, QStringLiteral("PRAGMA cache_size = -16384"));
}

void SqliteFleetStore::disconnect()
{
    if (!db_.isValid())
        return;
    forgetKept();
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}

// Opens the file, tells what it is, and brings an older layout up to date.
// Nothing is written before the file is known for a store of this Pradix
// (or an empty file that becomes one).
void SqliteFleetStore::bringUpToDate()
{
    connect();
    const Identity identity = identify(db_, path_);
    if (identity.kind == Identity::Kind::Foreign)
        throw failure::notAStore(path_);
    if (identity.version > currentVersion())
        throw failure::newerSchema(path_, identity.version, currentVersion());
    if (mode_ == OpenMode::Read && identity.kind == Identity::Kind::Empty)
        throw failure::empty(path_);
    if (mode_ == OpenMode::Read && identity.version == currentVersion())
        return;
    // An older layout is brought up for reading too, then read as usual.
    QSqlQuery journal = sqlite::run(db_, path_, QStringLiteral("PRAGMA journal_mode = WAL"));
    if (!journal.next() || journal.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
        throw failure::other(path_, QStringLiteral("il giornale WAL non è disponibile"));
    journal.finish();
    sqlite::run(db_, path_, QStringLiteral("PRAGMA synchronous = FULL"));
    sqlite::run(db_, path_, QStringLiteral("PRAGMA foreign_keys = ON"));
    if (identity.version < currentVersion())
        bringUp(db_, path_, identity.version);
}

StoreError SqliteFleetStore::sqlFailure(const QSqlError& error) const
{
    return failure::fromSql(path_, error);
}

// The write lock is taken at the start, so a write never fails half-way for
// another writer.
QString SqliteFleetStore::beginStatement() const
{
    return QStringLiteral("BEGIN IMMEDIATE");
}

void SqliteFleetStore::acquireRunLock()
{
    lock_.acquire();
}

void SqliteFleetStore::releaseRunLock()
{
    lock_.release();
}

bool SqliteFleetStore::runLockTaken()
{
    return RunLock::taken(path_);
}

} // namespace fleet
