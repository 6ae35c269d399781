#pragma once

// A big fleet store for the benchmarks of what reads it (`history`, `audit
// status`, `audit report`): 10,000 boxes called every night for a year.
//
// This is a fixture, not the audit: its rows are made by bulk SQL in one
// transaction straight into the store's own layout (made by the store), so
// that a year of nights takes seconds instead of a year. The nights are
// regular: about 90 in 100 sessions "uguale", 6 "diversa" (two fields each),
// 4 "non raggiunta"; each box holds two versions, the card's table and
// another; the box's state is its last night's.
//
// The store is built once and kept beside the benchmark programs, under a
// name that says its size and the fixture's and layout's versions; it is
// made aside and renamed when whole, so a build that was stopped is never
// taken for a fixture.

#include "fleet/FleetStore.h"
#include "fleet/PostgresAddress.h"
#include "fleet/PostgresSql.h"
#include "fleet/SqliteSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cstdio>
#include <utility>
#include <vector>

namespace bench {

struct FleetFixture
{
    QString path; // empty when it could not be made
    int boxes = 0;
    int runs = 0;
    qint64 lastRun = 0;
    double buildSeconds = 0; // 0 when an earlier build was found
    // The dialled number of box `i` (1..boxes).
    static QString number(int i) { return QStringLiteral("0%1").arg(3000000 + i); }
};

namespace fixture {

// Midnight of the first night, in milliseconds since 1970 (UTC).
constexpr qint64 FirstNight = 1767225600000; // 2026-01-01
constexpr qint64 Day = 86400000;
// Changes whenever the rows below change, so an old fixture is not reused.
constexpr int FixtureVersion = 1;

// Every (run, box) pair, runs outer: rows come in id order.
inline QString pairs(int boxes, int runs)
{
    return QStringLiteral("WITH RECURSIVE r(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM r WHERE n < %2),"
                          " b(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM b WHERE n < %1),"
                          " p(run, box, k) AS (SELECT r.n, b.n, (b.n * 7919 + r.n * 104729) % 100 FROM r, b) ")
        .arg(boxes)
        .arg(runs);
}

// What the two engines spell differently: 32 bytes unique to a box's
// version (of the statement's columns box and v), and the table's 3584 bytes.
struct Dialect
{
    QString digest;
    QString table;
};

inline Dialect sqliteDialect()
{
    return { QStringLiteral("randomblob(32)"), QStringLiteral("zeroblob(3584)") };
}

inline Dialect postgresDialect()
{
    return { QStringLiteral("sha256(int8send(CAST(2 * box + v AS BIGINT)))"), QStringLiteral("decode(repeat('00', 3584), 'hex')") };
}

// The rows, in SQL both engines run; dates are reckoned in 64 bits (the
// server's plain integers have 32).
inline QStringList rows(int boxes, int runs, const Dialect& dialect = sqliteDialect())
{
    const QString pairsOf = pairs(boxes, runs);
    const QString boxesOf = pairs(boxes, 1);
    const QString night = QStringLiteral("%1 + (run - 1) * CAST(%2 AS BIGINT)").arg(FirstNight).arg(Day);
    const QString lastSession = QStringLiteral("%1 + b.n").arg(qint64(runs - 1) * boxes);
    return {
        QStringLiteral("WITH RECURSIVE r(run) AS (SELECT 1 UNION ALL SELECT run + 1 FROM r WHERE run < %1)"
                       " INSERT INTO runs (id, started, ended, ports, host, pid, end_state, customers)"
                       " SELECT run, %2 + 7200000, %2 + 18000000, '[\"com2\",\"com3\"]', 'officina', 1, 'finita', %3"
                       " FROM r")
            .arg(runs)
            .arg(night)
            .arg(boxes),
        boxesOf + QStringLiteral("INSERT INTO versions (id, box_id, sha256, first_seen, last_seen, times_seen, bytes)"
                                 " SELECT 2 * box - 1 + v, box, %4, %1, %1 + CAST(%2 AS BIGINT) * %3, 1, %5"
                                 " FROM p, (SELECT 0 AS v UNION ALL SELECT 1) AS kind")
                      .arg(FirstNight)
                      .arg(Day)
                      .arg(runs)
                      .arg(dialect.digest, dialect.table),
        pairsOf + QStringLiteral("INSERT INTO sessions (id, run_id, box_id, round, started, ended, outcome, port, host,"
                                 " detail, version_id, clock_text, device_text, since)"
                                 " SELECT (run - 1) * %1 + box, run, box, 0, %2 + 7200000 + box * 1000,"
                                 " %2 + 7240000 + box * 1000,"
                                 " CASE WHEN k < 90 THEN 'uguale' WHEN k < 96 THEN 'diversa' ELSE 'non raggiunta' END,"
                                 " CASE box % 2 WHEN 0 THEN 'com2' ELSE 'com3' END, 'officina',"
                                 " CASE WHEN k < 96 THEN '' ELSE 'nessuna risposta' END,"
                                 " CASE WHEN k < 90 THEN 2 * box - 1 WHEN k < 96 THEN 2 * box END,"
                                 " '02:00 lun', 'KOLVAR22 V1.0', %3 FROM p")
                      .arg(boxes)
                      .arg(night)
                      .arg(FirstNight),
        QStringLiteral("INSERT INTO differences (session_id, position, association, field, card_value, box_value)"
                       " SELECT id, f.position, f.association, f.field, f.card, f.box FROM sessions,"
                       " (SELECT 0 AS position, 12 AS association, 'end' AS field, '1800' AS card, '1930' AS box"
                       "  UNION ALL SELECT 1, 40, 'carrier', '1055', '1033') f"
                       " WHERE outcome = 'diversa'"),
        pairsOf + QStringLiteral("INSERT INTO run_customers (run_id, position, card, surname, name, number, attempts,"
                                 " last_session)"
                                 " SELECT run, box - 1, box, 'COGNOME' || box, 'NOME', '0' || (3000000 + box), 1,"
                                 " (run - 1) * %1 + box FROM p")
                      .arg(boxes),
        QStringLiteral("WITH RECURSIVE b(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM b WHERE n < %1)"
                       " INSERT INTO boxes (id, number, card, surname, name, last_outcome, last_audit, last_success,"
                       " last_change, failing_since, failures_in_row, last_failed_run, differing_fields, version_id)"
                       " SELECT b.n, '0' || (3000000 + b.n), b.n, 'COGNOME' || b.n, 'NOME', s.outcome, s.ended,"
                       " CASE WHEN s.version_id IS NULL THEN s.ended - %2 ELSE s.ended END, %3,"
                       " CASE WHEN s.version_id IS NULL THEN s.ended END,"
                       " CASE WHEN s.version_id IS NULL THEN 1 ELSE 0 END,"
                       " CASE WHEN s.version_id IS NULL THEN s.run_id END,"
                       " CASE WHEN s.outcome = 'diversa' THEN 2 ELSE 0 END, s.version_id"
                       " FROM b JOIN sessions s ON s.id = %4")
            .arg(boxes)
            .arg(Day)
            .arg(FirstNight)
            .arg(lastSession),
    };
}

// Runs `sql` on an open database, up to the first statement that fails;
// false (and a word on stderr) then.
inline bool runAll(QSqlDatabase& db, const QStringList& sql)
{
    for (const QString& statement : sql) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            std::fprintf(stderr, "fleet fixture: %s\n  %s\n", qPrintable(query.lastError().text()),
                         qPrintable(statement.left(200)));
            return false;
        }
    }
    return true;
}

