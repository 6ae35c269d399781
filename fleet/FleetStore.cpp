#include "fleet/FleetStore.h"

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

QString defaultStorePath()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/pradix/fleet.sqlite");
}

std::unique_ptr<FleetStore> openStore(const QString& location, OpenMode mode)
{
    return SqliteFleetStore::open(location, mode);
}

} // namespace fleet
