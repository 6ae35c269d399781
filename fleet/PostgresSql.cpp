#include "fleet/PostgresSql.h"

#include "fleet/StoreFailure.h"

#include <QRegularExpression>
#include <QSqlError>

namespace fleet::pg {

namespace {

// The server's reason in one line, without the driver's SQLSTATE suffix.
QString reason(const QSqlError& error)
{
    QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    static const QRegularExpression state(QStringLiteral("\\(([0-9A-Z]{5})\\)\\s*$"));
    text.remove(state);
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text.simplified();
}

bool connectionLost(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    if (code.startsWith(QStringLiteral("08")) || code.startsWith(QStringLiteral("57P")))
        return true;
    const QString text = error.databaseText() + error.driverText();
    return error.type() == QSqlError::ConnectionError || text.contains(QStringLiteral("server closed the connection"))
        || text.contains(QStringLiteral("no connection to the server"))
        || text.contains(QStringLiteral("terminating connection"));
}

StoreError withKind(StoreError error, StoreError::Kind kind)
{
    error.kind = kind;
    return error;
}

} // namespace

StoreError failure(const QString& where, const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    const QString why = reason(error);
    if (code == QLatin1String("42501"))
        return failure::readOnly(where, QStringLiteral("l'utente non ha i permessi necessari (%1)").arg(why));
    if (code == QLatin1String("25006"))
        return failure::readOnly(where, QStringLiteral("il server accetta solo letture (%1)").arg(why));
    if (code == QLatin1String("53100"))
        return withKind(failure::other(where, QStringLiteral("il disco del server è pieno; quanto era già registrato è "
                                                             "intatto (%1)")
                                                  .arg(why)),
                        StoreError::Kind::Full);
    if (code == QLatin1String("3D000"))
        return withKind(failure::other(where, QStringLiteral("il database non esiste (%1)").arg(why)),
                        StoreError::Kind::Missing);
    if (code == QLatin1String("55P03") || code == QLatin1String("40P01") || code == QLatin1String("40001"))
        return withKind(failure::other(where, QStringLiteral("occupato da un altro processo (%1)").arg(why)),
                        StoreError::Kind::Busy);
    if (connectionLost(error))
        return failure::other(where, QStringLiteral("il collegamento con il server si è interrotto (%1)").arg(why));
    return failure::other(where, why);
}

StoreError foreignDatabase(const QString& where)
{
    return withKind(failure::other(where, QStringLiteral("il database contiene altre tabelle e non è un archivio dei "
                                                         "controlli di Pradix: non è stato modificato")),
                    StoreError::Kind::NotAStore);
}

StoreError connectFailure(const QString& where, const QSqlError& error)
{
    const QString why = reason(error);
    if (why.contains(QStringLiteral("password authentication failed"))
        || why.contains(QStringLiteral("no password supplied")))
        return failure::other(where, QStringLiteral("il server non ha accettato l'utente: password errata o mancante "
                                                    "(si legge da ~/.pgpass o da PGPASSWORD) (%1)")
                                         .arg(why));
    if (why.contains(QStringLiteral("does not exist")) && why.contains(QStringLiteral("database")))
        return withKind(failure::other(where, QStringLiteral("il database non esiste (%1)").arg(why)),
                        StoreError::Kind::Missing);
    if (why.contains(QStringLiteral("permission denied")))
        return failure::readOnly(where, QStringLiteral("l'utente non ha i permessi necessari (%1)").arg(why));
    return failure::other(where, QStringLiteral("impossibile collegarsi al server (%1)").arg(why));
}

QSqlDatabase connect(const QString& name, const PostgresAddress& address)
{
    const QString where = address.display();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    StoreError refused;
    if (!db.isValid()) {
        refused = failure::other(where, QStringLiteral("manca il modulo PostgreSQL di Qt (pacchetto libqt6sql6-psql)"));
    } else {
        db.setHostName(address.host);
        if (address.port != 0)
            db.setPort(address.port);
        db.setUserName(address.user);
        db.setDatabaseName(address.database);
        db.setConnectOptions(address.connectOptions());
        if (db.open())
            try {
                run(db, where, QStringLiteral("SET client_encoding = 'UTF8'"));
                return db;
            } catch (const StoreError& error) {
                refused = error;
            }
        else
            refused = connectFailure(where, db.lastError());
    }
    // Nothing of a connection that failed is left registered under its name.
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
    throw refused;
}

QSqlQuery prepare(QSqlDatabase& db, const QString& where, const QString& sql)
{
    return sql::prepare(db, where, sql, failure);
}

void exec(QSqlQuery& query, const QString& where)
{
    sql::exec(query, where, failure);
}

QSqlQuery run(QSqlDatabase& db, const QString& where, const QString& sql)
{
    return sql::run(db, where, sql, failure);
}

QVariant value(QSqlDatabase& db, const QString& where, const QString& sql)
{
    QSqlQuery query = run(db, where, sql);
    return query.next() ? query.value(0) : QVariant();
}

Transaction::Transaction(QSqlDatabase& db, const QString& where)
    : sql::Transaction(db, where, QStringLiteral("BEGIN"), failure)
{
}

namespace {

// The first release's layout: the file's, with the server's types. Dates
// are milliseconds since 1970 in UTC as in the file, so that a store moves
// between the two unchanged; ids are given by the server unless a copy
// brings its own. A run's customers have besides their claim when several
// runners share the run: which claim holds them (a token), whose, and until
// when (the server's clock; for a non raggiunta without a claim, the time
// before which it is not called again).
const QStringList firstLayout = {
    QStringLiteral("CREATE TABLE pradix_store (application TEXT NOT NULL, version INTEGER NOT NULL)"),
    QStringLiteral("INSERT INTO pradix_store (application, version) VALUES ('pradix-fleet', 0)"),
    QStringLiteral("CREATE TABLE runs ("
                   " id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                   " started BIGINT NOT NULL,"
                   " ended BIGINT,"
                   " resumed BIGINT,"
                   " ports TEXT NOT NULL,"
                   " host TEXT NOT NULL,"
                   " pid BIGINT NOT NULL,"
                   " end_state TEXT NOT NULL,"
                   " customers INTEGER NOT NULL)"),
    QStringLiteral("CREATE TABLE boxes ("
                   " id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                   " number TEXT NOT NULL UNIQUE,"
                   " card INTEGER NOT NULL,"
                   " surname TEXT NOT NULL,"
                   " name TEXT NOT NULL,"
                   " last_outcome TEXT,"
                   " last_audit BIGINT,"
                   " last_success BIGINT,"
                   " last_change BIGINT,"
                   " failing_since BIGINT,"
                   " failures_in_row INTEGER NOT NULL DEFAULT 0,"
                   " last_failed_run BIGINT,"
                   " differing_fields INTEGER NOT NULL DEFAULT 0,"
                   " version_id BIGINT)"),
    QStringLiteral("CREATE TABLE versions ("
                   " id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                   " box_id BIGINT NOT NULL REFERENCES boxes(id),"
                   " sha256 BYTEA NOT NULL,"
                   " first_seen BIGINT NOT NULL,"
                   " last_seen BIGINT NOT NULL,"
                   " times_seen INTEGER NOT NULL,"
                   " bytes BYTEA NOT NULL,"
                   " UNIQUE (box_id, sha256))"),
    QStringLiteral("ALTER TABLE boxes ADD FOREIGN KEY (version_id) REFERENCES versions(id)"),
    QStringLiteral("CREATE TABLE sessions ("
                   " id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                   " run_id BIGINT NOT NULL REFERENCES runs(id),"
                   " box_id BIGINT NOT NULL REFERENCES boxes(id),"
                   " round INTEGER NOT NULL,"
                   " started BIGINT NOT NULL,"
                   " ended BIGINT NOT NULL,"
                   " outcome TEXT NOT NULL,"
                   " port TEXT NOT NULL,"
                   " host TEXT NOT NULL,"
                   " detail TEXT NOT NULL,"
                   " version_id BIGINT REFERENCES versions(id),"
                   " clock_text TEXT NOT NULL,"
                   " device_text TEXT NOT NULL,"
                   " since BIGINT)"),
    QStringLiteral("CREATE INDEX sessions_by_box ON sessions (box_id, started)"),
    QStringLiteral("CREATE TABLE run_customers ("
                   " run_id BIGINT NOT NULL REFERENCES runs(id),"
                   " position INTEGER NOT NULL,"
                   " card INTEGER NOT NULL,"
                   " surname TEXT NOT NULL,"
                   " name TEXT NOT NULL,"
                   " number TEXT NOT NULL,"
                   " attempts INTEGER NOT NULL DEFAULT 0,"
                   " last_session BIGINT REFERENCES sessions(id),"
                   " claim_token BIGINT,"
                   " claimed_by TEXT,"
                   " lease_until BIGINT,"
                   " PRIMARY KEY (run_id, position))"),
    QStringLiteral("CREATE SEQUENCE claim_tokens"),
    QStringLiteral("CREATE TABLE differences ("
                   " session_id BIGINT NOT NULL REFERENCES sessions(id),"
                   " position INTEGER NOT NULL,"
                   " association INTEGER NOT NULL,"
                   " field TEXT NOT NULL,"
                   " card_value TEXT NOT NULL,"
                   " box_value TEXT NOT NULL,"
                   " PRIMARY KEY (session_id, position))"),
};

// The second: a shared run's customers in the order they are claimed, so a
// claim reads from the first one still open instead of every customer of
// the run (ten thousand on a big night) each time.
const QStringList claimOrder = {
    QStringLiteral("CREATE INDEX run_customers_by_turn ON run_customers (run_id, (last_session IS NOT NULL), position)"),
};

} // namespace

const std::vector<Migration>& migrations()
{
    static const std::vector<Migration> steps = { { 1, firstLayout }, { 2, claimOrder } };
    return steps;
}

int currentVersion()
{
    return migrations().back().to;
}

Identity identify(QSqlDatabase& db, const QString& where)
{
    // One statement, one view of the catalogue: another runner may be making
    // the layout meanwhile.
    QSqlQuery seen = run(db, where, QStringLiteral("SELECT to_regclass('pradix_store') IS NOT NULL,"
                                                   " (SELECT count(*) FROM pg_catalog.pg_tables"
                                                   " WHERE schemaname = current_schema())"));
    if (!seen.next())
        throw failure::other(where, QStringLiteral("il server non ha descritto il database"));
    const bool marked = seen.value(0).toBool();
    const int tables = seen.value(1).toInt();
    seen.finish();
    if (marked) {
        QSqlQuery query = run(db, where, QStringLiteral("SELECT application, version FROM pradix_store"));
        if (query.next() && query.value(0).toString() == QLatin1String("pradix-fleet"))
            return { Identity::Kind::Store, query.value(1).toInt() };
        return { Identity::Kind::Foreign, 0 };
    }
    return { tables == 0 ? Identity::Kind::Empty : Identity::Kind::Foreign, 0 };
}

void bringUp(QSqlDatabase& db, const QString& where, const std::vector<Migration>& steps)
{
    Transaction transaction(db, where);
    run(db, where, QStringLiteral("SELECT pg_advisory_xact_lock(%1, %2)").arg(LockSpace).arg(SchemaLock));
    // Another runner may have brought it up while this one waited.
    const Identity identity = identify(db, where);
    if (identity.kind == Identity::Kind::Foreign)
        throw foreignDatabase(where);
    if (identity.version > steps.back().to)
        throw failure::newerSchema(where, identity.version, steps.back().to);
    if (identity.version == steps.back().to)
        return;
    const int reached = sql::runSteps(db, where, identity.version, steps, failure);
    run(db, where, QStringLiteral("UPDATE pradix_store SET version = %1").arg(reached));
    transaction.commit();
}

} // namespace fleet::pg