// Runs `sql` on the file as a plain database.
inline bool runOn(const QString& path, const QStringList& sql)
{
    bool done = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fleet-fixture"));
        db.setDatabaseName(path);
        done = db.open() && runAll(db, sql);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fleet-fixture"));
    return done;
}

// The first two columns of every row of `sql`.
inline std::vector<std::pair<QString, QString>> columnPairs(QSqlDatabase& db, const QString& sql)
{
    std::vector<std::pair<QString, QString>> found;
    QSqlQuery query(sql, db);
    while (query.next())
        found.emplace_back(query.value(0).toString(), query.value(1).toString());
    return found;
}

// The statements that fill the store on the server `db` reaches, whose
// layout the store has made: one transaction, the indexes that back no
// constraint made after the rows, the checks of references left out (the
// rows are whole by construction, and a box's versions come before the box,
// as a restore does), and the identity columns' next values past the rows.
inline QStringList serverRows(QSqlDatabase& db, int boxes, int runs)
{
    const auto indexes = columnPairs(db, QStringLiteral("SELECT indexname, indexdef FROM pg_indexes"
                                                    " WHERE schemaname = current_schema()"
                                                    " AND indexname NOT IN (SELECT conname FROM pg_constraint)"));
    const auto identities = columnPairs(db, QStringLiteral("SELECT table_name, column_name FROM information_schema.columns"
                                                       " WHERE table_schema = current_schema() AND is_identity = 'YES'"));
    QStringList sql = { QStringLiteral("BEGIN"), QStringLiteral("SET LOCAL session_replication_role = replica") };
    for (const auto& [name, made] : indexes)
        sql << QStringLiteral("DROP INDEX %1").arg(name);
    sql << rows(boxes, runs, postgresDialect());
    for (const auto& [name, made] : indexes)
        sql << made;
    for (const auto& [table, column] : identities)
        sql << QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', '%2'), (SELECT max(%2) FROM %1))")
                   .arg(table, column);
    sql << QStringLiteral("COMMIT");
    return sql;
}

