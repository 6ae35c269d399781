#include "fleet/PostgresFleetStore.h"

#include "fleet/PostgresSql.h"
#include "fleet/StoreFailure.h"
#include "fleet/StoreValues.h"
#include "tables/TableFile.h"

#include <QCryptographicHash>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

#include <atomic>

#include <unistd.h>

namespace fleet {

using namespace pg;
using sqlite::dateValue;
using sqlite::portsText;
using sqlite::textValue;

namespace {

// A table as a table file holds it: 128 lines of 26 bytes and CR LF.
constexpr int TableBytes = editor::TableFileLines * (editor::TableFileLineLength + 2);
// Longer than any number a dialling unit takes: anything longer is no number.
constexpr int MaxNumberLength = 64;

QString connectionName()
{
    static std::atomic<int> next { 0 };
    return QStringLiteral("pradix-fleet-pg-%1").arg(next++);
}

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// The id the server gave the row an INSERT ... RETURNING id made.
qint64 returnedId(QSqlQuery& query, const QString& where)
{
    exec(query, where);
    if (!query.next())
        throw failure::other(where, QStringLiteral("il server non ha restituito il numero della riga"));
    return query.value(0).toLongLong();
}

} // namespace

// A box's row as a session finds it, and as the session leaves it.
struct PostgresFleetStore::BoxRow
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

std::unique_ptr<FleetStore> PostgresFleetStore::open(const QString& location, OpenMode mode)
{
    std::unique_ptr<PostgresFleetStore> store(new PostgresFleetStore(parsePostgresAddress(location), mode));
    store->bringUpToDate();
    return store;
}

PostgresFleetStore::PostgresFleetStore(const PostgresAddress& address, OpenMode mode)
    : address_(address)
    , where_(address.display())
    , mode_(mode)
    , connection_(connectionName())
{
}

PostgresFleetStore::~PostgresFleetStore()
{
    disconnect();
}

void PostgresFleetStore::connect()
{
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
    if (!db_.isValid())
        throw failure::other(where_, QStringLiteral("manca il modulo PostgreSQL di Qt (pacchetto libqt6sql6-psql)"));
    db_.setHostName(address_.host);
    if (address_.port != 0)
        db_.setPort(address_.port);
    db_.setUserName(address_.user);
    db_.setDatabaseName(address_.database);
    db_.setConnectOptions(address_.connectOptions());
    if (!db_.open())
        throw connectFailure(where_, db_.lastError());
    // Dates are whole milliseconds in BIGINT columns: nothing depends on the
    // server's time zone; texts travel as UTF-8 whatever the server's locale.
    pg::run(db_, where_, QStringLiteral("SET client_encoding = 'UTF8'"));
}

void PostgresFleetStore::disconnect()
{
    if (!db_.isValid())
        return;
    // Closing the connection lets go of the run lock on the server.
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}

void PostgresFleetStore::bringUpToDate()
{
    connect();
    const Identity identity = identify(db_, where_);
    if (identity.kind == Identity::Kind::Foreign)
        throw foreignDatabase(where_);
    if (identity.version > currentVersion())
        throw failure::newerSchema(where_, identity.version, currentVersion());
    if (mode_ == OpenMode::Read && identity.kind == Identity::Kind::Empty)
        throw failure::empty(where_);
    if (identity.version < currentVersion())
        bringUp(db_, where_);
}

// ---- the run lock: one audit at a time on the store

void PostgresFleetStore::acquireRunLock()
{
    if (runLocked_)
        return;
    const bool got = value(db_, where_, QStringLiteral("SELECT pg_try_advisory_lock(%1, %2)").arg(LockSpace).arg(RunLockKey))
                         .toBool();
    if (!got) {
        // The holder is the process of the last run still going.
        const qint64 pid = value(db_, where_, QStringLiteral("SELECT pid FROM runs WHERE end_state = 'in corso'"
                                                             " ORDER BY id DESC LIMIT 1"))
                               .toLongLong();
        throw failure::busy(where_, pid);
    }
    runLocked_ = true;
}

void PostgresFleetStore::releaseRunLock()
{
    if (!runLocked_)
        return;
    runLocked_ = false;
    pg::run(db_, where_, QStringLiteral("SELECT pg_advisory_unlock(%1, %2)").arg(LockSpace).arg(RunLockKey));
}

bool PostgresFleetStore::runLockTaken()
{
    return value(db_, where_,
                 QStringLiteral("SELECT count(*) FROM pg_catalog.pg_locks WHERE locktype = 'advisory' AND granted"
                                " AND database = (SELECT oid FROM pg_catalog.pg_database"
                                " WHERE datname = current_database())"
                                " AND classid = %1 AND objid = %2 AND objsubid = 2")
                     .arg(LockSpace)
                     .arg(RunLockKey))
               .toInt()
        > 0;
}

void PostgresFleetStore::checkWritable(const char* what) const
{
    if (mode_ != OpenMode::Write)
        throw failure::other(where_, QStringLiteral("aperto in sola lettura, non si può %1").arg(QLatin1String(what)));
}

void PostgresFleetStore::checkActiveRun(qint64 runId) const
{
    checkWritable("registrare");
    if (activeRun_ == 0 || runId != activeRun_)
        throw failure::other(where_, QStringLiteral("la corsa %1 non è in corso in questo processo").arg(runId));
}

// ---- the run

qint64 PostgresFleetStore::startRun(const QStringList& ports, const std::vector<Customer>& customers,
                                    const QDateTime& at)
{
    checkWritable("avviare un controllo");
    if (activeRun_ != 0)
        throw failure::other(where_, QStringLiteral("la corsa %1 è ancora in corso").arg(activeRun_));
    QSet<int> cards;
    for (const Customer& customer : customers) {
        if (customer.card < 1 || cards.contains(customer.card))
            throw failure::other(where_, QStringLiteral("scheda %1 non valida o ripetuta").arg(customer.card));
        cards.insert(customer.card);
    }
    acquireRunLock();
    try {
        Transaction transaction(db_, where_);
        const qint64 id = insertRun(ports, int(customers.size()), at);
        insertRunCustomers(id, customers);
        transaction.commit();
        activeRun_ = id;
    } catch (...) {
        releaseRunLock();
        throw;
    }
    positions_.clear();
    for (int i = 0; i < int(customers.size()); ++i)
        positions_.insert(customers[size_t(i)].card, i);
    return activeRun_;
}

qint64 PostgresFleetStore::insertRun(const QStringList& ports, int customers, const QDateTime& at)
{
    QSqlQuery insert = prepare(db_, where_,
                               QStringLiteral("INSERT INTO runs (started, ports, host, pid, end_state, customers)"
                                              " VALUES (?, ?, ?, ?, ?, ?) RETURNING id"));
    insert.addBindValue(dateValue(at));
    insert.addBindValue(portsText(ports));
    insert.addBindValue(textValue(QSysInfo::machineHostName()));
    insert.addBindValue(qint64(::getpid()));
    insert.addBindValue(runEndWord(RunEnd::Running));
    insert.addBindValue(customers);
    return returnedId(insert, where_);
}

void PostgresFleetStore::insertRunCustomers(qint64 runId, const std::vector<Customer>& customers)
{
    QSqlQuery insert = prepare(db_, where_,
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
        exec(insert, where_);
    }
}

void PostgresFleetStore::resumeRun(qint64 id, const QStringList& ports, const QDateTime& at)
{
    checkWritable("riprendere un controllo");
    if (activeRun_ != 0)
        throw failure::other(where_, QStringLiteral("la corsa %1 è ancora in corso").arg(activeRun_));
    acquireRunLock();
    try {
        const std::optional<RunInfo> info = run(id);
        if (!info)
            throw failure::other(where_, QStringLiteral("la corsa %1 non esiste").arg(id));
        if (info->end == RunEnd::Finished)
            throw failure::other(where_, QStringLiteral("la corsa %1 è già finita").arg(id));
        Transaction transaction(db_, where_);
        QSqlQuery update = prepare(db_, where_,
                                   QStringLiteral("UPDATE runs SET ports = ?, host = ?, pid = ?, end_state = ?,"
                                                  " ended = NULL, resumed = ? WHERE id = ?"));
        update.addBindValue(portsText(ports));
        update.addBindValue(textValue(QSysInfo::machineHostName()));
        update.addBindValue(qint64(::getpid()));
        update.addBindValue(runEndWord(RunEnd::Running));
        update.addBindValue(dateValue(at));
        update.addBindValue(id);
        exec(update, where_);
        transaction.commit();
        loadPositions(id);
    } catch (...) {
        releaseRunLock();
        throw;
    }
    activeRun_ = id;
}

void PostgresFleetStore::loadPositions(qint64 runId)
{
    QSqlQuery query = prepare(db_, where_, QStringLiteral("SELECT card, position FROM run_customers WHERE run_id = ?"));
    query.addBindValue(runId);
    exec(query, where_);
    positions_.clear();
    while (query.next())
        positions_.insert(query.value(0).toInt(), query.value(1).toInt());
}

void PostgresFleetStore::endRun(qint64 runId, RunEnd end, const QDateTime& at)
{
    checkActiveRun(runId);
    if (end == RunEnd::Running)
        throw failure::other(where_, QStringLiteral("una corsa non finisce \"in corso\""));
    Transaction transaction(db_, where_);
    QSqlQuery update = prepare(db_, where_, QStringLiteral("UPDATE runs SET ended = ?, end_state = ? WHERE id = ?"));
    update.addBindValue(dateValue(at));
    update.addBindValue(runEndWord(end));
    update.addBindValue(runId);
    exec(update, where_);
    transaction.commit();
    activeRun_ = 0;
    positions_.clear();
    releaseRunLock();
}

// ---- one session

void PostgresFleetStore::validate(const SessionResult& result) const
{
    const QString number = result.customer.number;
    if (number.trimmed().isEmpty())
        throw failure::other(where_, QStringLiteral("la scheda %1 non ha numero: non si chiama").arg(result.customer.card));
    if (number.size() > MaxNumberLength)
        throw failure::other(where_, QStringLiteral("il numero della scheda %1 è troppo lungo").arg(result.customer.card));
    if (!result.started.isValid() || !result.ended.isValid())
        throw failure::other(where_, QStringLiteral("la chiamata alla scheda %1 non ha data").arg(result.customer.card));
    if (isGoodRead(result.outcome) && result.table.size() != TableBytes)
        throw failure::other(where_, QStringLiteral("la tabella letta dalla scheda %1 ha %2 byte invece di %3")
                                         .arg(result.customer.card)
                                         .arg(result.table.size())
                                         .arg(TableBytes));
}

void PostgresFleetStore::recordSession(qint64 runId, const SessionResult& result)
{
    checkActiveRun(runId);
    validate(result);
    const auto position = positions_.constFind(result.customer.card);
    if (position == positions_.constEnd())
        throw failure::other(where_, QStringLiteral("la scheda %1 non fa parte della corsa %2")
                                         .arg(result.customer.card)
                                         .arg(runId));
    Transaction transaction(db_, where_);
    writeSession(runId, *position, result);
    transaction.commit();
}

void PostgresFleetStore::writeSession(qint64 runId, int position, const SessionResult& result)
{
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
    QSqlQuery customer = prepare(db_, where_,
                                 QStringLiteral("UPDATE run_customers SET attempts = attempts + 1, last_session = ?"
                                                " WHERE run_id = ? AND position = ?"));
    customer.addBindValue(sessionId);
    customer.addBindValue(runId);
    customer.addBindValue(position);
    exec(customer, where_);
}

// The box's row is locked until the session's transaction ends, so two
// machines recording the same box one after the other each see the other's
// state.
PostgresFleetStore::BoxRow PostgresFleetStore::findOrMakeBox(const Customer& customer)
{
    QSqlQuery insert = prepare(db_, where_,
                               QStringLiteral("INSERT INTO boxes (number, card, surname, name) VALUES (?, ?, ?, ?)"
                                              " ON CONFLICT (number) DO NOTHING"));
    insert.addBindValue(textValue(customer.number));
    insert.addBindValue(customer.card);
    insert.addBindValue(textValue(customer.surname));
    insert.addBindValue(textValue(customer.name));
    exec(insert, where_);
    QSqlQuery find = prepare(db_, where_,
                             QStringLiteral("SELECT id, version_id, failures_in_row, differing_fields, last_failed_run,"
                                            " last_success, last_change, failing_since FROM boxes WHERE number = ?"
                                            " FOR UPDATE"));
    find.addBindValue(textValue(customer.number));
    exec(find, where_);
    if (!find.next())
        throw failure::other(where_, QStringLiteral("la centralina %1 non si trova").arg(customer.number));
    BoxRow box;
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

// The table read, once per distinct content for the box: a table seen
// before is only seen once more.
qint64 PostgresFleetStore::keepVersion(qint64 boxId, const SessionResult& result)
{
    const QByteArray digest = sha256(result.table);
    const QVariant ended = dateValue(result.ended);
    QSqlQuery seen = prepare(db_, where_,
                             QStringLiteral("UPDATE versions SET times_seen = times_seen + 1,"
                                            " first_seen = LEAST(first_seen, ?), last_seen = GREATEST(last_seen, ?)"
                                            " WHERE box_id = ? AND sha256 = ? RETURNING id"));
    seen.addBindValue(ended);
    seen.addBindValue(ended);
    seen.addBindValue(boxId);
    seen.addBindValue(digest);
    exec(seen, where_);
    if (seen.next())
        return seen.value(0).toLongLong();
    QSqlQuery insert = prepare(db_, where_,
                               QStringLiteral("INSERT INTO versions (box_id, sha256, first_seen, last_seen, times_seen,"
                                              " bytes) VALUES (?, ?, ?, ?, 1, ?) RETURNING id"));
    insert.addBindValue(boxId);
    insert.addBindValue(digest);
    insert.addBindValue(ended);
    insert.addBindValue(ended);
    insert.addBindValue(result.table);
    return returnedId(insert, where_);
}

qint64 PostgresFleetStore::insertSession(qint64 runId, const BoxRow& box, const SessionResult& result,
                                         qint64 versionId)
{
    QSqlQuery insert = prepare(db_, where_,
                               QStringLiteral("INSERT INTO sessions (run_id, box_id, round, started, ended, outcome,"
                                              " port, host, detail, version_id, clock_text, device_text, since)"
                                              " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
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
    return returnedId(insert, where_);
}

void PostgresFleetStore::insertDifferences(qint64 sessionId, const std::vector<FieldDifference>& differences)
{
    QSqlQuery insert = prepare(db_, where_,
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
        exec(insert, where_);
    }
}

void PostgresFleetStore::updateBox(const BoxRow& box, const SessionResult& result)
{
    QSqlQuery update = prepare(db_, where_,
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
    exec(update, where_);
}

} // namespace fleet
