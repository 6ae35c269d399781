// The nightly audit: the judgement of a read against its card, and
// `pradix-tool audit run` end to end against simulated dialling units.

#include "book/CustomerCard.h"
#include "device/Codec.h"
#include "device/TableGrid.h"
#include "fleet/AuditCompare.h"
#include "fleet/AuditConfig.h"
#include "fleet/FleetStore.h"
#include "sim/SampleImage.h"
#include "tests/common/TestFiles.h"

#include "BoxSim.h"

#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <map>
#include <set>
#include <thread>

#include <gtest/gtest.h>

namespace {

using fleet::Outcome;

TableGrid sampleGrid()
{
    const boxsim::Image image = boxsim::sampleImage(boxsim::Model::Kolvar22);
    TableGrid grid;
    grid.fillData(QString());
    codec::decodeHeader(image.data(), codec::Model::Kolvar22, grid);
    for (int r = 2; r <= 128; ++r)
        codec::decodeRecord(image.data() + codec::RecordSize * (r - 1), codec::Model::Kolvar22, grid, r);
    return grid;
}

// The sample table with the other management: one header field differs.
TableGrid otherManagement()
{
    TableGrid grid = sampleGrid();
    grid.setCell(3, 1, grid.cell(3, 1) == QLatin1String("A") ? QStringLiteral("M") : QStringLiteral("A"));
    return grid;
}

CustomerCard card(const QString& surname, const QString& number, const TableGrid* summary = nullptr)
{
    CustomerCard c;
    c.setText(CustomerCard::Field::Cognome, surname);
    c.setText(CustomerCard::Field::Numero, number);
    if (summary)
        c.takeSummaryFrom(*summary);
    return c;
}

// The nightly run refuses and the window tells the first line that is not
// "chiave = valore" with a known key given once; the good lines are kept.
TEST(AuditConfig, KeepsTheGoodLinesAndNamesTheFirstBadOne)
{
    const fleet::AuditConfig config = fleet::parseAuditConfig("# notte\n\n ports = com1, com2 \nbook=/srv/R.DAT\n"
                                                              "colour = red\nports = com3\nsenza uguale\n");
    ASSERT_EQ(config.lines.size(), 2u);
    EXPECT_EQ(config.lines[0].number, 3);
    EXPECT_EQ(fleet::auditConfigPorts(config.lines[0].value), (QStringList{ "com1", "com2" }));
    EXPECT_EQ(config.lines[1].value, QStringLiteral("/srv/R.DAT"));
    EXPECT_EQ(config.badLine, 5);
    EXPECT_TRUE(config.problem.contains(QStringLiteral("colour"))) << config.problem.toStdString();
}

TEST(AuditCompare, JudgesTheBoxsTableAgainstTheCardsSummary)
{
    const TableGrid box = sampleGrid();
    EXPECT_EQ(fleet::judge(card("A", "1"), box).outcome, Outcome::NoSummary);
    EXPECT_EQ(fleet::judge(card("A", "1", &box), box).outcome, Outcome::Same);

    const TableGrid other = otherManagement();
    const fleet::Judgement judged = fleet::judge(card("A", "1", &other), box);
    EXPECT_EQ(judged.outcome, Outcome::Different);
    ASSERT_EQ(judged.differences.size(), 1u);
    EXPECT_EQ(judged.differences[0].association, 0);
    EXPECT_EQ(judged.differences[0].field, QStringLiteral("management"));
    EXPECT_NE(judged.differences[0].cardValue, judged.differences[0].boxValue);
    EXPECT_EQ(fleet::versionBytes(box).size(), 3584);
}

struct Ended
{
    int code = -1;
    QString err;
};

// The frames of a unit's log in order: "dial 0461001", "remote-read", "hangup"...
QStringList frames(const BoxSim& unit)
{
    QStringList names;
    for (const QString& line : QString::fromStdString(unit.readLog()).split(QLatin1Char('\n'))) {
        const int at = int(line.indexOf(QLatin1String(" FRAME ")));
        if (at < 0)
            continue;
        const QString frame = line.mid(at + 7);
        names << frame.section(QLatin1Char(' '), 0, frame.startsWith(QLatin1String("dial ")) ? 1 : 0);
    }
    return names;
}

// Every call the unit saw was hung up before the next one, the last one
// included, and nothing but calls, reads and hang-ups went out.
void expectEveryCallHungUp(const BoxSim& unit)
{
    bool up = false;
    for (const QString& frame : frames(unit)) {
        if (frame.startsWith(QLatin1String("dial"))) {
            EXPECT_FALSE(up) << "a dial while a call was up: " << unit.readLog();
            up = true;
        } else if (frame == QLatin1String("hangup")) {
            up = false;
        } else {
            EXPECT_EQ(frame, QStringLiteral("remote-read")) << unit.readLog();
        }
    }
    EXPECT_FALSE(up) << "a call left up: " << unit.readLog();
}

class AuditRunTest : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString store() const { return path(QStringLiteral("fleet.sqlite")); }

