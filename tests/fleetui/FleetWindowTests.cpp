#include "FleetTestData.h"

#include "book/AddressBookFile.h"
#include "fleetui/FleetHistory.h"
#include "fleetui/FleetListModel.h"
#include "widgets/TableGridView.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTest>

using namespace fleetui;
using fleet::Outcome;
using fleettest::card;
using fleettest::table;

namespace {

fleet::BoxState box(const QString& number, int card, std::optional<Outcome> outcome = Outcome::Same)
{
    fleet::BoxState b;
    b.number = number;
    b.card = card;
    b.surname = QStringLiteral("Allora%1").arg(card);
    b.lastOutcome = outcome;
    return b;
}

template<typename T>
T* control(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QStringList column(const QAbstractItemModel& model, int c)
{
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r)
        texts << model.index(r, c).data().toString();
    return texts;
}

// The window's list row of this number chosen, as a click does.
void choose(QWidget& window, const QString& number)
{
    auto* list = control<QTableView>(window, "FleetList");
    const QStringList numbers = column(*list->model(), FleetListModel::NumberColumn);
    ASSERT_TRUE(numbers.contains(number)) << numbers.join(QLatin1Char(' ')).toStdString();
    list->setCurrentIndex(list->model()->index(int(numbers.indexOf(number)), 0));
}

} // namespace

TEST(FleetRows, BoxesMeetTheBookAsItIsToday)
{
    const std::vector<BookEntry> book = {
        { 1, QStringLiteral("Bruni"), QString(), QStringLiteral("0699") },  // card 1 now dials another number
        { 2, QStringLiteral("Conti"), QString(), QStringLiteral("0611") },  // "Ordina" moved 0611 here from card 5
        { 3, QStringLiteral("Dini"), QString(), QString() },                // no number
        { 4, QStringLiteral("Esposito"), QString(), QStringLiteral("0644") },
        { 5, QStringLiteral("Fabbri"), QString(), QStringLiteral("0644") }, // the same box, one row
    };
    const std::vector<FleetRow> rows
        = fleetRows({ box(QStringLiteral("0611"), 5), box(QStringLiteral("0622"), 1), box(QStringLiteral("0633"), 9) }, book);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].match, CardMatch::Present);
    EXPECT_EQ(rows[0].box.card, 2);
    EXPECT_EQ(rows[0].box.surname, QStringLiteral("Conti"));
    EXPECT_EQ(rows[1].match, CardMatch::NumberChanged);
    EXPECT_EQ(rows[1].cardNote(), QStringLiteral("la scheda 1 ora chiama il 0699"));
    EXPECT_EQ(rows[2].match, CardMatch::Missing);
    EXPECT_FALSE(rows[2].cardProblem().isEmpty());
    // Then the cards never checked: card 1's new number is a box of its own.
    EXPECT_EQ(rows[3].box.number, QStringLiteral("0699"));
    EXPECT_EQ(rows[4].match, CardMatch::NoNumber);
    EXPECT_EQ(rows[5].box.number, QStringLiteral("0644"));
    EXPECT_EQ(rows[5].box.card, 4);
    EXPECT_EQ(rows[5].state(), RowState::NeverChecked);
    EXPECT_TRUE(rows[5].cardProblem().isEmpty());

    // Without the book nothing can be said of the cards, and restore is refused.
    const std::vector<FleetRow> blind = fleetRows({ box(QStringLiteral("0611"), 5) }, std::nullopt);
    ASSERT_EQ(blind.size(), 1u);
    EXPECT_EQ(blind[0].match, CardMatch::BookUnknown);
    EXPECT_FALSE(blind[0].cardProblem().isEmpty());
}

