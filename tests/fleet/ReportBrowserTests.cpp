// The HTML report as a browser shows it: a store filled through FleetStore,
// the report written by pradix-tool, the page loaded by headless Chromium.

#include "fleet/FleetStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace fleet;

namespace {

// What a browser made of the page: its DOM after loading, serialised.
QString loadedDom(const QString& chromium, const QString& page, const QString& profile)
{
    QStringList arguments{ QStringLiteral("--headless"), QStringLiteral("--disable-gpu"),
                           QStringLiteral("--no-first-run"), QStringLiteral("--user-data-dir=") + profile,
                           QStringLiteral("--dump-dom"), QUrl::fromLocalFile(page).toString() };
    // Its sandbox refuses to start as root, and only there is it left out.
    if (geteuid() == 0)
        arguments.prepend(QStringLiteral("--no-sandbox"));
    QProcess browser;
    browser.start(chromium, arguments);
    if (!browser.waitForFinished(120000)) {
        browser.kill();
        browser.waitForFinished();
        return QString();
    }
    return QString::fromUtf8(browser.readAllStandardOutput());
}

TEST(ReportBrowserTest, ChromiumShowsEveryCustomerOfTheRun)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it): the page was not loaded in a browser";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString storePath = dir.filePath(QStringLiteral("fleet.sqlite"));

    // Twelve customers: one of each outcome, a card without a number, and
    // a surname that is markup.
    std::vector<Customer> customers;
    for (int card = 1; card <= 12; ++card)
        customers.push_back({ card, QStringLiteral("Cliente%1").arg(card, 2, 10, QLatin1Char('0')), QStringLiteral("Nome"),
                              QStringLiteral("0461%1").arg(card, 6, 10, QLatin1Char('0')) });
    customers[3].number.clear();
    customers[5].surname = QStringLiteral("<b>Rossi & \"Figli\"</b>");
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-3600);
    {
        const std::unique_ptr<FleetStore> store = openStore(storePath, OpenMode::Write);
        const qint64 run = store->startRun({ QStringLiteral("com1"), QStringLiteral("com2") }, customers, start);
        const QByteArray table(3584, '-');
        for (std::size_t i = 0; i < customers.size(); ++i) {
            if (customers[i].number.isEmpty())
                continue;
            SessionResult r;
            r.customer = customers[i];
            r.port = i % 2 ? QStringLiteral("com2") : QStringLiteral("com1");
            r.host = QStringLiteral("ufficio");
            r.started = start.addSecs(qint64(i) * 60);
            r.ended = r.started.addSecs(40);
            r.outcome = Outcome(i % OutcomeCount);
            if (isGoodRead(r.outcome))
                r.table = table;
            if (r.outcome == Outcome::Different)
                r.differences = { { 12, QStringLiteral("end"), QStringLiteral("1800"), QStringLiteral("1930") } };
            if (!isGoodRead(r.outcome))
                r.detail = QStringLiteral("nessuna risposta");
            store->recordSession(run, r);
        }
        store->endRun(run, RunEnd::Finished, start.addSecs(3000));
    }

    const QString page = dir.filePath(QStringLiteral("rapporto.html"));
    QProcess tool;
    tool.start(QStringLiteral(PRADIX_TOOL_PATH), { QStringLiteral("audit"), QStringLiteral("report"), QStringLiteral("--store"),
                                                   storePath, QStringLiteral("--html"), page });
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
    EXPECT_EQ(QFileInfo(page).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());

    const QString dom = loadedDom(chromium, page, dir.filePath(QStringLiteral("profile")));
    ASSERT_TRUE(dom.contains(QStringLiteral("</html>"))) << "chromium gave no page: " << qPrintable(dom.left(500));
    EXPECT_EQ(dom.count(QStringLiteral("<tr class=")), int(customers.size()));
    for (const Customer& c : customers) {
        if (c.card != 6) {
            EXPECT_TRUE(dom.contains(QStringLiteral(">%1<").arg(c.surname))) << qPrintable(c.surname);
        }
    }
    // The markup in a surname is text in the browser, never an element.
    EXPECT_TRUE(dom.contains(QStringLiteral(">&lt;b&gt;Rossi &amp; \"Figli\"&lt;/b&gt;<")));
    EXPECT_FALSE(dom.contains(QStringLiteral("<b>Rossi")));
    EXPECT_TRUE(dom.contains(QStringLiteral(">senza numero<")));
    EXPECT_TRUE(dom.contains(QStringLiteral("Associazione 12, Alle: 1800 -&gt; 1930")));
}

} // namespace
