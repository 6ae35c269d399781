#include "fleet/SqliteFleetStore.h"

#include "device/PrivateFolder.h"
#include "fleet/SqlSteps.h"
#include "fleet/SqliteSchema.h"
#include "fleet/StoreFailure.h"
#include "fleet/StoreValues.h"
#include "tables/TableFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUrl>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace fleet {

using namespace sqlite;

namespace {

// A table as a table file holds it: 128 lines of 26 bytes and CR LF.
constexpr int TableBytes = editor::TableFileLines * (editor::TableFileLineLength + 2);
// Longer than any number a dialling unit takes: anything longer is no number.
constexpr int MaxNumberLength = 64;
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

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace

// A box's row as a session finds it, and as the session leaves it.
struct SqliteFleetStore::BoxRow
{
    qint64 id = 0;
    qint64 versionId = 0;
    int failuresInRow = 0;
    int differingFields = 0;
    qint64 lastFailedRun = 0;
    QVariant lastSuccess;
    QVariant lastChange;
    QVariant failingSince;
    QVariant since; // what the session's row keeps: failing since or last change
};

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
    : path_(path)
    , mode_(mode)
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

void SqliteFleetStore::checkWritable(const char* what) const
{
    if (mode_ != OpenMode::Write)
        throw failure::other(path_, QStringLiteral("aperto in sola lettura, non si può %1").arg(QLatin1String(what)));
}

void SqliteFleetStore::checkActiveRun(qint64 runId) const
{
    checkWritable("registrare");
    if (activeRun_ == 0 || runId != activeRun_)
        throw failure::other(path_, QStringLiteral("il controllo %1 non è in corso in questo processo").arg(runId));
}

// ---- the run

qint64 SqliteFleetStore::startRun(const QStringList& ports, const std::vector<Customer>& customers,
                                  const QDateTime& at)
{
    checkWritable("avviare un controllo");
    if (activeRun_ != 0)
        throw failure::other(path_, QStringLiteral("il controllo %1 è ancora in corso").arg(activeRun_));
    QSet<int> cards;
    for (const Customer& customer : customers) {
        if (customer.card < 1 || cards.contains(customer.card))
            throw failure::other(path_, QStringLiteral("scheda %1 non valida o ripetuta").arg(customer.card));
        cards.insert(customer.card);
    }
    lock_.acquire();
    try {
        Transaction transaction(db_, path_);
        const qint64 id = insertRun(ports, int(customers.size()), at);
        insertRunCustomers(id, customers);
        transaction.commit();
        activeRun_ = id;
    } catch (...) {
        lock_.release();
        throw;
    }
    positions_.clear();
    for (int i = 0; i < int(customers.size()); ++i)
        positions_.insert(customers[size_t(i)].card, i);
    return activeRun_;
}

qint64 SqliteFleetStore::insertRun(const QStringList& ports, int customers, const QDateTime& at)
{
    QSqlQuery insert = prepare(db_, path_,
                               QStringLiteral("INSERT INTO runs (started, ports, host, pid, end_state, customers)"
                                              " VALUES (?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(dateValue(at));
    insert.addBindValue(portsText(ports));
    insert.addBindValue(textValue(QSysInfo::machineHostName()));
    insert.addBindValue(qint64(::getpid()));
    insert.addBindValue(runEndWord(RunEnd::Running));
    insert.addBindValue(customers);
    exec(insert, path_);
    return insert.lastInsertId().toLongLong();
}

void SqliteFleetStore::insertRunCustomers(qint64 runId, const std::vector<Customer>& customers)
{
    QSqlQuery insert = prepare(db_, path_,
                               QStringLiteral("INSERT INTO run_customers (run_id, position, card, surname, name, number)"
                                              " VALUES (?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < int(customers.size()); ++i) {
        const Customer& customer = customers[size_t(i)];
        insert.bindValue(0, runId);
        insert.bindValue(1, i);
        insert.bindValue(2, customer.card);
        insert.bindValue(3, textValue(customer.surname));
        insert.bindValue(4, textValue(customer.name));
        insert.bindValue(5, textValue(customer.number));
        exec(insert, path_);
    }
}

void SqliteFleetStore::resumeRun(qint64 id, const QStringList& ports, const QDateTime& at)
{
    checkWritable("riprendere un controllo");
    if (activeRun_ != 0)
        throw failure::other(path_, QStringLiteral("il controllo %1 è ancora in corso").arg(activeRun_));
    lock_.acquire();
    try {
        const std::optional<RunInfo> info = run(id);
        if (!info)
            throw failure::other(path_, QStringLiteral("il controllo %1 non esiste").arg(id));
        if (info->end == RunEnd::Finished)
            throw failure::other(path_, QStringLiteral("il controllo %1 è già finito").arg(id));
        Transaction transaction(db_, path_);
        QSqlQuery update = prepare(db_, path_,
                                   QStringLiteral("UPDATE runs SET ports = ?, host = ?, pid = ?, end_state = ?,"
                                                  " ended = NULL, resumed = ? WHERE id = ?"));
        update.addBindValue(portsText(ports));
        update.addBindValue(textValue(QSysInfo::machineHostName()));
        update.addBindValue(qint64(::getpid()));
        update.addBindValue(runEndWord(RunEnd::Running));
        update.addBindValue(dateValue(at));
        update.addBindValue(id);
        exec(update, path_);
        transaction.commit();
        loadPositions(id);
    } catch (...) {
        lock_.release();
        throw;
    }
    activeRun_ = id;
}

void SqliteFleetStore::loadPositions(qint64 runId)
{
    QSqlQuery query = prepare(db_, path_, QStringLiteral("SELECT card, position FROM run_customers WHERE run_id = ?"));
    query.addBindValue(runId);
    exec(query, path_);
    positions_.clear();
    while (query.next())
        positions_.insert(query.value(0).toInt(), query.value(1).toInt());
}

void SqliteFleetStore::endRun(qint64 runId, RunEnd end, const QDateTime& at)
{
    checkActiveRun(runId);
    if (end == RunEnd::Running)
        throw failure::other(path_, QStringLiteral("un controllo non finisce \"in corso\""));
    Transaction transaction(db_, path_);
    QSqlQuery update = prepare(db_, path_, QStringLiteral("UPDATE runs SET ended = ?, end_state = ? WHERE id = ?"));
    update.addBindValue(dateValue(at));
    update.addBindValue(runEndWord(end));
    update.addBindValue(runId);
    exec(update, path_);
    transaction.commit();
    activeRun_ = 0;
    positions_.clear();
    lock_.release();
}

// ---- one session

void SqliteFleetStore::validate(const SessionResult& result) const
{
    const QString number = result.customer.number;
    if (number.trimmed().isEmpty())
        throw failure::other(path_, QStringLiteral("la scheda %1 non ha numero: non si chiama").arg(result.customer.card));
    if (number.size() > MaxNumberLength)
        throw failure::other(path_, QStringLiteral("il numero della scheda %1 è troppo lungo").arg(result.customer.card));
    if (!result.started.isValid() || !result.ended.isValid())
        throw failure::other(path_, QStringLiteral("la chiamata alla scheda %1 non ha data").arg(result.customer.card));
    if (isGoodRead(result.outcome) && result.table.size() != TableBytes)
        throw failure::other(path_, QStringLiteral("la tabella letta dalla scheda %1 ha %2 byte invece di %3")
                                        .arg(result.customer.card)
                                        .arg(result.table.size())
                                        .arg(TableBytes));
}

void SqliteFleetStore::recordSession(qint64 runId, const SessionResult& result)
{
    checkActiveRun(runId);
    validate(result);
    const auto position = positions_.constFind(result.customer.card);
    if (position == positions_.constEnd())
        throw failure::other(path_, QStringLiteral("la scheda %1 non fa parte del controllo %2")
                                        .arg(result.customer.card)
                                        .arg(runId));
    Transaction transaction(db_, path_);
    BoxRow box = findOrMakeBox(result.customer);
    const qint64 versionId = isGoodRead(result.outcome) ? keepVersion(box.id, result) : 0;
    const QVariant ended = dateValue(result.ended);
    if (isGoodRead(result.outcome)) {
        box.failuresInRow = 0;
        box.lastFailedRun = 0;
        box.failingSince = QVariant();
        box.lastSuccess = ended;
        if (versionId != box.versionId || box.lastChange.isNull())
            box.lastChange = ended;
        box.versionId = versionId;
        box.differingFields = result.outcome == Outcome::Different ? int(result.differences.size()) : 0;
        box.since = box.lastChange;
    } else {
        // Failures in a row count runs: the further rounds of one run are one.
        if (box.lastFailedRun != runId)
            ++box.failuresInRow;
        box.lastFailedRun = runId;
        if (box.failingSince.isNull())
            box.failingSince = ended;
        box.since = box.failingSince;
    }
    const qint64 sessionId = insertSession(runId, box, result, versionId);
    if (result.outcome == Outcome::Different)
        insertDifferences(sessionId, result.differences);
    updateBox(box, result);
    QSqlQuery customer = prepare(db_, path_,
                                 QStringLiteral("UPDATE run_customers SET attempts = attempts + 1, last_session = ?"
                                                " WHERE run_id = ? AND position = ?"));
    customer.addBindValue(sessionId);
    customer.addBindValue(runId);
    customer.addBindValue(*position);
    exec(customer, path_);
    transaction.commit();
}

SqliteFleetStore::BoxRow SqliteFleetStore::findOrMakeBox(const Customer& customer)
{
    QSqlQuery find = prepare(db_, path_,
                             QStringLiteral("SELECT id, version_id, failures_in_row, differing_fields, last_failed_run,"
                                            " last_success, last_change, failing_since FROM boxes WHERE number = ?"));
    find.addBindValue(textValue(customer.number));
    exec(find, path_);
    BoxRow box;
    if (find.next()) {
        box.id = find.value(0).toLongLong();
        box.versionId = find.value(1).toLongLong();
        box.failuresInRow = find.value(2).toInt();
        box.differingFields = find.value(3).toInt();
        box.lastFailedRun = find.value(4).toLongLong();
        box.lastSuccess = find.value(5);
        box.lastChange = find.value(6);
        box.failingSince = find.value(7);
        return box;
    }
    find.finish();
    QSqlQuery insert = prepare(db_, path_,
                               QStringLiteral("INSERT INTO boxes (number, card, surname, name) VALUES (?, ?, ?, ?)"));
    insert.addBindValue(textValue(customer.number));
    insert.addBindValue(customer.card);
    insert.addBindValue(textValue(customer.surname));
    insert.addBindValue(textValue(customer.name));
    exec(insert, path_);
    box.id = insert.lastInsertId().toLongLong();
    return box;
}

// The table read, once per distinct content for the box: a table seen
// before is only seen once more.
qint64 SqliteFleetStore::keepVersion(qint64 boxId, const SessionResult& result)
{
    const QByteArray digest = sha256(result.table);
    const QVariant ended = dateValue(result.ended);
    QSqlQuery find = prepare(db_, path_, QStringLiteral("SELECT id FROM versions WHERE box_id = ? AND sha256 = ?"));
    find.addBindValue(boxId);
    find.addBindValue(digest);
    exec(find, path_);
    if (find.next()) {
        const qint64 id = find.value(0).toLongLong();
        find.finish();
        QSqlQuery seen = prepare(db_, path_,
                                 QStringLiteral("UPDATE versions SET times_seen = times_seen + 1,"
                                                " first_seen = min(first_seen, ?), last_seen = max(last_seen, ?)"
                                                " WHERE id = ?"));
        seen.addBindValue(ended);
        seen.addBindValue(ended);
        seen.addBindValue(id);
        exec(seen, path_);
        return id;
    }
    find.finish();
    QSqlQuery insert = prepare(db_, path_,
                               QStringLiteral("INSERT INTO versions (box_id, sha256, first_seen, last_seen, times_seen,"
                                              " bytes) VALUES (?, ?, ?, ?, 1, ?)"));
    insert.addBindValue(boxId);
    insert.addBindValue(digest);
    insert.addBindValue(ended);
    insert.addBindValue(ended);
    insert.addBindValue(result.table);
    exec(insert, path_);
    return insert.lastInsertId().toLongLong();
}

qint64 SqliteFleetStore::insertSession(qint64 runId, const BoxRow& box, const SessionResult& result, qint64 versionId)
{
    QSqlQuery insert = prepare(db_, path_,
                               QStringLiteral("INSERT INTO sessions (run_id, box_id, round, started, ended, outcome,"
                                              " port, host, detail, version_id, clock_text, device_text, since)"
                                              " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(runId);
    insert.addBindValue(box.id);
    insert.addBindValue(result.round);
    insert.addBindValue(dateValue(result.started));
    insert.addBindValue(dateValue(result.ended));
    insert.addBindValue(outcomeWord(result.outcome));
    insert.addBindValue(textValue(result.port));
    insert.addBindValue(textValue(result.host));
    insert.addBindValue(textValue(result.detail));
    insert.addBindValue(versionId > 0 ? QVariant(versionId) : QVariant());
    insert.addBindValue(textValue(result.clockText));
    insert.addBindValue(textValue(result.deviceText));
    insert.addBindValue(box.since);
    exec(insert, path_);
    return insert.lastInsertId().toLongLong();
}

void SqliteFleetStore::insertDifferences(qint64 sessionId, const std::vector<FieldDifference>& differences)
{
    QSqlQuery insert = prepare(db_, path_,
                               QStringLiteral("INSERT INTO differences (session_id, position, association, field,"
                                              " card_value, box_value) VALUES (?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < int(differences.size()); ++i) {
        const FieldDifference& difference = differences[size_t(i)];
        insert.bindValue(0, sessionId);
        insert.bindValue(1, i);
        insert.bindValue(2, difference.association);
        insert.bindValue(3, textValue(difference.field));
        insert.bindValue(4, textValue(difference.cardValue));
        insert.bindValue(5, textValue(difference.boxValue));
        exec(insert, path_);
    }
}

void SqliteFleetStore::updateBox(const BoxRow& box, const SessionResult& result)
{
    QSqlQuery update = prepare(db_, path_,
                               QStringLiteral("UPDATE boxes SET card = ?, surname = ?, name = ?, last_outcome = ?,"
                                              " last_audit = ?, last_success = ?, last_change = ?, failing_since = ?,"
                                              " failures_in_row = ?, last_failed_run = ?, differing_fields = ?,"
                                              " version_id = ? WHERE id = ?"));
    update.addBindValue(result.customer.card);
    update.addBindValue(textValue(result.customer.surname));
    update.addBindValue(textValue(result.customer.name));
    update.addBindValue(outcomeWord(result.outcome));
    update.addBindValue(dateValue(result.ended));
    update.addBindValue(box.lastSuccess);
    update.addBindValue(box.lastChange);
    update.addBindValue(box.failingSince);
    update.addBindValue(box.failuresInRow);
    update.addBindValue(box.lastFailedRun > 0 ? QVariant(box.lastFailedRun) : QVariant());
    update.addBindValue(box.differingFields);
    update.addBindValue(box.versionId > 0 ? QVariant(box.versionId) : QVariant());
    update.addBindValue(box.id);
    exec(update, path_);
}

} // namespace fleet
