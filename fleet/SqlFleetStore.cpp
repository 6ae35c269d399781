#include "fleet/SqlFleetStore.h"

#include "fleet/StoreFailure.h"
#include "fleet/StoreValues.h"
#include "tables/TableFile.h"

#include <QCryptographicHash>
#include <QSet>
#include <QSqlError>
#include <QSysInfo>

#include <algorithm>

#include <unistd.h>

namespace fleet {

using sqlite::dateValue;
using sqlite::portsText;
using sqlite::textValue;

namespace {

// A table as a table file holds it: 128 lines of 26 bytes and CR LF.
constexpr int TableBytes = editor::TableFileLines * (editor::TableFileLineLength + 2);
// Longer than any number a dialling unit takes: anything longer is no number.
constexpr int MaxNumberLength = 64;

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

} // namespace

SqlFleetStore::SqlFleetStore(const QString& where, OpenMode mode)
    : where_(where)
    , mode_(mode)
{
}

// ---- statements

QSqlQuery SqlFleetStore::prepare(const QString& sql)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw sqlFailure(query.lastError());
    return query;
}

void SqlFleetStore::exec(QSqlQuery& query)
{
    if (!query.exec())
        throw sqlFailure(query.lastError());
}

QSqlQuery SqlFleetStore::statement(const QString& sql)
{
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw sqlFailure(query.lastError());
    return query;
}

qint64 SqlFleetStore::insertedId(QSqlQuery& insert)
{
    exec(insert);
    if (!insert.next())
        throw failure::other(where_, QStringLiteral("il database non ha restituito il numero della riga"));
    const qint64 id = insert.value(0).toLongLong();
    // The statement is done with before the transaction ends.
    insert.finish();
    return id;
}

SqlFleetStore::Kept SqlFleetStore::kept(const QString& sql)
{
    auto found = kept_.find(sql);
    if (found == kept_.end())
        found = kept_.emplace(sql, prepare(sql)).first;
    return Kept(found->second);
}

SqlFleetStore::Transaction::Transaction(SqlFleetStore& store)
    : store_(store)
{
    store_.statement(store_.beginStatement());
}

SqlFleetStore::Transaction::~Transaction()
{
    // After a full disk, an I/O error or a lost connection the engine may
    // have rolled back on its own already; a rollback with nothing open is
    // harmless then.
    if (open_)
        QSqlQuery(store_.db_).exec(QStringLiteral("ROLLBACK"));
}

void SqlFleetStore::Transaction::commit()
{
    store_.statement(QStringLiteral("COMMIT"));
    open_ = false;
}

// A box's row as a session finds it, and as the session leaves it.
struct SqlFleetStore::BoxRow
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

void SqlFleetStore::checkWritable(const char* what) const
{
    if (mode_ != OpenMode::Write)
        throw failure::other(where_, QStringLiteral("aperto in sola lettura, non si può %1").arg(QLatin1String(what)));
}

void SqlFleetStore::checkActiveRun(qint64 runId) const
{
    checkWritable("registrare");
    if (activeRun_ == 0 || runId != activeRun_)
        throw failure::other(where_, QStringLiteral("il controllo %1 non è in corso in questo processo").arg(runId));
}

// ---- the run