TEST(FleetFilter, OutcomeFilterSearchAndAttentionFirst)
{
    std::vector<fleet::BoxState> boxes = { box(QStringLiteral("0611"), 1, Outcome::Same),
                                           box(QStringLiteral("0622"), 2, Outcome::Different),
                                           box(QStringLiteral("0633"), 3, Outcome::Unreached),
                                           box(QStringLiteral("0644"), 4, Outcome::Refused),
                                           box(QStringLiteral("0655"), 5, std::nullopt) };
    boxes[0].surname = QStringLiteral("Rossi");
    boxes[1].surname = QStringLiteral("Grossi");
    FleetListModel model;
    model.setRows(fleetRows(boxes, std::nullopt));
    FleetFilter filter;
    filter.setSourceModel(&model);
    filter.sort(FleetListModel::OutcomeColumn);
    EXPECT_EQ(column(filter, FleetListModel::OutcomeColumn),
              QStringList({ QStringLiteral("non raggiunta"), QStringLiteral("rifiutata"), QStringLiteral("diversa"),
                            QStringLiteral("mai controllata"), QStringLiteral("uguale") }));

    filter.setShow(FleetFilter::Show::Different);
    EXPECT_EQ(column(filter, FleetListModel::NumberColumn), QStringList{ QStringLiteral("0622") });
    filter.setShow(FleetFilter::Show::Unreached);
    EXPECT_EQ(column(filter, FleetListModel::NumberColumn), QStringList({ QStringLiteral("0633"), QStringLiteral("0644") }));
    filter.setShow(FleetFilter::Show::NeverChecked);
    EXPECT_EQ(column(filter, FleetListModel::NumberColumn), QStringList{ QStringLiteral("0655") });

    // A surname by its start, any case; a number by any of its digits.
    filter.setShow(FleetFilter::Show::All);
    filter.setSearch(QStringLiteral("ROS"));
    EXPECT_EQ(column(filter, FleetListModel::NumberColumn), QStringList{ QStringLiteral("0611") });
    filter.setSearch(QStringLiteral("44"));
    EXPECT_EQ(column(filter, FleetListModel::NumberColumn), QStringList{ QStringLiteral("0644") });
}

TEST(FleetWindow, AStoreNotThereYetIsToldAndRetried)
{
    fleettest::Fleet fleet;
    fleet.writeBook({ card(QStringLiteral("Rossi"), QStringLiteral("0611")) });
    const auto window = fleet.open();
    auto* status = control<QLabel>(*window, "FleetStatus");
    auto* retry = control<QPushButton>(*window, "FleetRetry");
    EXPECT_TRUE(status->text().contains(fleet.setup.store)) << status->text().toStdString();
    EXPECT_FALSE(retry->isHidden());
    auto* list = control<QTableView>(*window, "FleetList");
    EXPECT_EQ(column(*list->model(), FleetListModel::OutcomeColumn), QStringList{ QStringLiteral("mai controllata") });

    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), Outcome::Unreached, 0);
    QTest::mouseClick(retry, Qt::LeftButton);
    EXPECT_EQ(column(*list->model(), FleetListModel::OutcomeColumn), QStringList{ QStringLiteral("non raggiunta") });
    EXPECT_TRUE(retry->isHidden());
}

TEST(FleetWindow, AVersionIsShownWithTheFieldsThatDifferFromTheCard)
{
    fleettest::Fleet fleet;
    const TableGrid onCard = table(QStringLiteral("1800"));
    fleet.writeBook({ card(QStringLiteral("Rossi"), QStringLiteral("0611"), &onCard) });
    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), Outcome::Same, 0, onCard);
    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), Outcome::Different, 1, table(QStringLiteral("1930")));
    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), Outcome::Unreached, 2);
    const auto window = fleet.open();
    choose(*window, QStringLiteral("0611"));

    EXPECT_EQ(control<QTableWidget>(*window, "FleetSessions")->rowCount(), 3);
    auto* versions = control<QTableWidget>(*window, "FleetVersions");
    ASSERT_EQ(versions->rowCount(), 2);
    auto* differences = control<QListWidget>(*window, "FleetDifferences");
    ASSERT_EQ(differences->count(), 1);
    EXPECT_EQ(differences->item(0)->text(), QStringLiteral("Associazione 12, Alle: 1800 -> 1930"));
    // The end time's cells of association 12 are marked, and nothing else.
    auto* grid = control<TableGridView>(*window, "FleetVersionGrid");
    auto* marks = qobject_cast<MarkedCells*>(grid->itemDelegate());
    ASSERT_NE(marks, nullptr);
    EXPECT_EQ(grid->model()->index(12, 18).data().toString(), QStringLiteral("1"));
    for (int c = 19; c <= 22; ++c)
        EXPECT_TRUE(marks->isMarked(c, 13)) << c;
    EXPECT_FALSE(marks->isMarked(15, 13));
    EXPECT_FALSE(marks->isMarked(19, 2));

    // The older version is the card's table.
    versions->setCurrentCell(1, 0);
    EXPECT_EQ(differences->item(0)->text(), QStringLiteral("Uguale al riepilogo della scheda."));
    EXPECT_FALSE(marks->isMarked(19, 13));
}

