#include "fleet/SqliteSchema.h"

#include "fleet/SqlSteps.h"
#include "fleet/StoreFailure.h"

#include <QSqlError>

namespace fleet::sqlite {

namespace {

// The first release's layout. Dates are milliseconds since 1970 in UTC;
// outcomes and run ends are the words the operator reads.
//   runs           one audit run: when, where, by which process, how it ended
//   boxes          one per dialled number: its state now
//   versions       each distinct table a box was seen holding, with its bytes
//   run_customers  a run's list of customers in calling order, as the book had them
//   sessions       every call: its outcome, times, line, the table read and the
//                  box's "since" (failing since or last change) right after it
//   differences    the fields of a "diversa" session
const QStringList firstLayout = {
    QStringLiteral("CREATE TABLE runs ("
                   " id INTEGER PRIMARY KEY,"
                   " started INTEGER NOT NULL,"
                   " ended INTEGER,"
                   " resumed INTEGER,"
                   " ports TEXT NOT NULL,"
                   " host TEXT NOT NULL,"
                   " pid INTEGER NOT NULL,"
                   " end_state TEXT NOT NULL,"
                   " customers INTEGER NOT NULL)"),
    QStringLiteral("CREATE TABLE boxes ("
                   " id INTEGER PRIMARY KEY,"
                   " number TEXT NOT NULL UNIQUE,"
                   " card INTEGER NOT NULL,"
                   " surname TEXT NOT NULL,"
                   " name TEXT NOT NULL,"
                   " last_outcome TEXT,"
                   " last_audit INTEGER,"
                   " last_success INTEGER,"
                   " last_change INTEGER,"
                   " failing_since INTEGER,"
                   " failures_in_row INTEGER NOT NULL DEFAULT 0,"
                   " last_failed_run INTEGER,"
                   " differing_fields INTEGER NOT NULL DEFAULT 0,"
                   " version_id INTEGER REFERENCES versions(id))"),
    QStringLiteral("CREATE TABLE versions ("
                   " id INTEGER PRIMARY KEY,"
                   " box_id INTEGER NOT NULL REFERENCES boxes(id),"
                   " sha256 BLOB NOT NULL,"
                   " first_seen INTEGER NOT NULL,"
                   " last_seen INTEGER NOT NULL,"
                   " times_seen INTEGER NOT NULL,"
                   " bytes BLOB NOT NULL,"
                   " UNIQUE (box_id, sha256))"),
    QStringLiteral("CREATE TABLE sessions ("
                   " id INTEGER PRIMARY KEY,"
                   " run_id INTEGER NOT NULL REFERENCES runs(id),"
                   " box_id INTEGER NOT NULL REFERENCES boxes(id),"
                   " round INTEGER NOT NULL,"
                   " started INTEGER NOT NULL,"
                   " ended INTEGER NOT NULL,"
                   " outcome TEXT NOT NULL,"
                   " port TEXT NOT NULL,"
                   " host TEXT NOT NULL,"
                   " detail TEXT NOT NULL,"
                   " version_id INTEGER REFERENCES versions(id),"
                   " clock_text TEXT NOT NULL,"
                   " device_text TEXT NOT NULL,"
                   " since INTEGER)"),
    // A box's history is read from this index alone: its sessions lie side
    // by side here, while in the table each is a night (and a page) apart.
    QStringLiteral("CREATE INDEX sessions_by_box ON sessions"
                   " (box_id, started, run_id, ended, outcome, version_id, port, host, detail)"),
    QStringLiteral("CREATE TABLE run_customers ("
                   " run_id INTEGER NOT NULL REFERENCES runs(id),"
                   " position INTEGER NOT NULL,"
                   " card INTEGER NOT NULL,"
                   " surname TEXT NOT NULL,"
                   " name TEXT NOT NULL,"
                   " number TEXT NOT NULL,"
                   " attempts INTEGER NOT NULL DEFAULT 0,"
                   " last_session INTEGER REFERENCES sessions(id),"
                   " PRIMARY KEY (run_id, position)) WITHOUT ROWID"),
    QStringLiteral("CREATE TABLE differences ("
                   " session_id INTEGER NOT NULL REFERENCES sessions(id),"
                   " position INTEGER NOT NULL,"
                   " association INTEGER NOT NULL,"
                   " field TEXT NOT NULL,"
                   " card_value TEXT NOT NULL,"
                   " box_value TEXT NOT NULL,"
                   " PRIMARY KEY (session_id, position)) WITHOUT ROWID"),
    QStringLiteral("PRAGMA application_id = %1").arg(ApplicationId),
};

int pragmaValue(QSqlDatabase& db, const QString& path, const QString& pragma)
{
    QSqlQuery query = run(db, path, QStringLiteral("PRAGMA ") + pragma);
    return query.next() ? query.value(0).toInt() : 0;
}

} // namespace

const std::vector<Migration>& migrations()
{
    static const std::vector<Migration> steps = { { 1, firstLayout } };
    return steps;
}

int currentVersion()
{
    return migrations().back().to;
}

Identity identify(QSqlDatabase& db, const QString& path)
{
    // A file that is not a database fails its first read of the header.
    const int applicationId = pragmaValue(db, path, QStringLiteral("application_id"));
    const int version = pragmaValue(db, path, QStringLiteral("user_version"));
    QSqlQuery objects = run(db, path, QStringLiteral("SELECT count(*) FROM sqlite_master"));
    const int count = objects.next() ? objects.value(0).toInt() : 0;
    if (applicationId == ApplicationId)
        return { Identity::Kind::Store, version };
    if (applicationId == 0 && version == 0 && count == 0)
        return { Identity::Kind::Empty, 0 };
    return { Identity::Kind::Foreign, version };
}

void bringUp(QSqlDatabase& db, const QString& path, int from, const std::vector<Migration>& steps)
{
    Transaction transaction(db, path);
    const int reached = sql::runSteps(db, path, from, steps, failure::fromSql);
    run(db, path, QStringLiteral("PRAGMA user_version = %1").arg(reached));
    transaction.commit();
}

} // namespace fleet::sqlite