// The store's own indexes, dropped for the bulk rows and made again after
// them (made from sorted rows, they take a fraction of the time).
inline QStringList indexes(const QString& path)
{
    QStringList made;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fleet-indexes"));
    db.setDatabaseName(path);
    if (db.open()) {
        QSqlQuery query(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL"), db);
        while (query.next())
            made << query.value(0).toString();
    }
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("fleet-indexes"));
    return made;
}

} // namespace fixture

// The fixture of `boxes` boxes and `runs` nightly runs, built on first use.
inline FleetFixture fleetFixture(int boxes = 10000, int runs = 365)
{
    FleetFixture made;
    made.boxes = boxes;
    made.runs = runs;
    made.lastRun = runs;
    const QString path = QCoreApplication::applicationDirPath()
        + QStringLiteral("/fleet-fixture-%1x%2-f%3-s%4.sqlite")
              .arg(boxes)
              .arg(runs)
              .arg(fixture::FixtureVersion)
              .arg(fleet::sqlite::currentVersion());
    if (QFile::exists(path)) {
        made.path = path;
        return made;
    }
    QElapsedTimer timer;
    timer.start();
    const QString aside = path + QStringLiteral(".building");
    for (const QString& old : { aside, aside + QStringLiteral("-wal"), aside + QStringLiteral("-shm") })
        QFile::remove(old);
    try {
        fleet::openStore(aside, fleet::OpenMode::Write);
    } catch (const fleet::StoreError& error) {
        std::fprintf(stderr, "fleet fixture: %s\n", qPrintable(error.message));
        return made;
    }
    const QStringList indexes = fixture::indexes(aside);
    QStringList sql = { QStringLiteral("PRAGMA journal_mode = DELETE"), QStringLiteral("PRAGMA synchronous = OFF"),
                        QStringLiteral("PRAGMA cache_size = -262144"), QStringLiteral("BEGIN") };
    for (const QString& index : indexes)
        sql << QStringLiteral("DROP INDEX %1").arg(index.section(QLatin1Char(' '), 2, 2));
    sql << fixture::rows(boxes, runs) << indexes << QStringLiteral("COMMIT") << QStringLiteral("PRAGMA journal_mode = WAL");
    if (!fixture::runOn(aside, sql) || !QFile::rename(aside, path))
        return made;
    made.path = path;
    made.buildSeconds = double(timer.elapsed()) / 1000.0;
    return made;
}

} // namespace bench

namespace bench {

// The same fixture on a PostgreSQL server, into the empty database at
// `location` (as the store's address names it): the store makes its layout,
// the server makes the rows from a few statements, and then settles them as
// its autovacuum would after a load (statistics, visibility), so what is
// measured is a server that has run for a year. The seconds it took, or a
// negative number (and a word on stderr) when it failed.
inline double fillServer(const QString& location, int boxes = 10000, int runs = 365)
{
    QElapsedTimer timer;
    timer.start();
    const QString connection = QStringLiteral("fleet-fixture-server");
    bool done = false;
    try {
        fleet::openStore(location, fleet::OpenMode::Write);
        QSqlDatabase db = fleet::pg::connect(connection, fleet::parsePostgresAddress(location));
        done = fixture::runAll(db, fixture::serverRows(db, boxes, runs))
            && fixture::runAll(db, { QStringLiteral("VACUUM ANALYZE") });
    } catch (const fleet::StoreError& error) {
        std::fprintf(stderr, "fleet fixture: %s\n", qPrintable(error.message));
    }
    QSqlDatabase::removeDatabase(connection);
    return done ? double(timer.elapsed()) / 1000.0 : -1;
}

} // namespace bench