TEST(FleetWindow, RestoreAndSaveAreRefusedBeforeAnythingIsDone)
{
    fleettest::Fleet fleet;
    fleet.setup.ports = QStringList{ fleet.dir.filePath(QStringLiteral("no-such-port")) };
    TableGrid damaged = table();
    damaged.setCell(3, 2, QStringLiteral("x"));
    fleet.writeBook({ card(QStringLiteral("Rossi"), QStringLiteral("0611")), card(QStringLiteral("Verdi"), QStringLiteral("0699")) });
    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), Outcome::NoSummary, 0, damaged);
    fleet.record(2, QStringLiteral("Verdi"), QStringLiteral("0622"), Outcome::NoSummary, 0);
    const auto window = fleet.open();
    auto* restore = control<QPushButton>(*window, "FleetRestore");

    // A table read from a damaged box: the plan's own words, no question, no run.
    choose(*window, QStringLiteral("0611"));
    QTest::mouseClick(restore, Qt::LeftButton);
    ASSERT_EQ(fleet.dialogs.errors.size(), 1);
    EXPECT_TRUE(fleet.dialogs.errors[0].contains(QStringLiteral("Associazione 1: prefisso non valido")))
        << fleet.dialogs.errors[0].toStdString();
    // Card 2 now dials another number: neither the box nor the card is touched.
    choose(*window, QStringLiteral("0622"));
    QTest::mouseClick(restore, Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(*window, "FleetSaveToCard"), Qt::LeftButton);
    ASSERT_EQ(fleet.dialogs.errors.size(), 3);
    EXPECT_TRUE(fleet.dialogs.errors[1].contains(QStringLiteral("0699")));
    EXPECT_TRUE(fleet.dialogs.questions.isEmpty());
    EXPECT_EQ(fleet::openStore(fleet.setup.store, fleet::OpenMode::Read)->lastRun()->customers, 1);
    EXPECT_EQ(fleet::openStore(fleet.setup.store, fleet::OpenMode::Read)->history(QStringLiteral("0622")).size(), 1u);
}

TEST(FleetWindow, SaveToCardTakesTheBooksLockAndJournal)
{
    fleettest::Fleet fleet;
    const TableGrid onCard = table(QStringLiteral("1800"));
    fleet.writeBook({ card(QStringLiteral("Rossi"), QStringLiteral("0611"), &onCard) });
    fleet.record(1, QStringLiteral("Rossi"), QStringLiteral("0611"), Outcome::Different, 0, table(QStringLiteral("1930")));
    const auto window = fleet.open();
    choose(*window, QStringLiteral("0611"));
    auto* save = control<QPushButton>(*window, "FleetSaveToCard");
    const auto summaryEnd = [&] {
        AddressBookFile book;
        book.open(fleet.setup.book, AddressBookFile::Access::ReadOnly);
        CustomerCard c;
        book.readCard(c);
        TableGrid grid;
        c.showSummaryIn(grid);
        return rowText(grid, 13, 19, 22);
    };

    {
        // A window holds the book: its message, and the card as it was.
        AddressBookFile held;
        held.open(fleet.setup.book, AddressBookFile::Access::Write);
        AddressBookFile second;
        second.open(fleet.setup.book, AddressBookFile::Access::Write);
        const QStringList bookSays = second.takeNotices();
        ASSERT_FALSE(bookSays.isEmpty());
        QTest::mouseClick(save, Qt::LeftButton);
        EXPECT_EQ(fleet.dialogs.errors, QStringList{ bookSays.join(QLatin1Char('\n')) });
        EXPECT_EQ(summaryEnd(), QStringLiteral("1800"));
    }
    QTest::mouseClick(save, Qt::LeftButton);
    EXPECT_EQ(fleet.dialogs.errors.size(), 1);
    EXPECT_EQ(summaryEnd(), QStringLiteral("1930"));
    EXPECT_EQ(control<QListWidget>(*window, "FleetDifferences")->item(0)->text(),
              QStringLiteral("Uguale al riepilogo della scheda."));
}

TEST(FleetSetup, ReadsTheNightlyRunsConfiguration)
{
    QDir().mkpath(QFileInfo(fleetSetupPath()).path());
    QFile conf(fleetSetupPath());
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    conf.write("# the units\nports = com2, /dev/ttyUSB0 com4\nbook = clienti/RUBRICA.DAT\nprefix = 0\ntimeout = 20\n");
    conf.close();
    const FleetSetup setup = readFleetSetup();
    QFile::remove(fleetSetupPath());
    EXPECT_EQ(setup.ports, QStringList({ QStringLiteral("com2"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("com4") }));
    EXPECT_EQ(setup.book, QDir::home().filePath(QStringLiteral("clienti/RUBRICA.DAT")));
    EXPECT_EQ(setup.prefix, QStringLiteral("0"));
    EXPECT_EQ(setup.silenceMs, 20000);
    EXPECT_EQ(setup.store, fleet::defaultStorePath());
    EXPECT_TRUE(setup.problem.isEmpty());
}