qint64 SqlFleetStore::startRun(const QStringList& ports, const std::vector<Customer>& customers,
                                    const QDateTime& at)
{
    checkWritable("avviare un controllo");
    if (activeRun_ != 0)
        throw failure::other(where_, QStringLiteral("il controllo %1 è ancora in corso").arg(activeRun_));
    QSet<int> cards;
    for (const Customer& customer : customers) {
        if (customer.card < 1 || cards.contains(customer.card))
            throw failure::other(where_, QStringLiteral("scheda %1 non valida o ripetuta").arg(customer.card));
        cards.insert(customer.card);
    }
    acquireRunLock();
    try {
        Transaction transaction(*this);
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

qint64 SqlFleetStore::insertRun(const QStringList& ports, int customers, const QDateTime& at)
{
    QSqlQuery insert = prepare(QStringLiteral("INSERT INTO runs (started, ports, host, pid, end_state, customers)"
                                              " VALUES (?, ?, ?, ?, ?, ?) RETURNING id"));
    insert.addBindValue(dateValue(at));
    insert.addBindValue(portsText(ports));
    insert.addBindValue(textValue(QSysInfo::machineHostName()));
    insert.addBindValue(qint64(::getpid()));
    insert.addBindValue(runEndWord(RunEnd::Running));
    insert.addBindValue(customers);
    return insertedId(insert);
}

void SqlFleetStore::insertRunCustomers(qint64 runId, const std::vector<Customer>& customers)
{
    QSqlQuery insert = prepare(QStringLiteral("INSERT INTO run_customers (run_id, position, card, surname, name, number)"
                                              " VALUES (?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < int(customers.size()); ++i) {
        const Customer& customer = customers[size_t(i)];
        insert.bindValue(0, runId);
        insert.bindValue(1, i);
        insert.bindValue(2, customer.card);
        insert.bindValue(3, textValue(customer.surname));
        insert.bindValue(4, textValue(customer.name));
        insert.bindValue(5, textValue(customer.number));
        exec(insert);
    }
}

void SqlFleetStore::resumeRun(qint64 id, const QStringList& ports, const QDateTime& at)
{
    checkWritable("riprendere un controllo");
    if (activeRun_ != 0)
        throw failure::other(where_, QStringLiteral("il controllo %1 è ancora in corso").arg(activeRun_));
    acquireRunLock();
    try {
        const std::optional<RunInfo> info = run(id);
        if (!info)
            throw failure::other(where_, QStringLiteral("il controllo %1 non esiste").arg(id));
        if (info->end == RunEnd::Finished)
            throw failure::other(where_, QStringLiteral("il controllo %1 è già finito").arg(id));
        Transaction transaction(*this);
        QSqlQuery update = prepare(QStringLiteral("UPDATE runs SET ports = ?, host = ?, pid = ?, end_state = ?,"
                                                  " ended = NULL, resumed = ? WHERE id = ?"));
        update.addBindValue(portsText(ports));
        update.addBindValue(textValue(QSysInfo::machineHostName()));
        update.addBindValue(qint64(::getpid()));
        update.addBindValue(runEndWord(RunEnd::Running));
        update.addBindValue(dateValue(at));
        update.addBindValue(id);
        exec(update);
        transaction.commit();
        loadPositions(id);
    } catch (...) {
        releaseRunLock();
        throw;
    }
    activeRun_ = id;
}

void SqlFleetStore::loadPositions(qint64 runId)
{
    QSqlQuery query = prepare(QStringLiteral("SELECT card, position FROM run_customers WHERE run_id = ?"));
    query.addBindValue(runId);
    exec(query);
    positions_.clear();
    while (query.next())
        positions_.insert(query.value(0).toInt(), query.value(1).toInt());
}

void SqlFleetStore::endRun(qint64 runId, RunEnd end, const QDateTime& at)
{
    checkActiveRun(runId);
    if (end == RunEnd::Running)
        throw failure::other(where_, QStringLiteral("un controllo non finisce \"in corso\""));
    Transaction transaction(*this);
    QSqlQuery update = prepare(QStringLiteral("UPDATE runs SET ended = ?, end_state = ? WHERE id = ?"));
    update.addBindValue(dateValue(at));
    update.addBindValue(runEndWord(end));
    update.addBindValue(runId);
    exec(update);
    transaction.commit();
    activeRun_ = 0;
    positions_.clear();
    releaseRunLock();
}

// ---- one session

void SqlFleetStore::validate(const SessionResult& result) const
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

void SqlFleetStore::recordSession(qint64 runId, const SessionResult& result)
{
    checkActiveRun(runId);
    validate(result);
    const auto position = positions_.constFind(result.customer.card);
    if (position == positions_.constEnd())
        throw failure::other(where_, QStringLiteral("la scheda %1 non fa parte del controllo %2")
                                         .arg(result.customer.card)
                                         .arg(runId));
    Transaction transaction(*this);
    writeSession(runId, *position, result);
    transaction.commit();
}

void SqlFleetStore::writeSession(qint64 runId, int position, const SessionResult& result)
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
    const Kept customer = kept(QStringLiteral("UPDATE run_customers SET attempts = attempts + 1, last_session = ?"
                                              " WHERE run_id = ? AND position = ?"));
    customer->addBindValue(sessionId);
    customer->addBindValue(runId);
    customer->addBindValue(position);
    exec(*customer);
}

// A box is made the first time it is called; where several writers share
// the store, its row stays locked until the session's transaction ends, so
// that two recording the same box one after the other each see the other's
// state.
SqlFleetStore::BoxRow SqlFleetStore::findOrMakeBox(const Customer& customer)
{
    {
        const Kept insert = kept(QStringLiteral("INSERT INTO boxes (number, card, surname, name) VALUES (?, ?, ?, ?)"
                                                " ON CONFLICT (number) DO NOTHING"));
        insert->addBindValue(textValue(customer.number));
        insert->addBindValue(customer.card);
        insert->addBindValue(textValue(customer.surname));
        insert->addBindValue(textValue(customer.name));
        exec(*insert);
    }
    const Kept find = kept(QStringLiteral("SELECT id, version_id, failures_in_row, differing_fields, last_failed_run,"
                                          " last_success, last_change, failing_since FROM boxes WHERE number = ?")
                           + forUpdate());
    find->addBindValue(textValue(customer.number));
    exec(*find);
    if (!find->next())
        throw failure::other(where_, QStringLiteral("la centralina %1 non si trova").arg(customer.number));
    BoxRow box;
    box.id = find->value(0).toLongLong();
    box.versionId = find->value(1).toLongLong();
    box.failuresInRow = find->value(2).toInt();
    box.differingFields = find->value(3).toInt();
    box.lastFailedRun = find->value(4).toLongLong();
    box.lastSuccess = find->value(5);
    box.lastChange = find->value(6);
    box.failingSince = find->value(7);
    return box;
}

// The table read, once per distinct content for the box: a table seen
// before is only seen once more.
qint64 SqlFleetStore::keepVersion(qint64 boxId, const SessionResult& result)
{
    const QByteArray digest = sha256(result.table);
    const qint64 ended = result.ended.toMSecsSinceEpoch();
    qint64 id = 0;
    qint64 firstSeen = ended;
    qint64 lastSeen = ended;
    {
        const Kept find = kept(QStringLiteral("SELECT id, first_seen, last_seen FROM versions"
                                              " WHERE box_id = ? AND sha256 = ?"));
        find->addBindValue(boxId);
        find->addBindValue(digest);
        exec(*find);
        if (find->next()) {
            id = find->value(0).toLongLong();
            firstSeen = std::min(find->value(1).toLongLong(), ended);
            lastSeen = std::max(find->value(2).toLongLong(), ended);
        }
    }
    if (id != 0) {
        const Kept seen = kept(QStringLiteral("UPDATE versions SET times_seen = times_seen + 1,"
                                              " first_seen = ?, last_seen = ? WHERE id = ?"));
        seen->addBindValue(firstSeen);
        seen->addBindValue(lastSeen);
        seen->addBindValue(id);
        exec(*seen);
        return id;
    }
    const Kept insert = kept(QStringLiteral("INSERT INTO versions (box_id, sha256, first_seen, last_seen, times_seen,"
                                            " bytes) VALUES (?, ?, ?, ?, 1, ?) RETURNING id"));
    insert->addBindValue(boxId);
    insert->addBindValue(digest);
    insert->addBindValue(ended);
    insert->addBindValue(ended);
    insert->addBindValue(result.table);
    return insertedId(*insert);
}

qint64 SqlFleetStore::insertSession(qint64 runId, const BoxRow& box, const SessionResult& result,
                                         qint64 versionId)
{
    const Kept insert = kept(QStringLiteral("INSERT INTO sessions (run_id, box_id, round, started, ended, outcome,"
                                            " port, host, detail, version_id, clock_text, device_text, since)"
                                            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id"));
    insert->addBindValue(runId);
    insert->addBindValue(box.id);
    insert->addBindValue(result.round);
    insert->addBindValue(dateValue(result.started));
    insert->addBindValue(dateValue(result.ended));
    insert->addBindValue(outcomeWord(result.outcome));
    insert->addBindValue(textValue(result.port));
    insert->addBindValue(textValue(result.host));
    insert->addBindValue(textValue(result.detail));
    insert->addBindValue(versionId > 0 ? QVariant(versionId) : QVariant());
    insert->addBindValue(textValue(result.clockText));
    insert->addBindValue(textValue(result.deviceText));
    insert->addBindValue(box.since);
    return insertedId(*insert);
}

void SqlFleetStore::insertDifferences(qint64 sessionId, const std::vector<FieldDifference>& differences)
{
    const Kept insert = kept(QStringLiteral("INSERT INTO differences (session_id, position, association, field,"
                                            " card_value, box_value) VALUES (?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < int(differences.size()); ++i) {
        const FieldDifference& difference = differences[size_t(i)];
        insert->bindValue(0, sessionId);
        insert->bindValue(1, i);
        insert->bindValue(2, difference.association);
        insert->bindValue(3, textValue(difference.field));
        insert->bindValue(4, textValue(difference.cardValue));
        insert->bindValue(5, textValue(difference.boxValue));
        exec(*insert);
    }
}

void SqlFleetStore::updateBox(const BoxRow& box, const SessionResult& result)
{
    const Kept update = kept(QStringLiteral("UPDATE boxes SET card = ?, surname = ?, name = ?, last_outcome = ?,"
                                            " last_audit = ?, last_success = ?, last_change = ?, failing_since = ?,"
                                            " failures_in_row = ?, last_failed_run = ?, differing_fields = ?,"
                                            " version_id = ? WHERE id = ?"));
    update->addBindValue(result.customer.card);
    update->addBindValue(textValue(result.customer.surname));
    update->addBindValue(textValue(result.customer.name));
    update->addBindValue(outcomeWord(result.outcome));
    update->addBindValue(dateValue(result.ended));
    update->addBindValue(box.lastSuccess);
    update->addBindValue(box.lastChange);
    update->addBindValue(box.failingSince);
    update->addBindValue(box.failuresInRow);
    update->addBindValue(box.lastFailedRun > 0 ? QVariant(box.lastFailedRun) : QVariant());
    update->addBindValue(box.differingFields);
    update->addBindValue(box.versionId > 0 ? QVariant(box.versionId) : QVariant());
    update->addBindValue(box.id);
    exec(*update);
}

} // namespace fleet
