#pragma once

#include "fleet/FleetStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QString>

#include <vector>

// A run of the audit as the technician reads it the morning after: one row
// per customer of the run, those needing attention first, as a page a
// browser (a phone's too) opens offline, a CSV for a spreadsheet, or JSON.
namespace fleet {

struct RunReport
{
    RunInfo run;
    std::vector<RunRow> rows; // in the run's order
};

// The rows, those needing attention first (rifiutata, non raggiunta,
// diversa, senza riepilogo, no number, never called, then uguale), each
// group in the run's order.
std::vector<RunRow> attentionOrder(const std::vector<RunRow>& rows);

// The row's state in words: its outcome, or "senza numero" for a card that
// has none, "non chiamata" for one the run never reached.
QString rowState(const RunRow& row);

// "Associazione 12, Alle: 1800 -> 1930" ("Gestione: ..." for the header).
QString differenceText(const FieldDifference& difference);

// A list of "association" (null for the header), "field", "from" (the
// card's value), "to" (the box's), as `diff --json` gives differences.
QJsonArray differencesJson(const std::vector<FieldDifference>& differences);

// The report's forms. `generated` is when it was made (shown in local time).
QByteArray reportHtml(const RunReport& report, const QDateTime& generated);
QByteArray reportCsv(const RunReport& report);
QByteArray reportJson(const RunReport& report);

} // namespace fleet
