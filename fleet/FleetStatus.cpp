#include "fleet/FleetStatus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace fleet {

namespace {

constexpr std::array<Outcome, OutcomeCount> AllOutcomes{ Outcome::Same, Outcome::Different, Outcome::NoSummary,
                                                         Outcome::Unreached, Outcome::Refused };

bool isFailure(Outcome outcome)
{
    return outcome == Outcome::Unreached || outcome == Outcome::Refused;
}

bool isOverdue(const BoxState& box, const QDateTime& now, int maxAgeDays)
{
    return !box.lastAudit.isValid() || box.lastAudit.secsTo(now) > qint64(maxAgeDays) * 86400;
}

// What is wrong with one box at `now`, if anything.
std::optional<AttentionBox> judge(const BoxState& box, const QDateTime& now, int maxAgeDays)
{
    AttentionBox seen{ box, StatusLevel::Warning, {} };
    if (box.lastOutcome && *box.lastOutcome != Outcome::Same) {
        if (isFailure(*box.lastOutcome) && box.failuresInRow >= CriticalFailures) {
            seen.level = StatusLevel::Critical;
            seen.reasons << QStringLiteral("%1 in %2 controlli di fila").arg(outcomeWord(*box.lastOutcome)).arg(box.failuresInRow);
        } else {
            seen.reasons << outcomeWord(*box.lastOutcome);
        }
    }
    if (isOverdue(box, now, maxAgeDays))
        seen.reasons << (box.lastAudit.isValid()
                             ? QStringLiteral("non controllata da %1 giorni").arg(box.lastAudit.secsTo(now) / 86400)
                             : QStringLiteral("mai controllata"));
    if (seen.reasons.isEmpty())
        return std::nullopt;
    return seen;
}

QString pluralWord(Outcome outcome, bool many)
{
    switch (outcome) {
    case Outcome::Same: return many ? QStringLiteral("uguali") : QStringLiteral("uguale");
    case Outcome::Different: return many ? QStringLiteral("diverse") : QStringLiteral("diversa");
    case Outcome::NoSummary: return QStringLiteral("senza riepilogo");
    case Outcome::Unreached: return many ? QStringLiteral("non raggiunte") : QStringLiteral("non raggiunta");
    case Outcome::Refused: return many ? QStringLiteral("rifiutate") : QStringLiteral("rifiutata");
    }
    return QString();
}

// A name monitoring's performance data can carry: no spaces.
QString perfName(Outcome outcome)
{
    return pluralWord(outcome, true).replace(QLatin1Char(' '), QLatin1Char('_'));
}

QJsonObject attentionJson(const AttentionBox& a)
{
    QJsonObject o = boxStateJson(a.box);
    o.insert(QStringLiteral("level"), levelWord(a.level));
    o.insert(QStringLiteral("reasons"), QJsonArray::fromStringList(a.reasons));
    return o;
}

} // namespace

QString utcText(const QDateTime& at)
{
    return at.isValid() ? at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")) : QString();
}

QJsonValue utcValue(const QDateTime& at)
{
    return at.isValid() ? QJsonValue(utcText(at)) : QJsonValue();
}

QString localText(const QDateTime& at)
{
    return at.isValid() ? at.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")) : QString();
}

QJsonObject boxStateJson(const BoxState& b)
{
    QJsonObject o;
    o.insert(QStringLiteral("number"), b.number);
    o.insert(QStringLiteral("card"), b.card);
    o.insert(QStringLiteral("surname"), b.surname);
    o.insert(QStringLiteral("name"), b.name);
    o.insert(QStringLiteral("last_outcome"), b.lastOutcome ? QJsonValue(outcomeWord(*b.lastOutcome)) : QJsonValue());
    o.insert(QStringLiteral("last_audit"), utcValue(b.lastAudit));
    o.insert(QStringLiteral("last_success"), utcValue(b.lastSuccess));
    o.insert(QStringLiteral("last_change"), utcValue(b.lastChange));
    o.insert(QStringLiteral("failing_since"), utcValue(b.failingSince));
    o.insert(QStringLiteral("failures_in_row"), b.failuresInRow);
    o.insert(QStringLiteral("differing_fields"), b.differingFields);
    return o;
}

QString levelWord(StatusLevel level)
{
    switch (level) {
    case StatusLevel::Ok: return QStringLiteral("OK");
    case StatusLevel::Warning: return QStringLiteral("WARNING");
    case StatusLevel::Critical: return QStringLiteral("CRITICAL");
    case StatusLevel::Unknown: break;
    }
    return QStringLiteral("UNKNOWN");
}

QString outcomeCount(Outcome outcome, int n)
{
    return QStringLiteral("%1 %2").arg(n).arg(pluralWord(outcome, n != 1));
}

