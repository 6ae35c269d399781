#include "fleet/FleetReport.h"

#include "fleet/FleetStatus.h"
#include "tool/Csv.h"
#include "tool/TableDiff.h"
#include "tool/TableText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <optional>

namespace fleet {

namespace {

// How urgently a row wants the technician, 0 first.
int urgency(const RunRow& row)
{
    if (!row.outcome)
        return row.customer.number.isEmpty() ? 4 : 5;
    switch (*row.outcome) {
    case Outcome::Refused: return 0;
    case Outcome::Unreached: return 1;
    case Outcome::Different: return 2;
    case Outcome::NoSummary: return 3;
    case Outcome::Same: break;
    }
    return 6;
}

// The field a key names, as the tool's machine output names fields.
std::optional<fields::Field> fieldOfKey(const QString& key)
{
    for (std::size_t i = 0; i < fields::FieldCount; ++i) {
        const auto f = fields::Field(i);
        if (tool::fieldKey(f) == key)
            return f;
    }
    return std::nullopt;
}

// Local time with its offset: a spreadsheet reads it, and it says which zone.
QString localIso(const QDateTime& at)
{
    return at.isValid() ? at.toLocalTime().toOffsetFromUtc(at.toLocalTime().offsetFromUtc()).toString(Qt::ISODate)
                        : QString();
}

// "7: 2 uguali, 1 diversa, 1 senza numero": the run's customers by state.
QString countsText(const RunReport& report)
{
    QStringList parts;
    for (int i = 0; i < OutcomeCount; ++i)
        if (report.run.counts[size_t(i)] > 0 || Outcome(i) == Outcome::Same)
            parts << outcomeCount(Outcome(i), report.run.counts[size_t(i)]);
    const auto uncalled = [&](bool withNumber) {
        return std::count_if(report.rows.begin(), report.rows.end(), [&](const RunRow& r) {
            return !r.outcome && r.customer.number.isEmpty() != withNumber;
        });
    };
    if (const auto n = uncalled(false))
        parts << QStringLiteral("%1 senza numero").arg(n);
    if (const auto n = uncalled(true))
        parts << QStringLiteral("%1 non chiamat%2").arg(n).arg(n == 1 ? QLatin1Char('a') : QLatin1Char('e'));
    return QStringLiteral("%1: %2").arg(report.run.customers).arg(parts.join(QStringLiteral(", ")));
}

// ---- HTML

// Safe in an element and in a quoted attribute: markup characters escaped,
// control characters (an escape sequence typed into a card) spelled out.
QString esc(const QString& text)
{
    return tool::terminalText(text).toHtmlEscaped();
}

// The state's class in the page's style sheet.
const char* stateClass(const RunRow& row)
{
    switch (urgency(row)) {
    case 0:
    case 1: return "ko";
    case 2: return "diff";
    case 3: return "new";
    case 4:
    case 5: return "none";
    }
    return "ok";
}

const char* const Style = R"css(
*{box-sizing:border-box}
body{margin:0;padding:1rem;font-family:system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;
 color:#1d1d1f;background:#f6f6f4;line-height:1.4;font-size:16px}
h1{font-size:1.35rem;margin:0 0 .5rem}
header{background:#fff;border:1px solid #ddd;border-radius:8px;padding:.75rem 1rem;margin-bottom:1rem}
dl{display:grid;grid-template-columns:max-content 1fr;gap:.15rem .75rem;margin:0}
dt{font-weight:600}dd{margin:0}
table{width:100%;border-collapse:collapse;background:#fff;border:1px solid #ddd}
th,td{padding:.45rem .6rem;border-bottom:1px solid #e4e4e4;text-align:left;vertical-align:top}
th{background:#ececea;font-size:.9rem}
td.num{white-space:nowrap;font-variant-numeric:tabular-nums}
.state{display:inline-block;padding:.1rem .5rem;border-radius:1rem;font-weight:600;white-space:nowrap;border:1px solid}
tr.ko .state{background:#fde7e7;color:#9b1c1c;border-color:#e4a0a0}
tr.diff .state{background:#fff1dc;color:#8a4b00;border-color:#e8bf80}
tr.new .state{background:#e3efff;color:#1d4f91;border-color:#9dbde8}
tr.none .state{background:#eee;color:#444;border-color:#bbb}
tr.ok .state{background:#e4f5e6;color:#1e6b2d;border-color:#9fd0a8}
tr.ko td:first-child{border-left:5px solid #c62828}
tr.diff td:first-child{border-left:5px solid #ef8f00}
tr.new td:first-child{border-left:5px solid #2f6fc0}
tr.none td:first-child{border-left:5px solid #9e9e9e}
tr.ok td:first-child{border-left:5px solid #43a047}
ul{margin:0;padding-left:1.1rem}
.detail{color:#555;font-size:.9rem}
footer{margin-top:1rem;color:#666;font-size:.85rem}
@media (max-width:700px){
 body{padding:.5rem}
 table,thead,tbody,tr,td{display:block}
 thead{position:absolute;left:-9999px}
 table{border:0;background:none}
 tr{background:#fff;border:1px solid #ddd;border-radius:8px;margin-bottom:.6rem;overflow:hidden}
 td{border-bottom:1px solid #f0f0f0;padding:.35rem .6rem .35rem 8.2rem;position:relative;min-height:2rem}
 td::before{content:attr(data-label);position:absolute;left:.6rem;width:7.2rem;font-weight:600;color:#555}
 td:last-child{border-bottom:0}
}
@media print{body{background:#fff}tr{break-inside:avoid}}
)css";

QString htmlRow(const RunRow& row)
{
    const Customer& c = row.customer;
    QString differences;
    if (!row.differences.empty()) {
        differences = QStringLiteral("<ul>");
        for (const FieldDifference& d : row.differences)
            differences += QStringLiteral("<li>%1</li>").arg(esc(differenceText(d)));
        differences += QStringLiteral("</ul>");
    }
    QString notes = row.detail.isEmpty() ? QString() : QStringLiteral("<div class=\"detail\">%1</div>").arg(esc(row.detail));
    if (row.outcome && row.ended.isValid())
        notes += QStringLiteral("<div class=\"detail\">%1 %2%3</div>")
                     .arg(QStringLiteral("chiamata del"), esc(localText(row.ended)),
                          row.port.isEmpty() ? QString() : QStringLiteral(", porta ") + esc(row.port));
    return QStringLiteral("<tr class=\"%1\">"
                          "<td class=\"num\" data-label=\"Scheda\">%2</td>"
                          "<td data-label=\"Cognome\">%3</td>"
                          "<td data-label=\"Nome\">%4</td>"
                          "<td class=\"num\" data-label=\"Numero\">%5</td>"
                          "<td data-label=\"Esito\"><span class=\"state\">%6</span>%7</td>"
                          "<td class=\"num\" data-label=\"Dal\">%8</td>"
                          "<td data-label=\"Differenze\">%9</td></tr>\n")
        .arg(QLatin1String(stateClass(row)))
        .arg(c.card)
        .arg(esc(c.surname), esc(c.name), c.number.isEmpty() ? QStringLiteral("(nessuno)") : esc(c.number),
             esc(rowState(row)), notes, esc(localText(row.since)), differences);
}

} // namespace

std::vector<RunRow> attentionOrder(const std::vector<RunRow>& rows)
{
    std::vector<RunRow> ordered = rows;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const RunRow& a, const RunRow& b) { return urgency(a) < urgency(b); });
    return ordered;
}

QString rowState(const RunRow& row)
{
    if (row.outcome)
        return outcomeWord(*row.outcome);
    return row.customer.number.isEmpty() ? QStringLiteral("senza numero") : QStringLiteral("non chiamata");
}

QString differenceText(const FieldDifference& d)
{
    if (const std::optional<fields::Field> f = fieldOfKey(d.field))
        return tool::differenceLine({ d.association, *f, d.cardValue, d.boxValue });
    // A field this program does not know (a store written by a newer one): its key as it stands.
    const QString place = d.association == 0 ? d.field : QStringLiteral("Associazione %1, %2").arg(d.association).arg(d.field);
    return tool::terminalText(QStringLiteral("%1: %2 -> %3").arg(place, d.cardValue, d.boxValue));
}

QJsonArray differencesJson(const std::vector<FieldDifference>& differences)
{
    QJsonArray list;
    for (const FieldDifference& d : differences) {
        QJsonObject o;
        o.insert(QStringLiteral("association"), d.association == 0 ? QJsonValue() : QJsonValue(d.association));
        o.insert(QStringLiteral("field"), d.field);
        o.insert(QStringLiteral("from"), d.cardValue);
        o.insert(QStringLiteral("to"), d.boxValue);
        list.append(o);
    }
    return list;
}

QByteArray reportHtml(const RunReport& report, const QDateTime& generated)
{
    const RunInfo& run = report.run;
    QString page = QStringLiteral("<!DOCTYPE html>\n<html lang=\"it\">\n<head>\n<meta charset=\"utf-8\">\n"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                                  "<title>Controllo delle centraline n. %1 del %2</title>\n<style>%3</style>\n</head>\n<body>\n")
                       .arg(run.id)
                       .arg(esc(localText(run.started)), QLatin1String(Style));
    page += QStringLiteral("<header>\n<h1>Controllo delle centraline n. %1</h1>\n<dl>\n").arg(run.id);
    auto item = [&](const QString& label, const QString& value) {
        page += QStringLiteral("<dt>%1</dt><dd>%2</dd>\n").arg(label, value);
    };
    item(QStringLiteral("Iniziato"), esc(localText(run.started)));
    item(QStringLiteral("Finito"), run.ended.isValid() ? esc(localText(run.ended)) : QStringLiteral("—"));
    item(QStringLiteral("Stato"), esc(runEndWord(run.end)));
    item(QStringLiteral("Porte"), esc(run.ports.join(QStringLiteral(", "))));
    if (!run.host.isEmpty())
        item(QStringLiteral("Computer"), esc(run.host));
    item(QStringLiteral("Clienti"), esc(countsText(report)));
    page += QStringLiteral("</dl>\n</header>\n<main>\n<table>\n<thead><tr><th>Scheda</th><th>Cognome</th><th>Nome</th>"
                           "<th>Numero</th><th>Esito</th><th>Dal</th><th>Differenze</th></tr></thead>\n<tbody>\n");
    for (const RunRow& row : attentionOrder(report.rows))
        page += htmlRow(row);
    page += QStringLiteral("</tbody>\n</table>\n</main>\n<footer>Rapporto di Pradix, preparato il %1. "
                           "Le date sono nell'ora locale.</footer>\n</body>\n</html>\n")
                .arg(esc(localText(generated)));
    return page.toUtf8();
}

QByteArray reportCsv(const RunReport& report)
{
    QByteArray bytes = csv::record({ QStringLiteral("Scheda"), QStringLiteral("Cognome"), QStringLiteral("Nome"),
                                     QStringLiteral("Numero"), QStringLiteral("Esito"), QStringLiteral("Dal"),
                                     QStringLiteral("Tentativi"), QStringLiteral("Porta"), QStringLiteral("Fine chiamata"),
                                     QStringLiteral("Dettaglio"), QStringLiteral("Differenze") });
    for (const RunRow& row : attentionOrder(report.rows)) {
        QStringList differences;
        for (const FieldDifference& d : row.differences)
            differences << differenceText(d);
        bytes += csv::record({ QString::number(row.customer.card), row.customer.surname, row.customer.name,
                               row.customer.number, rowState(row), localIso(row.since), QString::number(row.attempts),
                               row.port, localIso(row.ended), row.detail, differences.join(QStringLiteral("; ")) });
    }
    return bytes;
}

QByteArray reportJson(const RunReport& report)
{
    const RunInfo& r = report.run;
    QJsonObject run;
    run.insert(QStringLiteral("id"), r.id);
    run.insert(QStringLiteral("started"), utcValue(r.started));
    run.insert(QStringLiteral("ended"), utcValue(r.ended));
    run.insert(QStringLiteral("end"), runEndWord(r.end));
    run.insert(QStringLiteral("ports"), QJsonArray::fromStringList(r.ports));
    run.insert(QStringLiteral("host"), r.host);
    run.insert(QStringLiteral("customers"), r.customers);
    QJsonObject counts;
    for (int i = 0; i < OutcomeCount; ++i)
        counts.insert(outcomeWord(Outcome(i)), r.counts[size_t(i)]);
    run.insert(QStringLiteral("counts"), counts);

    QJsonArray rows;
    for (const RunRow& row : attentionOrder(report.rows)) {
        QJsonObject o;
        o.insert(QStringLiteral("card"), row.customer.card);
        o.insert(QStringLiteral("surname"), row.customer.surname);
        o.insert(QStringLiteral("name"), row.customer.name);
        o.insert(QStringLiteral("number"), row.customer.number);
        o.insert(QStringLiteral("outcome"), row.outcome ? QJsonValue(outcomeWord(*row.outcome)) : QJsonValue());
        o.insert(QStringLiteral("state"), rowState(row));
        o.insert(QStringLiteral("since"), utcValue(row.since));
        o.insert(QStringLiteral("attempts"), row.attempts);
        o.insert(QStringLiteral("port"), row.port);
        o.insert(QStringLiteral("host"), row.host);
        o.insert(QStringLiteral("ended"), utcValue(row.ended));
        o.insert(QStringLiteral("detail"), row.detail);
        o.insert(QStringLiteral("differences"), differencesJson(row.differences));
        rows.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("run"), run);
    root.insert(QStringLiteral("customers"), rows);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace fleet