    void prepare(QProcess& process, double paceScale = 0.01)
    {
        process.setWorkingDirectory(dir_.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "config", "data", "state", "run" })
            env.insert(QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(name).toUpper()), path(QLatin1String(name)));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        env.insert(QStringLiteral("PRADIX_PACE_SCALE"), QString::number(paceScale));
        process.setProcessEnvironment(env);
    }

    void start(QProcess& process, const QStringList& arguments, double paceScale = 0.01)
    {
        prepare(process, paceScale);
        process.start(QStringLiteral(PRADIX_TOOL_PATH), QStringList{ QStringLiteral("audit"), QStringLiteral("run") } + arguments);
        ASSERT_TRUE(process.waitForStarted());
    }

    Ended audit(const QStringList& arguments)
    {
        QProcess process;
        start(process, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                 QString::fromUtf8(process.readAllStandardError()) };
    }

    void writeBook(const std::vector<CustomerCard>& cards)
    {
        QByteArray bytes;
        for (const CustomerCard& c : cards)
            bytes += QByteArray(reinterpret_cast<const char*>(c.data()), CustomerCard::Size);
        testfiles::writeFile(path(QStringLiteral("RUBRICA.DAT")), bytes);
    }

    std::map<int, fleet::RunRow> lastRunRows()
    {
        const std::unique_ptr<fleet::FleetStore> fleet = fleet::openStore(store(), fleet::OpenMode::Read);
        std::map<int, fleet::RunRow> rows;
        for (fleet::RunRow& row : fleet->runRows(fleet->lastRun()->id))
            rows.emplace(row.customer.card, std::move(row));
        return rows;
    }

    static QStringList ports(const BoxSim& a)
    {
        return { QStringLiteral("--port"), QString::fromStdString(a.devicePath()) };
    }

    QTemporaryDir dir_;
};

// Two units, a customer per outcome, the unreachable called again in a
// further round: each customer's outcome in the store, every call hung up.
TEST_F(AuditRunTest, EveryCustomerJudgedOnTwoUnitsAndEveryCallHungUp)
{
    const TableGrid box = sampleGrid();
    const TableGrid other = otherManagement();
    writeBook({ card("ROSSI", "0461001", &box), card("BIANCHI", "0461002", &other), card("VERDI", "0461003"),
                card("NERI", ""), card("GIALLI", "0461005", &box), card("BLU", "0461006", &box),
                card("ROSA", "0461007", &box) });
    std::vector<std::string> options{ "--fast", "--unit", "--customer", "0461005:no-answer", "--customer", "0461006:error",
                                      "--customer", "0461007:stop:900" };
    BoxSim one;
    BoxSim two;
    for (BoxSim* unit : { &one, &two }) {
        std::vector<std::string> withLog = options;
        withLog.insert(withLog.end(), { "--log", unit->file("unit.log") });
        ASSERT_TRUE(unit->start(withLog)) << unit->error();
    }
    const Ended run = audit(ports(one) + ports(two) + QStringList{ "--store", store(), "--timeout", "1", "--rounds", "1" });
    EXPECT_EQ(run.code, 3) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("senza numero, non chiamate: 4"))) << run.err.toStdString();

    std::map<int, fleet::RunRow> rows = lastRunRows();
    ASSERT_EQ(rows.size(), 7u);
    const std::map<int, Outcome> expected{ { 1, Outcome::Same },      { 2, Outcome::Different }, { 3, Outcome::NoSummary },
                                           { 5, Outcome::Unreached }, { 6, Outcome::Refused },   { 7, Outcome::Unreached } };
    for (const auto& [number, outcome] : expected) {
        ASSERT_TRUE(rows[number].outcome) << number;
        EXPECT_EQ(fleet::outcomeWord(*rows[number].outcome), fleet::outcomeWord(outcome)) << number;
    }
    EXPECT_FALSE(rows[4].outcome);
    EXPECT_EQ(rows[2].differences.size(), 1u);
    EXPECT_EQ(rows[5].attempts, 2);
    EXPECT_EQ(rows[7].attempts, 2);
    EXPECT_EQ(rows[6].attempts, 1);

    const std::unique_ptr<fleet::FleetStore> fleet = fleet::openStore(store(), fleet::OpenMode::Read);
    EXPECT_EQ(fleet->versions(QStringLiteral("0461003")).size(), 1u);
    EXPECT_TRUE(fleet->versions(QStringLiteral("0461007")).empty());
    expectEveryCallHungUp(one);
    expectEveryCallHungUp(two);
    EXPECT_EQ(frames(one).count(QStringLiteral("hangup")) + frames(two).count(QStringLiteral("hangup")), 8);
}

