#pragma once

#include "fleet/FleetStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// The state of the whole fleet in one line and one exit code, the way
// monitoring systems read a check: 0 all well, 1 look at it, 2 act now,
// 3 nothing is known.
namespace fleet {

enum class StatusLevel {
    Ok = 0,       // every box read within the allowed age and holding its card's table
    Warning = 1,  // some box diversa, senza riepilogo, failing lately, or not read for too long
    Critical = 2, // some box failing in each of its last three runs
    Unknown = 3,  // no store, a store that cannot be read, or nothing audited yet
};

// A box needing attention and why, in the operator's words.
struct AttentionBox
{
    BoxState box;
    StatusLevel level = StatusLevel::Warning;
    QStringList reasons; // "diversa", "non controllata da 3 giorni", "non raggiunta in 4 controlli di fila"
};

struct FleetStatus
{
    StatusLevel level = StatusLevel::Unknown;
    int maxAgeDays = 0;
    int boxes = 0;
    std::array<int, OutcomeCount> counts{}; // boxes by their last outcome
    int overdue = 0;  // boxes not called within maxAgeDays
    int failing = 0;  // boxes failing in each of their last three runs (or more)
    std::optional<RunInfo> lastRun;
    std::vector<AttentionBox> attention; // the worst first
    QString problem; // for Unknown: why
};

// Runs in a row a box may fail before the check turns critical.
constexpr int CriticalFailures = 3;
constexpr int DefaultMaxAgeDays = 2; // a nightly audit, with a night of slack

// The fleet's state at `now` from what the store knows.
FleetStatus fleetStatus(const std::vector<BoxState>& boxes, const std::optional<RunInfo>& lastRun,
                        const QDateTime& now, int maxAgeDays);
// A store that could not be used: Unknown, with the store's message.
FleetStatus unknownStatus(const QString& problem, int maxAgeDays);

// "PRADIX AUDIT OK - 120 centraline: 118 uguali, 2 diverse | centraline=120 ..."
QString statusLine(const FleetStatus& status);
QByteArray statusJson(const FleetStatus& status);

// "118 uguali", "1 diversa", "2 senza riepilogo": a count of boxes by outcome.
QString outcomeCount(Outcome outcome, int n);

// The check's word for a level: "OK", "WARNING", "CRITICAL", "UNKNOWN".
QString levelWord(StatusLevel level);

// Dates as machine output exchanges them: UTC, ISO 8601 with a "Z"; empty
// (JSON: null) for a null date.
QString utcText(const QDateTime& at);
QJsonValue utcValue(const QDateTime& at);
// Dates as the technician reads them: local time, "07/12/2026 01:30"; empty for a null date.
QString localText(const QDateTime& at);

// A box's state as the JSON of `audit status` and `history` gives it.
QJsonObject boxStateJson(const BoxState& box);

} // namespace fleet
