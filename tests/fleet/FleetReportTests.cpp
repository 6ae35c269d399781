// The fleet's state as monitoring reads it, and the run's report as the
// technician reads it: the codes, the order, and texts that survive any card.

#include "fleet/FleetReport.h"
#include "fleet/FleetStatus.h"
#include "tool/Csv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace fleet;

namespace {

const QDateTime Now(QDate(2026, 12, 7), QTime(7, 0), Qt::UTC);

BoxState box(const char* number, std::optional<Outcome> last, int hoursAgo, int failuresInRow = 0)
{
    BoxState b;
    b.number = QLatin1String(number);
    b.lastOutcome = last;
    b.lastAudit = Now.addSecs(-3600 * hoursAgo);
    b.failuresInRow = failuresInRow;
    return b;
}

struct StatusRow
{
    const char* what;
    std::vector<BoxState> boxes;
    StatusLevel level;
};

void PrintTo(const StatusRow& row, std::ostream* os)
{
    *os << row.what;
}

class StatusCodes : public ::testing::TestWithParam<StatusRow>
{};

TEST_P(StatusCodes, LevelFollowsTheWorstBox)
{
    const StatusRow& row = GetParam();
    const FleetStatus status = fleetStatus(row.boxes, std::nullopt, Now, 2);
    EXPECT_EQ(status.level, row.level) << row.what;
    EXPECT_TRUE(statusLine(status).startsWith(QStringLiteral("PRADIX AUDIT %1 - ").arg(levelWord(row.level))))
        << qPrintable(statusLine(status));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusCodes,
    ::testing::Values(
        StatusRow{ "all uguale, last night", { box("1", Outcome::Same, 6), box("2", Outcome::Same, 30) }, StatusLevel::Ok },
        StatusRow{ "uguale exactly two days ago", { box("1", Outcome::Same, 48) }, StatusLevel::Ok },
        StatusRow{ "uguale, one hour too old", { box("1", Outcome::Same, 49) }, StatusLevel::Warning },
        StatusRow{ "one diversa", { box("1", Outcome::Same, 6), box("2", Outcome::Different, 6) }, StatusLevel::Warning },
        StatusRow{ "one senza riepilogo", { box("1", Outcome::NoSummary, 6) }, StatusLevel::Warning },
        StatusRow{ "unreached in two runs", { box("1", Outcome::Unreached, 6, 2) }, StatusLevel::Warning },
        StatusRow{ "refused in three runs", { box("1", Outcome::Refused, 6, 3) }, StatusLevel::Critical },
        StatusRow{ "unreached in five, another diversa",
                   { box("1", Outcome::Different, 6), box("2", Outcome::Unreached, 6, 5) }, StatusLevel::Critical },
        StatusRow{ "nothing audited yet", {}, StatusLevel::Unknown }));

TEST(FleetStatusTest, LineCountsAndJsonPutsTheFailingFirst)
{
    const std::vector<BoxState> boxes{ box("0461 1", Outcome::Same, 6), box("0461 2", Outcome::Different, 6),
                                       box("0461 3", Outcome::Same, 80), box("0461 4", Outcome::Unreached, 6, 4) };
    const FleetStatus status = fleetStatus(boxes, std::nullopt, Now, 2);
    EXPECT_EQ(statusLine(status),
              QStringLiteral("PRADIX AUDIT CRITICAL - 4 centraline: 2 uguali, 1 diversa, 1 non raggiunta, "
                             "1 non controllata da più di 2 giorni; 1 senza risposta valida negli ultimi 3 controlli"
                             " | centraline=4 uguali=2 diverse=1 senza_riepilogo=0 non_raggiunte=1 rifiutate=0 in_ritardo=1"));
    const QJsonObject json = QJsonDocument::fromJson(statusJson(status)).object();
    EXPECT_EQ(json[QStringLiteral("code")].toInt(), 2);
    const QJsonArray attention = json[QStringLiteral("attention")].toArray();
    ASSERT_EQ(attention.size(), 3);
    EXPECT_EQ(attention[0].toObject()[QStringLiteral("number")].toString(), QStringLiteral("0461 4"));
    EXPECT_EQ(attention[0].toObject()[QStringLiteral("last_audit")].toString(), QStringLiteral("2026-12-07T01:00:00Z"));
}

// ---- the report

RunRow row(int card, const char* surname, const char* number, std::optional<Outcome> outcome)
{
    RunRow r;
    r.customer = { card, QString::fromUtf8(surname), QStringLiteral("Mario"), QLatin1String(number) };
    r.outcome = outcome;
    r.ended = Now;
    r.since = Now.addDays(-3);
    return r;
}

RunReport mixedRun()
{
    RunReport report;
    report.run.id = 7;
    report.run.started = Now.addSecs(-3600);
    report.run.ended = Now;
    report.run.ports = QStringList{ QStringLiteral("com1"), QStringLiteral("com2") };
    report.run.end = RunEnd::Finished;
    report.rows = { row(1, "Alfa", "11", Outcome::Same),          row(2, "Bravo", "12", Outcome::Different),
                    row(3, "Charlie", "", std::nullopt),          row(4, "Delta", "14", Outcome::Unreached),
                    row(5, "Echo", "15", Outcome::Same),          row(6, "Foxtrot", "16", std::nullopt),
                    row(7, "Golf", "17", Outcome::NoSummary),     row(8, "Hotel", "18", Outcome::Refused) };
    report.rows[1].differences = { { 12, QStringLiteral("end"), QStringLiteral("1800"), QStringLiteral("1930") },
                                   { 0, QStringLiteral("management"), QStringLiteral("Automatica"), QStringLiteral("Manuale") } };
    report.run.customers = int(report.rows.size());
    return report;
}

TEST(FleetReportTest, AttentionFirstEachGroupInRunOrder)
{
    QStringList order;
    for (const RunRow& r : attentionOrder(mixedRun().rows))
        order << r.customer.surname;
    EXPECT_EQ(order.join(QLatin1Char(' ')), QStringLiteral("Hotel Delta Bravo Golf Charlie Foxtrot Alfa Echo"));
}

TEST(FleetReportTest, DifferencesSpelledOutAsDiffDoes)
{
    const RunReport report = mixedRun();
    EXPECT_EQ(differenceText(report.rows[1].differences[0]), QStringLiteral("Associazione 12, Alle: 1800 -> 1930"));
    EXPECT_EQ(differenceText(report.rows[1].differences[1]), QStringLiteral("Gestione: Automatica -> Manuale"));
    // A key a newer program stored is shown as it stands, not dropped.
    EXPECT_EQ(differenceText({ 3, QStringLiteral("tone"), QString(), QStringLiteral("1") }),
              QStringLiteral("Associazione 3, tone:  -> 1"));
}

TEST(FleetReportTest, HtmlEscapesEveryCardTextAndStandsAlone)
{
    RunReport report = mixedRun();
    report.rows[0].customer.surname = QStringLiteral("<script>alert(\"x\")</script> & Figli\x1b[31m");
    report.rows[0].customer.name = QStringLiteral("</td></tr></table><b>");
    report.rows[3].detail = QStringLiteral("nessuna risposta <dopo 10 s>");
    const QString page = QString::fromUtf8(reportHtml(report, Now));
    EXPECT_FALSE(page.contains(QStringLiteral("<script"))) << "a surname became markup";
    EXPECT_FALSE(page.contains(QStringLiteral("</table><b>")));
    EXPECT_FALSE(page.contains(QChar(0x1b)));
    EXPECT_TRUE(page.contains(QStringLiteral("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; Figli\\u001b[31m")));
    EXPECT_TRUE(page.contains(QStringLiteral("nessuna risposta &lt;dopo 10 s&gt;")));
    EXPECT_TRUE(page.contains(QStringLiteral("<li>Associazione 12, Alle: 1800 -&gt; 1930</li>")));
    EXPECT_TRUE(page.contains(QStringLiteral("name=\"viewport\"")));
    // Nothing fetched from elsewhere: one file a phone opens offline.
    for (const char* outside : { "http:", "https:", "src=", "<link", "@import", "url(" })
        EXPECT_FALSE(page.contains(QLatin1String(outside))) << outside;
    // Each state in words, the attention ones before "uguale".
    EXPECT_LT(page.indexOf(QStringLiteral(">rifiutata<")), page.indexOf(QStringLiteral(">uguale<")));
    EXPECT_TRUE(page.contains(QStringLiteral(">senza numero<")));
}

TEST(FleetReportTest, CsvAndJsonCarryEveryCustomerWhole)
{
    RunReport report = mixedRun();
    report.rows[0].customer.surname = QStringLiteral("D'Angelo \"Bar\"\nsecondo rigo");
    QString error;
    const auto records = csv::parse(reportCsv(report), 100, &error);
    ASSERT_TRUE(records) << qPrintable(error);
    ASSERT_EQ(records->size(), report.rows.size() + 1);
    EXPECT_EQ(records->at(1).fields.value(1), QStringLiteral("Hotel"));
    EXPECT_EQ(records->back().fields.value(4), QStringLiteral("uguale"));
    EXPECT_EQ(records->at(records->size() - 2).fields.value(1), report.rows[0].customer.surname);
    EXPECT_EQ(records->at(3).fields.value(10), QStringLiteral("Associazione 12, Alle: 1800 -> 1930; Gestione: Automatica -> Manuale"));

    const QJsonObject json = QJsonDocument::fromJson(reportJson(report)).object();
    const QJsonArray customers = json[QStringLiteral("customers")].toArray();
    ASSERT_EQ(customers.size(), int(report.rows.size()));
    const QJsonObject noNumber = customers[4].toObject();
    EXPECT_EQ(noNumber[QStringLiteral("card")].toInt(), 3);
    EXPECT_TRUE(noNumber[QStringLiteral("outcome")].isNull());
    EXPECT_EQ(noNumber[QStringLiteral("state")].toString(), QStringLiteral("senza numero"));
    EXPECT_EQ(json[QStringLiteral("run")].toObject()[QStringLiteral("started")].toString(), QStringLiteral("2026-12-07T06:00:00Z"));
}

} // namespace
