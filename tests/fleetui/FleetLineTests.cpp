#include "FleetTestData.h"

#include "BoxSim.h"
#include "device/Pacer.h"
#include "fleetui/FleetHistory.h"
#include "fleetui/FleetListModel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

#include <chrono>
#include <thread>

namespace {

// The box's pauses, a twentieth as long: the simulator still takes each
// piece before the next (the table's last record and the command that
// follows it must not reach it as one chunk), without the seconds of a call.
class ShortWaits : public Pacer
{
public:
    void sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms / 20)); }
};

} // namespace

// "Ripristina questa versione" against a dialling unit on a real line: the
// question names the customer, the number and the night; the table is
// written, confirmed, read back and found whole; the session is recorded
// and the call hung up.
TEST(FleetLine, AVersionIsWrittenReadBackRecordedAndHungUp)
{
    BoxSim sim;
    ASSERT_TRUE(sim.start({ "--fast", "--unit", "--log", sim.file("unit.log") })) << sim.error();
    fleettest::Fleet fleet;
    fleet.setup.ports = QStringList{ QString::fromStdString(sim.devicePath()) };
    const TableGrid onCard = fleettest::table(QStringLiteral("1800"));
    fleet.writeBook({ fleettest::card(QStringLiteral("Rossi"), QStringLiteral("0611"), &onCard) });
    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), fleet::Outcome::Same, 0, onCard);
    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), fleet::Outcome::Different, 1,
                 fleettest::table(QStringLiteral("1930")));
    ShortWaits pacer;
    const auto window = fleet.open(&pacer);
    auto* list = window->findChild<QTableView*>(QStringLiteral("FleetList"));
    ASSERT_NE(list, nullptr);
    list->setCurrentIndex(list->model()->index(0, 0));
    // The first night's table, the card's.
    window->findChild<QTableWidget*>(QStringLiteral("FleetVersions"))->setCurrentCell(1, 0);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("FleetRestore")), Qt::LeftButton);
    ASSERT_EQ(fleet.dialogs.questions.size(), 1);
    EXPECT_TRUE(fleet.dialogs.questions[0].contains(QStringLiteral("Rossi Anna (numero 0611)")));
    EXPECT_TRUE(fleet.dialogs.questions[0].contains(fleetui::FleetListModel::shownDate(fleettest::night(0))));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->restoring(); }, 60000));

    EXPECT_TRUE(fleet.dialogs.errors.isEmpty()) << fleet.dialogs.errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(fleet.dialogs.informations.size(), 1);
    EXPECT_TRUE(fleet.dialogs.informations[0].contains(QStringLiteral("verificato")));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("FleetStatus"))->text(), fleet.dialogs.informations[0]);
    const std::string log = sim.readLog();
    const size_t written = log.find("FRAME remote-write");
    ASSERT_NE(written, std::string::npos) << log;
    EXPECT_NE(log.find("FRAME remote-read", written), std::string::npos);
    EXPECT_NE(log.find("FRAME hangup", written), std::string::npos);

    // Recorded as the audit records a read: the box holds the card's table again.
    const auto store = fleet::openStore(fleet.setup.store, fleet::OpenMode::Read);
    const std::vector<fleet::HistoryEntry> history = store->history(QStringLiteral("0611"));
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history.back().outcome, fleet::Outcome::Same);
    EXPECT_EQ(history.back().versionId, history.front().versionId);
    EXPECT_EQ(store->lastRun()->end, fleet::RunEnd::Finished);
    // The history shows what the box holds now, the table restored.
    EXPECT_EQ(window->findChild<fleetui::FleetHistory*>()->version()->id, history.back().versionId);
}

namespace {

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

// "Controlla ora" with nothing chosen checks every card that dials a box,
// the rows and the progress bar following the sessions; "Ferma" hangs up
// and records the run as stopped.
TEST(FleetLine, CheckNowRunsTheAuditAndFermaStopsIt)
{
    qputenv("PRADIX_PACE_SCALE", "0.01");
    BoxSim sim;
    ASSERT_TRUE(sim.start({ "--fast", "--unit", "--log", sim.file("unit.log") })) << sim.error();
    fleettest::Fleet fleet;
    fleet.setup.ports = QStringList{ QString::fromStdString(sim.devicePath()) };
    fleet.writeBook({ fleettest::card(QStringLiteral("Rossi"), QStringLiteral("0611")),
                      fleettest::card(QStringLiteral("Verdi"), QString()) });
    const auto window = fleet.open();
    auto* list = window->findChild<QTableView*>(QStringLiteral("FleetList"));
    list->clearSelection();
    auto* check = window->findChild<QPushButton*>(QStringLiteral("FleetCheckNow"));
    QTest::mouseClick(check, Qt::LeftButton);
    ASSERT_EQ(fleet.dialogs.questions.size(), 1);
    EXPECT_TRUE(fleet.dialogs.questions[0].contains(QStringLiteral("1 centralina")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->checking(); }, 60000));
    auto* progress = window->findChild<QProgressBar*>(QStringLiteral("FleetProgress"));
    EXPECT_EQ(progress->value(), progress->maximum());
    const int row = list->model()->match(list->model()->index(0, fleetui::FleetListModel::NumberColumn), Qt::DisplayRole,
                                         QStringLiteral("0611"))
                        .value(0)
                        .row();
    EXPECT_EQ(list->model()->index(row, fleetui::FleetListModel::OutcomeColumn).data().toString(), QStringLiteral("senza riepilogo"));
    EXPECT_EQ(fleet::openStore(fleet.setup.store, fleet::OpenMode::Read)->lastRun()->end, fleet::RunEnd::Finished);

    QTest::mouseClick(check, Qt::LeftButton);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("FleetStop")), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->checking(); }, 60000));
    EXPECT_EQ(fleet::openStore(fleet.setup.store, fleet::OpenMode::Read)->lastRun()->end, fleet::RunEnd::Interrupted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return count(sim.readLog(), "FRAME dial") == count(sim.readLog(), "FRAME hangup"); }, 10000))
        << sim.readLog();
    qunsetenv("PRADIX_PACE_SCALE");
}