// SIGTERM in the middle of a run hangs up and records it as interrupted;
// --resume calls only those it had not finished, and its exit code speaks
// for the whole run (the first customer, unreached before the stop).
TEST_F(AuditRunTest, StoppedBySigtermThenResumedWithoutCallingAgainThoseFinished)
{
    const TableGrid box = sampleGrid();
    std::vector<CustomerCard> cards;
    for (int i = 1; i <= 6; ++i)
        cards.push_back(card(QStringLiteral("C%1").arg(i), QStringLiteral("046100%1").arg(i), &box));
    writeBook(cards);
    BoxSim unit;
    ASSERT_TRUE(unit.start({ "--fast", "--unit", "--customer", "0461001:no-answer", "--log", unit.file("unit.log") }))
        << unit.error();

    QProcess first;
    start(first, ports(unit) + QStringList{ "--store", store(), "--timeout", "1", "--rounds", "0" }, 0.05);
    for (int i = 0; i < 800 && frames(unit).count(QStringLiteral("hangup")) < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitCode(), 143) << first.readAllStandardError().toStdString();
    expectEveryCallHungUp(unit);

    std::set<QString> finished;
    for (const auto& [number, row] : lastRunRows())
        if (row.outcome)
            finished.insert(row.customer.number);
    ASSERT_GE(finished.size(), 2u);
    ASSERT_LT(finished.size(), 6u);
    const int before = int(frames(unit).size());

    ASSERT_EQ(finished.count(QStringLiteral("0461001")), 1u);
    const Ended resumed = audit(ports(unit) + QStringList{ "--store", store(), "--resume", "--rounds", "0" });
    EXPECT_EQ(resumed.code, 3) << resumed.err.toStdString();
    const QStringList after = frames(unit).mid(before);
    for (const QString& frame : after) {
        if (frame.startsWith(QLatin1String("dial "))) {
            EXPECT_EQ(finished.count(frame.mid(5)), 0u) << frame.toStdString();
        }
    }
    EXPECT_EQ(after.count(QStringLiteral("hangup")), 6 - int(finished.size()));
    for (const auto& [number, row] : lastRunRows()) {
        EXPECT_EQ(row.outcome, row.customer.number == QLatin1String("0461001") ? Outcome::Unreached : Outcome::Same)
            << number;
    }
    expectEveryCallHungUp(unit);
}

// A second audit on a port in use refuses before dialling, naming the first.
TEST_F(AuditRunTest, SecondAuditOnThePortIsRefusedBeforeDialling)
{
    writeBook({ card("ROSSI", "0461001") });
    BoxSim unit;
    ASSERT_TRUE(unit.start({ "--fast", "--unit", "--customer", "0461001:no-answer", "--log", unit.file("unit.log") })) << unit.error();
    QProcess first;
    start(first, ports(unit) + QStringList{ "--store", store(), "--timeout", "60" });
    for (int i = 0; i < 800 && !frames(unit).contains(QStringLiteral("remote-read")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Ended second = audit(ports(unit) + QStringList{ "--store", path(QStringLiteral("other.sqlite")) });
    EXPECT_EQ(second.code, 3);
    EXPECT_TRUE(second.err.contains(QStringLiteral("processo %1").arg(first.processId()))) << second.err.toStdString();
    EXPECT_EQ(frames(unit).count(QStringLiteral("dial 0461001")), 1);

    // Ctrl+C ends the wait for the table at once, and the call is hung up.
    ::kill(pid_t(first.processId()), SIGINT);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitCode(), 130);
    expectEveryCallHungUp(unit);
}

TEST_F(AuditRunTest, BadInputIsRefusedBeforeAnythingIsDialled)
{
    writeBook({ card("ROSSI", "0461001") });
    testfiles::writeFile(path(QStringLiteral("audit.conf")), "# nightly\nports = com7\nrounds = many\n");
    testfiles::writeFile(path(QStringLiteral("maybe.conf")), "ports = com7\njoin = maybe\n");
    testfiles::writeFile(path(QStringLiteral("shared.conf")), "ports = com7\njoin = yes\n");
    const QString justPassed = QTime::currentTime().addSecs(-120).toString(QStringLiteral("HH:mm"));
    const std::vector<std::pair<QStringList, QString>> cases{
        { { "--port", "com7", "--port", "COM7" }, QStringLiteral("due volte") },
        { { "--port", "com7", "--until", justPassed }, QStringLiteral("appena passata") },
        { { "--port", "com7", "--until", "24:00" }, QStringLiteral("HH:MM") },
        { { "--config", path(QStringLiteral("audit.conf")) }, QStringLiteral("audit.conf, riga 3") },
        { { "--config", path(QStringLiteral("maybe.conf")) }, QStringLiteral("maybe.conf, riga 2") },
        { { "--config", path(QStringLiteral("shared.conf")), "--store", store() }, QStringLiteral("server PostgreSQL") },
        { { "--port", "com7", "--cards", "1-3" }, QStringLiteral("non ha la scheda 3") },
        { { "--port", "com7", "--resume", "--store", store() }, QStringLiteral("interrotto da riprendere") },
    };
    for (const auto& [arguments, words] : cases) {
        const Ended run = audit(arguments);
        EXPECT_EQ(run.code, 2) << arguments.join(' ').toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(words)) << run.err.toStdString();
    }
    const Ended missing = audit({ "--port", "com7", "--book", path(QStringLiteral("NONE.DAT")) });
    EXPECT_EQ(missing.code, 5) << missing.err.toStdString();
}

} // namespace
