// The report side through pradix-tool: the HTML report as a browser shows it
// (a store filled through FleetStore, the page loaded by headless Chromium),
// and the exit codes of a store that cannot be used.

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

struct ToolRun
{
    int code = -1;
    QString out;
    QString err;
};

ToolRun tool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(PRADIX_TOOL_PATH), arguments);
    ToolRun run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// Monitoring reads 3 and a line on standard output where the other commands
// end with the file error 5.
TEST(ReportToolTest, AStoreThatCannotBeUsedIsUnknownToMonitoringAndAFileErrorElsewhere)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("none.sqlite"));
    const QString notAStore = dir.filePath(QStringLiteral("notes.txt"));
    QFile notes(notAStore);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("not a database\n") > 0);
    notes.close();
    for (const QString& store : { missing, notAStore }) {
        SCOPED_TRACE(store.toStdString());
        ToolRun run = tool({ QStringLiteral("audit"), QStringLiteral("status"), QStringLiteral("--store"), store });
        EXPECT_EQ(run.code, 3);
        EXPECT_TRUE(run.out.startsWith(QStringLiteral("PRADIX AUDIT UNKNOWN - "))) << qPrintable(run.out);
        run = tool({ QStringLiteral("audit"), QStringLiteral("report"), QStringLiteral("--json"), QStringLiteral("--store"), store });
        EXPECT_EQ(run.code, 5);
        run = tool({ QStringLiteral("history"), QStringLiteral("--number"), QStringLiteral("0461"), QStringLiteral("--store"), store });
        EXPECT_EQ(run.code, 5);
    }
    EXPECT_FALSE(QFileInfo::exists(missing)) << "a command that reads made a store";
    // A usage error is no exception for monitoring.
    EXPECT_EQ(tool({ QStringLiteral("audit"), QStringLiteral("status"), QStringLiteral("--max-age"), QStringLiteral("0") }).code, 3);
}

TEST(ReportToolTest, ChromiumShowsEveryCustomerOfTheRun)
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it): the page was not loaded in a browser";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString storePath = dir.filePath(QStringLiteral("fleet.sqlite"));

    // Twelve customers: each outcome twice, a card without a number.
    std::vector<Customer> customers;
    for (int card = 1; card <= 12; ++card)
        customers.push_back({ card, QStringLiteral("Cliente%1").arg(card, 2, 10, QLatin1Char('0')), QStringLiteral("Nome"),
                              QStringLiteral("0461%1").arg(card, 6, 10, QLatin1Char('0')) });
    customers[3].number.clear();
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
            r.port = QStringLiteral("com1");
            r.started = start.addSecs(qint64(i) * 60);
            r.ended = r.started.addSecs(40);
            r.outcome = Outcome(i % OutcomeCount);
            r.table = isGoodRead(r.outcome) ? table : QByteArray();
            store->recordSession(run, r);
        }
        store->endRun(run, RunEnd::Finished, start.addSecs(3000));
    }

    const QString page = dir.filePath(QStringLiteral("rapporto.html"));
    const ToolRun report = tool({ QStringLiteral("audit"), QStringLiteral("report"), QStringLiteral("--store"), storePath,
                              QStringLiteral("--html"), page });
    ASSERT_EQ(report.code, 0) << qPrintable(report.err);
    EXPECT_EQ(QFileInfo(page).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());

    const QString dom = loadedDom(chromium, page, dir.filePath(QStringLiteral("profile")));
    ASSERT_TRUE(dom.contains(QStringLiteral("</html>"))) << "chromium gave no page: " << qPrintable(dom.left(500));
    EXPECT_EQ(dom.count(QStringLiteral("<tr class=")), int(customers.size()));
    for (const Customer& c : customers)
        EXPECT_TRUE(dom.contains(QStringLiteral(">%1<").arg(c.surname))) << qPrintable(c.surname);
    EXPECT_TRUE(dom.contains(QStringLiteral(">senza numero<")));
}

} // namespace