FleetStatus fleetStatus(const std::vector<BoxState>& boxes, const std::optional<RunInfo>& lastRun,
                        const QDateTime& now, int maxAgeDays)
{
    if (boxes.empty()) {
        FleetStatus status = unknownStatus(QStringLiteral("nessuna centralina è stata ancora controllata"), maxAgeDays);
        status.lastRun = lastRun;
        return status;
    }
    FleetStatus status;
    status.level = StatusLevel::Ok;
    status.maxAgeDays = maxAgeDays;
    status.boxes = int(boxes.size());
    status.lastRun = lastRun;
    for (const BoxState& box : boxes) {
        if (box.lastOutcome)
            ++status.counts[size_t(*box.lastOutcome)];
        if (isOverdue(box, now, maxAgeDays))
            ++status.overdue;
        std::optional<AttentionBox> seen = judge(box, now, maxAgeDays);
        if (!seen)
            continue;
        if (seen->level == StatusLevel::Critical)
            ++status.failing;
        status.level = std::max(status.level, seen->level);
        status.attention.push_back(std::move(*seen));
    }
    // The worst first: critical, then the longest failing, then by number.
    std::stable_sort(status.attention.begin(), status.attention.end(), [](const AttentionBox& a, const AttentionBox& b) {
        if (a.level != b.level)
            return a.level > b.level;
        return a.box.failuresInRow > b.box.failuresInRow;
    });
    return status;
}

FleetStatus unknownStatus(const QString& problem, int maxAgeDays)
{
    FleetStatus status;
    status.level = StatusLevel::Unknown;
    status.maxAgeDays = maxAgeDays;
    status.problem = problem;
    return status;
}

QString statusLine(const FleetStatus& status)
{
    QString line = QStringLiteral("PRADIX AUDIT %1 - ").arg(levelWord(status.level));
    if (status.level == StatusLevel::Unknown && status.boxes == 0)
        return line + QString(status.problem).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QStringList parts;
    for (const Outcome o : AllOutcomes)
        if (o == Outcome::Same || status.counts[size_t(o)] > 0)
            parts << outcomeCount(o, status.counts[size_t(o)]);
    if (status.overdue > 0)
        parts << QStringLiteral("%1 non controllat%2 da più di %3 giorni")
                     .arg(status.overdue)
                     .arg(status.overdue == 1 ? QStringLiteral("a") : QStringLiteral("e"))
                     .arg(status.maxAgeDays);
    line += QStringLiteral("%1 centralin%2: %3").arg(status.boxes).arg(status.boxes == 1 ? QStringLiteral("a") : QStringLiteral("e"),
                                                                     parts.join(QStringLiteral(", ")));
    if (status.failing > 0)
        line += QStringLiteral("; %1 senza risposta valida negli ultimi %2 controlli").arg(status.failing).arg(CriticalFailures);
    // Performance data, after the bar, for graphs.
    line += QStringLiteral(" | centraline=%1").arg(status.boxes);
    for (const Outcome o : AllOutcomes)
        line += QStringLiteral(" %1=%2").arg(perfName(o)).arg(status.counts[size_t(o)]);
    line += QStringLiteral(" in_ritardo=%1").arg(status.overdue);
    return line;
}

QByteArray statusJson(const FleetStatus& status)
{
    QJsonObject root;
    root.insert(QStringLiteral("status"), levelWord(status.level));
    root.insert(QStringLiteral("code"), int(status.level));
    root.insert(QStringLiteral("max_age_days"), status.maxAgeDays);
    root.insert(QStringLiteral("boxes"), status.boxes);
    QJsonObject counts;
    for (const Outcome o : AllOutcomes)
        counts.insert(outcomeWord(o), status.counts[size_t(o)]);
    root.insert(QStringLiteral("counts"), counts);
    root.insert(QStringLiteral("overdue"), status.overdue);
    root.insert(QStringLiteral("failing"), status.failing);
    if (!status.problem.isEmpty())
        root.insert(QStringLiteral("problem"), status.problem);
    if (status.lastRun) {
        const RunInfo& r = *status.lastRun;
        QJsonObject run;
        run.insert(QStringLiteral("id"), r.id);
        run.insert(QStringLiteral("started"), utcValue(r.started));
        run.insert(QStringLiteral("ended"), utcValue(r.ended));
        run.insert(QStringLiteral("end"), runEndWord(r.end));
        root.insert(QStringLiteral("last_run"), run);
    } else {
        root.insert(QStringLiteral("last_run"), QJsonValue());
    }
    QJsonArray attention;
    for (const AttentionBox& a : status.attention)
        attention.append(attentionJson(a));
    root.insert(QStringLiteral("attention"), attention);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace fleet
