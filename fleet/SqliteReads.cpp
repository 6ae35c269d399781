// What the store knows, read back: runs, their customers, boxes, histories
// and versions.
#include "fleet/SqliteFleetStore.h"

#include "fleet/SqlSteps.h"
#include "fleet/StoreValues.h"

#include <QHash>
#include <QSqlQuery>

namespace fleet {

using namespace sqlite;

namespace {

const QString runColumns = QStringLiteral("id, started, ended, ports, host, pid, end_state, customers");
const QString boxColumns = QStringLiteral("number, card, surname, name, last_outcome, last_audit, last_success,"
                                          " last_change, failing_since, failures_in_row, differing_fields");

std::optional<Outcome> outcomeFrom(const QVariant& value)
{
    return value.isNull() ? std::nullopt : outcomeFromWord(value.toString());
}

// The differences of the sessions `sessionIds` selects (a query whose one
// value is bound to `key`), by session.
QHash<qint64, std::vector<FieldDifference>> differencesOf(QSqlDatabase& db, const QString& path,
                                                          const QString& sessionIds, const QVariant& key)
{
    QSqlQuery query = prepare(db, path,
                              QStringLiteral("SELECT session_id, association, field, card_value, box_value"
                                             " FROM differences WHERE session_id IN (%1)"
                                             " ORDER BY session_id, position")
                                  .arg(sessionIds));
    query.addBindValue(key);
    exec(query, path);
    QHash<qint64, std::vector<FieldDifference>> found;
    while (query.next()) {
        FieldDifference difference;
        difference.association = query.value(1).toInt();
        difference.field = query.value(2).toString();
        difference.cardValue = query.value(3).toString();
        difference.boxValue = query.value(4).toString();
        found[query.value(0).toLongLong()].push_back(difference);
    }
    return found;
}

Version versionFrom(QSqlQuery& query)
{
    Version version;
    version.id = query.value(0).toLongLong();
    version.number = query.value(1).toString();
    version.firstSeen = dateFrom(query.value(2));
    version.lastSeen = dateFrom(query.value(3));
    version.timesSeen = query.value(4).toInt();
    version.table = query.value(5).toByteArray();
    return version;
}

const QString versionColumns = QStringLiteral("v.id, b.number, v.first_seen, v.last_seen, v.times_seen, v.bytes"
                                              " FROM versions v JOIN boxes b ON b.id = v.box_id");

} // namespace

RunInfo SqliteFleetStore::runFrom(QSqlQuery& query)
{
    RunInfo info;
    info.id = query.value(0).toLongLong();
    info.started = dateFrom(query.value(1));
    info.ended = dateFrom(query.value(2));
    info.ports = portsFrom(query.value(3));
    info.host = query.value(4).toString();
    info.pid = query.value(5).toLongLong();
    info.end = runEndFromWord(query.value(6).toString()).value_or(RunEnd::Failed);
    info.customers = query.value(7).toInt();
    QSqlQuery counts = prepare(db_, path_,
                               QStringLiteral("SELECT s.outcome, count(*) FROM run_customers c"
                                              " JOIN sessions s ON s.id = c.last_session"
                                              " WHERE c.run_id = ? GROUP BY s.outcome"));
    counts.addBindValue(info.id);
    exec(counts, path_);
    while (counts.next())
        if (const std::optional<Outcome> outcome = outcomeFrom(counts.value(0)))
            info.counts[size_t(*outcome)] = counts.value(1).toInt();
    return info;
}

std::optional<RunInfo> SqliteFleetStore::oneRun(const QString& where, qint64 id)
{
    QSqlQuery query = prepare(db_, path_, QStringLiteral("SELECT %1 FROM runs %2").arg(runColumns, where));
    if (id != 0)
        query.addBindValue(id);
    exec(query, path_);
    if (!query.next())
        return std::nullopt;
    return runFrom(query);
}

std::optional<RunInfo> SqliteFleetStore::run(qint64 id)
{
    return oneRun(QStringLiteral("WHERE id = ?"), id);
}

std::optional<RunInfo> SqliteFleetStore::lastRun()
{
    return oneRun(QStringLiteral("ORDER BY id DESC LIMIT 1"), 0);
}

std::optional<RunInfo> SqliteFleetStore::lastInterruptedRun()
{
    std::optional<RunInfo> last = lastRun();
    if (!last)
        return std::nullopt;
    if (last->end == RunEnd::Interrupted)
        return last;
    // Still "in corso" with nobody holding the lock: its process died.
    if (last->end == RunEnd::Running && !(last->id == activeRun_ || RunLock::taken(path_)))
        return last;
    return std::nullopt;
}

std::vector<RunRow> SqliteFleetStore::runRows(qint64 runId)
{
    QSqlQuery query = prepare(db_, path_,
                              QStringLiteral("SELECT c.card, c.surname, c.name, c.number, c.attempts, s.id, s.outcome,"
                                             " s.port, s.host, s.ended, s.detail, s.since"
                                             " FROM run_customers c LEFT JOIN sessions s ON s.id = c.last_session"
                                             " WHERE c.run_id = ? ORDER BY c.position"));
    query.addBindValue(runId);
    exec(query, path_);
    std::vector<RunRow> rows;
    std::vector<qint64> sessions;
    while (query.next()) {
        RunRow row;
        row.customer = { query.value(0).toInt(), query.value(1).toString(), query.value(2).toString(),
                         query.value(3).toString() };
        row.attempts = query.value(4).toInt();
        sessions.push_back(query.value(5).toLongLong());
        row.outcome = outcomeFrom(query.value(6));
        row.port = query.value(7).toString();
        row.host = query.value(8).toString();
        row.ended = dateFrom(query.value(9));
        row.detail = query.value(10).toString();
        row.since = dateFrom(query.value(11));
        rows.push_back(std::move(row));
    }
    query.finish();
    auto differences = differencesOf(db_, path_,
                                     QStringLiteral("SELECT last_session FROM run_customers WHERE run_id = ?"), runId);
    for (size_t i = 0; i < rows.size(); ++i)
        if (const auto found = differences.find(sessions[i]); found != differences.end())
            rows[i].differences = std::move(*found);
    return rows;
}

BoxState SqliteFleetStore::boxFrom(QSqlQuery& query) const
{
    BoxState state;
    state.number = query.value(0).toString();
    state.card = query.value(1).toInt();
    state.surname = query.value(2).toString();
    state.name = query.value(3).toString();
    state.lastOutcome = outcomeFrom(query.value(4));
    state.lastAudit = dateFrom(query.value(5));
    state.lastSuccess = dateFrom(query.value(6));
    state.lastChange = dateFrom(query.value(7));
    state.failingSince = dateFrom(query.value(8));
    state.failuresInRow = query.value(9).toInt();
    state.differingFields = query.value(10).toInt();
    return state;
}

std::vector<BoxState> SqliteFleetStore::boxes()
{
    QSqlQuery query = sqlite::run(db_, path_, QStringLiteral("SELECT %1 FROM boxes ORDER BY number").arg(boxColumns));
    std::vector<BoxState> states;
    while (query.next())
        states.push_back(boxFrom(query));
    return states;
}

std::optional<BoxState> SqliteFleetStore::box(const QString& number)
{
    QSqlQuery query = prepare(db_, path_, QStringLiteral("SELECT %1 FROM boxes WHERE number = ?").arg(boxColumns));
    query.addBindValue(number);
    exec(query, path_);
    if (!query.next())
        return std::nullopt;
    return boxFrom(query);
}

// One pass over the box's sessions, a "diversa" one once per field that
// differed: the sessions of a box lie one night apart in the file, so a
// second pass would read every one of them again.
std::vector<HistoryEntry> SqliteFleetStore::history(const QString& number)
{
    QSqlQuery query = prepare(db_, path_,
                              QStringLiteral("SELECT s.id, s.run_id, s.started, s.ended, s.outcome, s.port, s.host,"
                                             " s.detail, s.version_id, d.association, d.field, d.card_value,"
                                             " d.box_value FROM sessions s"
                                             " LEFT JOIN differences d ON d.session_id = s.id AND s.outcome = 'diversa'"
                                             " WHERE s.box_id = (SELECT id FROM boxes WHERE number = ?)"
                                             " ORDER BY s.started, s.id, d.position"));
    query.addBindValue(number);
    exec(query, path_);
    std::vector<HistoryEntry> entries;
    qint64 last = 0;
    while (query.next()) {
        const qint64 session = query.value(0).toLongLong();
        if (entries.empty() || session != last) {
            HistoryEntry entry;
            entry.runId = query.value(1).toLongLong();
            entry.started = dateFrom(query.value(2));
            entry.ended = dateFrom(query.value(3));
            entry.outcome = outcomeFrom(query.value(4)).value_or(Outcome::Unreached);
            entry.port = query.value(5).toString();
            entry.host = query.value(6).toString();
            entry.detail = query.value(7).toString();
            entry.versionId = query.value(8).toLongLong();
            entries.push_back(std::move(entry));
            last = session;
        }
        if (!query.isNull(9))
            entries.back().differences.push_back({ query.value(9).toInt(), query.value(10).toString(),
                                                   query.value(11).toString(), query.value(12).toString() });
    }
    return entries;
}

std::vector<Version> SqliteFleetStore::versions(const QString& number)
{
    QSqlQuery query = prepare(db_, path_,
                              QStringLiteral("SELECT %1 WHERE b.number = ? ORDER BY v.first_seen, v.id").arg(versionColumns));
    query.addBindValue(number);
    exec(query, path_);
    std::vector<Version> found;
    while (query.next())
        found.push_back(versionFrom(query));
    return found;
}

std::optional<Version> SqliteFleetStore::version(qint64 id)
{
    QSqlQuery query = prepare(db_, path_, QStringLiteral("SELECT %1 WHERE v.id = ?").arg(versionColumns));
    query.addBindValue(id);
    exec(query, path_);
    if (!query.next())
        return std::nullopt;
    return versionFrom(query);
}

} // namespace fleet
