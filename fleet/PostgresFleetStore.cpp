#include "fleet/PostgresFleetStore.h"

#include "fleet/PostgresSql.h"
#include "fleet/StoreFailure.h"

#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace fleet {

using namespace pg;

namespace {

QString connectionName()
{
    static std::atomic<int> next { 0 };
    return QStringLiteral("pradix-fleet-pg-%1").arg(next++);
}

} // namespace

std::unique_ptr<FleetStore> PostgresFleetStore::open(const QString& location, OpenMode mode)
{
    std::unique_ptr<PostgresFleetStore> store(new PostgresFleetStore(parsePostgresAddress(location), mode));
    store->bringUpToDate();
    return store;
}

PostgresFleetStore::PostgresFleetStore(const PostgresAddress& address, OpenMode mode)
    : SqlFleetStore(address.display(), mode)
    , address_(address)
    , connection_(connectionName())
{
}

PostgresFleetStore::~PostgresFleetStore()
{
    disconnect();
}

// Dates are whole milliseconds in BIGINT columns: nothing depends on the
// server's time zone.
void PostgresFleetStore::connect()
{
    db_ = pg::connect(connection_, address_);
}

void PostgresFleetStore::disconnect()
{
    if (!db_.isValid())
        return;
    forgetKept();
    QObject::disconnect(watching_);
    // Closing the connection lets go of the run lock on the server.
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}

void PostgresFleetStore::bringUpToDate()
{
    connect();
    const Identity identity = identify(db_, where_);
    if (identity.version > currentVersion())
        throw failure::newerSchema(where_, identity.version, currentVersion());
    if (mode_ == OpenMode::Read && identity.kind == Identity::Kind::Foreign)
        throw foreignDatabase(where_);
    if (mode_ == OpenMode::Read && identity.kind == Identity::Kind::Empty)
        throw failure::empty(where_);
    // The steps look again under the server's lock: another runner may have
    // made the layout meanwhile, and a database of something else is refused there.
    if (identity.kind != Identity::Kind::Store || identity.version < currentVersion())
        bringUp(db_, where_);
}


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

StoreError PostgresFleetStore::sqlFailure(const QSqlError& error) const
{
    // A connection the server has closed may be found so before a statement
    // goes out (its notifications are read as they come): the driver then
    // refuses the statement without a word of the server's.
    if (error.type() == QSqlError::NoError && !db_.isOpen())
        return pg::failure(where_, QSqlError(QString(), QStringLiteral("no connection to the server"),
                                             QSqlError::ConnectionError));
    return pg::failure(where_, error);
}

QString PostgresFleetStore::beginStatement() const
{
    return QStringLiteral("BEGIN");
}

QString PostgresFleetStore::forUpdate() const
{
    return QStringLiteral(" FOR UPDATE");
}

} // namespace fleet
