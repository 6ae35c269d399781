// A run shared by several runners on the server: customers claimed one at a
// time with a lease, each session recorded with the claim's release.
#include "fleet/PostgresFleetStore.h"

#include "fleet/StoreFailure.h"
#include "fleet/StoreValues.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

#include <unistd.h>

namespace fleet {


namespace {

// The server's clock in milliseconds since 1970: the runners' clocks may
// disagree, a lease must not.
const QString serverNow = QStringLiteral("(extract(epoch FROM clock_timestamp()) * 1000)::bigint");

// A customer still to be called: never called in the run, or non raggiunta
// with sessions left (bound: 1 + rounds).
const QString stillOpen = QStringLiteral("c.number <> '' AND (c.last_session IS NULL"
                                         " OR (s.outcome = 'non raggiunta' AND c.attempts < ?))");

// What the runners hear when one of them records a session or gives a
// customer back.
const QString claimsChannel = QStringLiteral("pradix_claims");

} // namespace

void PostgresFleetStore::joinRun(qint64 id, const std::vector<Customer>& customers, const QDateTime& at)
{
    Q_UNUSED(at);
    checkWritable("unirsi a un controllo");
    if (activeRun_ != 0)
        throw failure::other(where_, QStringLiteral("il controllo %1 è ancora in corso").arg(activeRun_));
    const std::optional<RunInfo> info = run(id);
    if (!info || info->end != RunEnd::Running)
        throw failure::other(where_, QStringLiteral("il controllo %1 non è in corso").arg(id));
    QSqlQuery query = prepare(QStringLiteral("SELECT card, number FROM run_customers WHERE run_id = ?"
                                                          " ORDER BY position"));
    query.addBindValue(id);
    exec(query);
    size_t i = 0;
    bool same = true;
    for (; query.next(); ++i)
        same = same && i < customers.size() && customers[i].card == query.value(0).toInt()
            && customers[i].number == query.value(1).toString();
    if (!same || i != customers.size())
        throw failure::other(where_, QStringLiteral("il controllo %1 è di un'altra rubrica (o la rubrica è cambiata "
                                                    "da quando è iniziato): un controllo è di una rubrica sola")
                                         .arg(id));
    loadPositions(id);
    activeRun_ = id;
}

// One statement, its own transaction: the row is locked from the moment it
// is picked until the claim is committed; another runner skips it meanwhile,
// and afterwards sees it claimed. The customers are read in the order of the
// index run_customers_by_turn, from the first still open.
std::optional<Claim> PostgresFleetStore::claimNext(qint64 runId, int rounds, int leaseMs)
{
    checkActiveRun(runId);
    const Kept take = kept(QStringLiteral("UPDATE run_customers c SET claim_token = nextval('claim_tokens'),"
                                          " claimed_by = ?, lease_until = %2 + ?"
                                          " FROM (SELECT c.run_id, c.position FROM run_customers c"
                                          " LEFT JOIN sessions s ON s.id = c.last_session"
                                          " WHERE c.run_id = ? AND %1"
                                          " AND (c.lease_until IS NULL OR c.lease_until <= %2)"
                                          " ORDER BY c.last_session IS NOT NULL, c.position"
                                          " LIMIT 1 FOR UPDATE OF c SKIP LOCKED) AS picked"
                                          " WHERE c.run_id = picked.run_id AND c.position = picked.position"
                                          " RETURNING c.position, c.card, c.surname, c.name, c.number, c.attempts,"
                                          " c.claim_token")
                              .arg(stillOpen, serverNow));
    take->addBindValue(QStringLiteral("%1:%2").arg(QSysInfo::machineHostName()).arg(::getpid()));
    take->addBindValue(qint64(leaseMs));
    take->addBindValue(runId);
    take->addBindValue(1 + rounds);
    exec(*take);
    if (!take->next())
        return std::nullopt;
    Claim claim;
    claim.position = take->value(0).toInt();
    claim.customer = { take->value(1).toInt(), take->value(2).toString(), take->value(3).toString(),
                       take->value(4).toString() };
    claim.attempts = take->value(5).toInt();
    claim.token = take->value(6).toLongLong();
    // The row comes before the commit: the claim holds once the server has
    // answered the statement as a whole.
    if (take->next() || take->lastError().isValid())
        throw sqlFailure(take->lastError());
    return claim;
}

bool PostgresFleetStore::recordClaimed(qint64 runId, const Claim& claim, const SessionResult& result, int retryPauseMs)
{
    checkActiveRun(runId);
    validate(result);
    if (result.customer.card != claim.customer.card || result.customer.number != claim.customer.number)
        throw failure::other(where_, QStringLiteral("la chiamata alla scheda %1 non è quella presa (scheda %2)")
                                         .arg(result.customer.card)
                                         .arg(claim.customer.card));
    Transaction transaction(*this);
    {
        // The claim let go of, if it is still this one; the row stays locked
        // until the session is written. When the lease ran out and another
        // runner took the customer, its result counts and this one is dropped.
        // The others hear of it once it is committed.
        const Kept release = kept(QStringLiteral("UPDATE run_customers SET claim_token = NULL, claimed_by = NULL,"
                                                 " lease_until = CASE WHEN ? THEN %1 + ? ELSE NULL END"
                                                 " WHERE run_id = ? AND position = ? AND claim_token = ?"
                                                 " RETURNING pg_notify('%2', '')")
                                      .arg(serverNow, claimsChannel));
        release->addBindValue(result.outcome == Outcome::Unreached);
        release->addBindValue(qint64(retryPauseMs));
        release->addBindValue(runId);
        release->addBindValue(claim.position);
        release->addBindValue(claim.token);
        exec(*release);
        if (!release->next())
            return false;
    }
    writeSession(runId, claim.position, result);
    transaction.commit();
    return true;
}

void PostgresFleetStore::releaseClaim(qint64 runId, const Claim& claim)
{
    checkActiveRun(runId);
    QSqlQuery release = prepare(QStringLiteral("UPDATE run_customers SET claim_token = NULL, claimed_by = NULL,"
                                               " lease_until = NULL WHERE run_id = ? AND position = ?"
                                               " AND claim_token = ?"));
    release.addBindValue(runId);
    release.addBindValue(claim.position);
    release.addBindValue(claim.token);
    exec(release);
    if (release.numRowsAffected() > 0)
        statement(QStringLiteral("SELECT pg_notify('%1', '')").arg(claimsChannel));
}

bool PostgresFleetStore::runComplete(qint64 runId, int rounds)
{
    QSqlQuery open = prepare(QStringLiteral("SELECT count(*) FROM run_customers c"
                                            " LEFT JOIN sessions s ON s.id = c.last_session"
                                            " WHERE c.run_id = ? AND %1")
                                 .arg(stillOpen));
    open.addBindValue(runId);
    open.addBindValue(1 + rounds);
    exec(open);
    return open.next() && open.value(0).toInt() == 0;
}

// A runner hears the others through the server's notifications, which the
// connection delivers to this thread's event loop. Where the server cannot
// subscribe, the runner looks again on its timer, as it always does.
void PostgresFleetStore::watchClaims(std::function<void()> changed)
{
    QSqlDriver* driver = db_.driver();
    QObject::disconnect(watching_);
    if (!changed) {
        if (driver->subscribedToNotifications().contains(claimsChannel))
            driver->unsubscribeFromNotification(claimsChannel);
        return;
    }
    if (!driver->subscribedToNotifications().contains(claimsChannel) && !driver->subscribeToNotification(claimsChannel))
        return;
    watching_ = QObject::connect(driver, &QSqlDriver::notification, driver, [changed](const QString& name) {
        if (name == claimsChannel)
            changed();
    });
}

} // namespace fleet
