#include "fleet/FleetStore.h"

#include "fleet/PostgresAddress.h"
#include "fleet/PostgresFleetStore.h"
#include "fleet/SqliteFleetStore.h"

#include <QDir>

namespace fleet {

QString outcomeWord(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Same:
        return QStringLiteral("uguale");
    case Outcome::Different:
        return QStringLiteral("diversa");
    case Outcome::NoSummary:
        return QStringLiteral("senza riepilogo");
    case Outcome::Unreached:
        return QStringLiteral("non raggiunta");
    case Outcome::Refused:
        return QStringLiteral("rifiutata");
    }
    return QString();
}

std::optional<Outcome> outcomeFromWord(const QString& word)
{
    for (int i = 0; i < OutcomeCount; ++i)
        if (outcomeWord(Outcome(i)) == word)
            return Outcome(i);
    return std::nullopt;
}

QString runEndWord(RunEnd end)
{
    switch (end) {
    case RunEnd::Running:
        return QStringLiteral("in corso");
    case RunEnd::Finished:
        return QStringLiteral("finita");
    case RunEnd::Interrupted:
        return QStringLiteral("interrotta");
    case RunEnd::Failed:
        return QStringLiteral("fallita");
    }
    return QString();
}

namespace {

[[noreturn]] void notShared(const FleetStore& store)
{
    StoreError error;
    error.message = QStringLiteral("L'archivio dei controlli \"%1\" è di una sola macchina: un controllo condiviso da "
                                   "più macchine (--join) vuole un archivio su un server PostgreSQL.")
                        .arg(store.location());
    throw error;
}

} // namespace

void FleetStore::joinRun(qint64, const std::vector<Customer>&, const QDateTime&)
{
    notShared(*this);
}

std::optional<Claim> FleetStore::claimNext(qint64, int, int)
{
    notShared(*this);
}

bool FleetStore::recordClaimed(qint64, const Claim&, const SessionResult&, int)
{
    notShared(*this);
}

void FleetStore::releaseClaim(qint64, const Claim&)
{
    notShared(*this);
}

bool FleetStore::runComplete(qint64, int)
{
    notShared(*this);
}

void FleetStore::watchClaims(std::function<void()>) {}

QString defaultStorePath()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/pradix/fleet.sqlite");
}

std::unique_ptr<FleetStore> openStore(const QString& location, OpenMode mode)
{
    if (isPostgresLocation(location))
        return PostgresFleetStore::open(location, mode);
    return SqliteFleetStore::open(location, mode);
}

} // namespace fleet
