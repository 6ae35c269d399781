// Remote programming through the dialling unit: the four commands of the
// address book against the box simulator in its dialling-unit mode, checked
// byte for byte against what the unit received and the pauses between.

#include "tests/gui/FakeSeams.h"

#include "BoxSim.h"
#include "app/Application.h"
#include "book/CustomerCard.h"
#include "tests/gui/editor_helpers.h"
#include "book/Unit2.h"
#include "widgets/TableGridView.h"
#include "widgets/ALed.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// The program and a dialling unit on its port, the address book open on the
// cards given (none by default). Every pause of a command records first what the unit has
// received since the last one, so the record reads "sent ..., pause 4000, sent ...".
struct RemoteFixture : Fixture
{
    explicit RemoteFixture(std::vector<std::string> simArguments = {}, const std::vector<CustomerCard>& cards = {})
    {
        simArguments.insert(simArguments.end(),
                            { "--fast", "--unit", "--log", sim.file("unit.log"), "--save", sim.file("box.bin") });
        EXPECT_TRUE(sim.start(simArguments)) << sim.error();
        ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
        // Counts what the program hands to the line; never fails a write.
        window.exchange().port().setWriteFault([this](int, int count) {
            written_ += count;
            return false;
        });
        pacer.onSleep = [this](int) { pacer.recordSent(arrived()); };
        QFile book(QStringLiteral("RUBRICA.DAT"));
        EXPECT_TRUE(book.open(QIODevice::WriteOnly));
        for (const CustomerCard& card : cards)
            book.write(reinterpret_cast<const char*>(card.data()), CustomerCard::Size);
        book.close();
        window.show();
        QTest::mouseClick(ui.Button10, Qt::LeftButton);
        if (cards.empty()) {
            surname->setText(QStringLiteral("Rossi"));
            number->setText(QStringLiteral("0123456789"));
        }
    }

    // The four buttons as the operator presses them.
    void pressCall() { QTest::mouseClick(control<QPushButton>(form2, "Bcomponi"), Qt::LeftButton); }
    void pressRead() { QTest::mouseClick(control<QPushButton>(form2, "Button3"), Qt::LeftButton); }
    void pressWrite() { QTest::mouseClick(control<QPushButton>(form2, "Button4"), Qt::LeftButton); }
    void pressHangUp() { QTest::mouseClick(control<QPushButton>(form2, "Button1"), Qt::LeftButton); }
    void click(const char* name) { QTest::mouseClick(control<QPushButton>(form2, name), Qt::LeftButton); }
    QString focus() const { return form2.focusWidget() ? form2.focusWidget()->objectName() : QString(); }

    // The bytes the unit has logged as received since the last call, once
    // every byte written so far has reached it (bounded against a hang).
    QByteArray arrived()
    {
        QByteArray all;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        do {
            all = received();
            if (all.size() >= written_)
                break;
            std::this_thread::sleep_for(2ms);
        } while (std::chrono::steady_clock::now() < deadline);
        const QByteArray fresh = all.mid(taken_);
        taken_ = int(all.size());
        return fresh;
    }
    // The rest of a command's bytes into the record.
    void settle() { pacer.recordSent(arrived()); }

    // Every byte the unit has logged as received (read on from where the
    // last look stopped).
    QByteArray received()
    {
        for (const std::string& line : sim.readLogLines(logRead_)) {
            const std::size_t at = line.find(" RX ");
            if (at != std::string::npos)
                received_ += QByteArray::fromHex(QByteArray::fromStdString(line.substr(at + 4)));
        }
        return received_;
    }

    QString status() const { return book.Label9->text(); }

    BoxSim sim;
    QLineEdit* surname = control<QLineEdit>(form2, "Ecognome");
    QLineEdit* prefix = control<QLineEdit>(form2, "Edit1");
    QLineEdit* number = control<QLineEdit>(form2, "Enumero");

private:
    int written_ = 0;
    int taken_ = 0;
    std::size_t logRead_ = 0;
    QByteArray received_;
};

std::vector<PaceEvent> record(std::initializer_list<PaceEvent> events)
{
    return std::vector<PaceEvent>(events);
}

} // namespace

TEST(Remote, CallDialsThePrefixWaitsThenTheNumber)
{
    RemoteFixture f;
    f.prefix->setText(QStringLiteral("0"));
    f.pressCall();
    f.settle();
    EXPECT_EQ(f.pacer.log, record({ { -1, hex("02020330") }, { 4000, {} }, { -1, hex("020b0330313233343536373839") } }))
        << f.pacer.describe();
    EXPECT_EQ(f.status(), QStringLiteral("Composizione numero utente:  Rossi"));
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(f.focus(), QStringLiteral("Button3"));
    EXPECT_TRUE(f.sim.waitForLog("FRAME dial 0123456789 "));

    // No prefix: the number alone, no wait; an empty number is the bare frame.
    f.pacer.log.clear();
    f.prefix->clear();
    f.pressCall();
    f.number->clear();
    f.pressCall();
    f.settle();
    EXPECT_EQ(f.pacer.log,
              record({ { -1,
                         hex("020b0330313233343536373839"
                             "020103") } }))
        << f.pacer.describe();
    EXPECT_TRUE(f.dialogs.shown.isEmpty()) << f.dialogs.shown.join('\n').toStdString();
}

TEST(Remote, NumbersWithoutAFrameAreRefusedBeforeThePortOpens)
{
    RemoteFixture f;
    f.number->setText(QString(255, QLatin1Char('1')));
    f.pressCall();
    f.prefix->setText(QString(255, QLatin1Char('0')));
    f.number->setText(QStringLiteral("12"));
    f.pressCall();
    f.prefix->setText(QStringLiteral("0"));
    f.number->setText(QStringLiteral("02 1234"));
    f.pressCall();
    f.settle();
    EXPECT_EQ(f.dialogs.shown,
              QStringList({ QStringLiteral("Numero telefonico troppo lungo: al massimo 254 cifre"),
                            QStringLiteral("Prefisso troppo lungo: al massimo 254 cifre"),
                            QStringLiteral("Numero telefonico non valido: sono ammesse solo cifre") }));
    EXPECT_TRUE(f.pacer.log.empty()) << f.pacer.describe();
    EXPECT_EQ(f.window.exchange().port().WriteCalls(), 0);
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clGreen);
    EXPECT_EQ(f.status(), QString());

    // 254 digits still make a frame.
    f.prefix->clear();
    f.number->setText(QString(254, QLatin1Char('9')));
    f.pressCall();
    f.settle();
    ASSERT_EQ(f.pacer.log.size(), 1u);
    EXPECT_EQ(f.pacer.log[0].sent.left(3), hex("02ff03"));
    EXPECT_EQ(f.pacer.log[0].sent.size(), 257);
}

TEST(Remote, ReadWaitsThenAsksAndTheTableFillsBothGrids)
{
    RemoteFixture f({ "--need-dial" });
    f.pressCall();
    f.pressRead();
    f.settle();
    EXPECT_EQ(f.status(), QStringLiteral("Lettura dati programmazioni"));
    EXPECT_EQ(f.focus(), QStringLiteral("Button4"));
    EXPECT_EQ(f.pacer.log, record({ { -1, hex("020b0330313233343536373839") }, { 5000, {} }, { -1, hex("020105") } }))
        << f.pacer.describe();
    ASSERT_TRUE(f.waitIdle());
    // The simulator's sample table, in the main grid and in the summary.
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
    EXPECT_NE(f.window.grid().cell(1, 2), QStringLiteral("-"));
    for (int r = 1; r <= 128; ++r)
        for (int c = 1; c <= 26; ++c)
            ASSERT_EQ(f.form2.summary().cell(c, r), f.window.grid().cell(c, r)) << c << "," << r;
}

TEST(Remote, HangUpSendsItsFrameAndClosesButNotWhileAReadWaits)
{
    RemoteFixture f({ "--fault", "silent" });
    f.book.Label9->setText(QStringLiteral("Dati inviati"));
    f.pressHangUp();
    f.settle();
    EXPECT_EQ(f.pacer.log, record({ { -1, hex("0203030202") } })) << f.pacer.describe();
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(f.status(), QString());

    // A read the box never answers keeps the port: the hang-up cannot open it.
    f.pacer.log.clear();
    f.pressRead();
    f.pressHangUp();
    f.settle();
    EXPECT_EQ(f.pacer.log, record({ { 5000, {} }, { -1, hex("020105") } })) << f.pacer.describe();
    ASSERT_EQ(f.dialogs.shown.size(), 1);
    EXPECT_EQ(f.dialogs.shown[0], QStringLiteral("Serial error: Port already assigned (open) (Error: -1) "));
    EXPECT_TRUE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed);
}

// The desktop session ends (SIGTERM) while a read waits on the called box:
// the main window closes and lets go of the line, as "Esci" does, and the
// unit sees the line closed after the request it had.
TEST(Remote, TheSessionEndingPutsDownAnOpenLine)
{
    RemoteFixture f({ "--fault", "silent" });
    SessionEnd end([&] { f.window.close(); });
    f.pressRead();
    ASSERT_TRUE(f.window.exchange().port().Enabled());
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.window.exchange().port().Enabled(); }, 10000));
    EXPECT_FALSE(f.window.isVisible());
    // The unit logs the request once it has read it, which on a busy
    // machine may be after the window has already closed.
    std::size_t request = std::string::npos;
    const auto requested = [&] { return (request = f.sim.readLog().find("FRAME remote-read")) != std::string::npos; };
    ASSERT_TRUE(QTest::qWaitFor(requested, 10000)) << f.sim.readLog();
    // However quickly it looked, the unit saw the line go after the request.
    const auto closed = [&] { return f.sim.readLog().find("closed", request) != std::string::npos; };
    EXPECT_TRUE(QTest::qWaitFor(closed, 10000))
        << f.sim.readLog();
}

TEST(Remote, WriteWithAnEmptySummarySendsNothingAndKeepsTheMainTable)
{
    RemoteFixture f;
    f.window.grid().setCell(1, 1, QStringLiteral("U"));
    f.window.grid().setCell(5, 9, QStringLiteral("7"));
    f.pressWrite();
    f.settle();
    EXPECT_TRUE(f.pacer.log.empty()) << f.pacer.describe();
    EXPECT_EQ(f.window.exchange().port().WriteCalls(), 0);
    EXPECT_EQ(f.status(), QStringLiteral("Dati non inviati"));
    EXPECT_EQ(
        f.dialogs.shown,
        QStringList { QStringLiteral("Nessuna programmazione da inviare: scegliere una scheda o leggere i dati") });
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
    EXPECT_EQ(f.window.grid().cell(5, 9), QStringLiteral("7"));
}

CustomerCard customer(const QString& surname, const QString& number, const QString& summary)
{
    CustomerCard c;
    c.setText(CustomerCard::Field::Cognome, surname);
    c.setText(CustomerCard::Field::Numero, number);
    for (int r = 1; r <= CustomerCard::SummaryRows; ++r)
        for (int col = 1; col <= CustomerCard::SummaryColumns; ++col)
            c.setSummaryByte(col, r, std::uint8_t(summary.at(col - 1).toLatin1()));
    return c;
}

// Chiama, Leggi Dati, Edita, an edit with the keyboard, Utente, Salva, then
// the main table wiped, Scrivi Dati and Sconnetti: the box gets the edited
// summary, the card keeps it.
TEST(Remote, WholeSessionWritesTheEditedSummaryAndTheCardKeepsIt)
{
    RemoteFixture f({ "--need-dial" },
                    { customer(QStringLiteral("Bianchi"), QStringLiteral("0451"), QString(26, QLatin1Char('-'))) });
    ASSERT_EQ(f.number->text(), QStringLiteral("0451"));
    f.pressCall();
    f.pressRead();
    ASSERT_TRUE(f.waitIdle());
    ASSERT_EQ(f.form2.summary().cell(1, 2), QStringLiteral("3"));

    f.click("Button2");
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
    f.ui.SpinEdit1->setValue(2);
    f.ui.SpinEdit1->setValue(1);
    editortest::erase(f.ui.Edit2);
    editortest::type(QStringLiteral("55"));
    QTest::mouseClick(f.ui.Button10, Qt::LeftButton);
    f.click("Bsalva");
    QTest::mouseClick(f.ui.ButtonReset, Qt::LeftButton);
    ASSERT_EQ(f.window.grid().cell(1, 2), QStringLiteral("-"));

    f.pacer.log.clear();
    f.pressWrite();
    f.settle();
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(f.status(), QStringLiteral("Dati inviati"));
    f.pressHangUp();
    f.settle();
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(f.status(), QString());
    EXPECT_TRUE(f.dialogs.shown.isEmpty()) << f.dialogs.shown.join('\n').toStdString();

    // The table, 1200 ms for the box to take it, then the command to keep it.
    const std::vector<PaceEvent>& log = f.pacer.log;
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log.front().sent, hex("020102")) << f.pacer.describe();
    EXPECT_EQ(std::vector<PaceEvent>(log.end() - 3, log.end()),
              record({ { 1200, {} }, { -1, hex("020106") }, { -1, hex("0203030202") } }))
        << f.pacer.describe();

    // The box holds the edited association 1 and the rest as read.
    const std::vector<std::uint8_t> box = BoxSim::readBinaryFile(f.sim.file("box.bin"));
    ASSERT_EQ(box.size(), 2067u);
    EXPECT_EQ(std::vector<std::uint8_t>(box.begin() + 16, box.begin() + 26),
              (std::vector<std::uint8_t> { 5, 5, 11, 11, 11, 11, 0x1A, 0x55, 0xBB, 0xBB }));
    EXPECT_EQ(std::vector<std::uint8_t>(box.begin() + 48, box.begin() + 64),
              (std::vector<std::uint8_t> { 3, 4, 8, 11, 11, 11, 0x12, 0xCB, 0xBB, 0xBB, 0, 0, 0, 0, 0, 0 }));

    QFile book(QStringLiteral("RUBRICA.DAT"));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    const QByteArray bytes = book.readAll();
    ASSERT_EQ(bytes.size(), CustomerCard::Size);
    CustomerCard kept;
    std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(kept.data()));
    QString row2;
    for (int c = 1; c <= 14; ++c)
        row2 += QLatin1Char(char(kept.summaryByte(c, 2)));
    EXPECT_EQ(row2, QStringLiteral("55****1055****"));
}

TEST(Remote, WriteShowsTheBoxsRefusal)
{
    RemoteFixture f({ "--reply-error" });
    f.pressRead();
    ASSERT_TRUE(f.waitIdle());
    f.pressWrite();
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clGreen) << "the command is out";
    EXPECT_TRUE(f.window.exchange().port().Enabled()) << "the port waits for the reply";
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(f.status(), QStringLiteral("ERRORE!!"));
    EXPECT_NE(f.sim.readLog().find("FRAME table 2051 bytes"), std::string::npos);
}

TEST(Remote, TableTheWriteRefusesSendsNothingAtAll)
{
    // A summary of '5' everywhere: no association of it can be encoded.
    RemoteFixture f(
        {},
        { customer(QStringLiteral("Verdi"), QStringLiteral("12"), QLatin1Char('U') + QString(25, QLatin1Char('5'))) });
    ASSERT_EQ(f.form2.summary().cell(2, 2), QStringLiteral("5"));
    f.pressWrite();
    f.settle();
    EXPECT_TRUE(f.pacer.log.empty()) << f.pacer.describe();
    EXPECT_EQ(f.window.exchange().port().WriteCalls(), 0);
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.status(), QStringLiteral("Dati non inviati"));
    ASSERT_EQ(f.dialogs.shown.size(), 1) << "the write's own message";
    EXPECT_TRUE(f.dialogs.shown[0].startsWith(QStringLiteral("Associazione 1:"))) << f.dialogs.shown[0].toStdString();
}

// The line held in the middle of the table: the unit is never told to keep
// what the box got, and the operator hears it over the address book.
TEST(Remote, ATableCutShortOnTheLineIsNeverCommitted)
{
    RemoteFixture f({ "--fault", "stall-write:700" });
    f.pressRead();
    ASSERT_TRUE(f.waitIdle());
    // A pseudo-terminal takes every piece at once: only the held one waits this long.
    f.window.exchange().port().setWriteTimeout(300);
    f.pacer.log.clear();
    f.pressWrite();

    EXPECT_EQ(f.status(), QStringLiteral("Invio interrotto"));
    ASSERT_EQ(f.dialogs.shown.size(), 1) << f.dialogs.shown.join('\n').toStdString();
    EXPECT_TRUE(f.dialogs.shown[0].startsWith(QStringLiteral("Scrittura interrotta all'associazione 4")))
        << f.dialogs.shown[0].toStdString();
    EXPECT_EQ(f.dialogs.informationParents[0], &f.form2);
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed);
    EXPECT_TRUE(std::none_of(f.pacer.log.begin(), f.pacer.log.end(), [](const PaceEvent& e) { return e.pauseMs == 1200; }))
        << f.pacer.describe();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.readLog().find("fault: line released") != std::string::npos; },
                                10000));
    EXPECT_EQ(f.sim.readLog().find("FRAME remote-write"), std::string::npos);
}

TEST(Remote, ADumpCutShortDoesNotRunIntoTheNextOne)
{
    // The first box stops a third of the way through its table; the operator
    // leaves the address book, which closes the port, and reads again.
    RemoteFixture f({ "--fault", "stop:700" });
    f.pressRead();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.window.receiveBuffer().position() == 700; }, 10000));
    f.click("Besci");
    ASSERT_FALSE(f.window.exchange().port().Enabled());

    // The second box is not the one whose log the fixture follows.
    f.pacer.onSleep = nullptr;
    f.window.exchange().port().setWriteFault(nullptr);
    BoxSim whole;
    ASSERT_TRUE(whole.start({ "--fast", "--unit" })) << whole.error();
    f.ui.EditDevName->setText(QString::fromStdString(whole.devicePath()));
    QTest::mouseClick(f.ui.Button10, Qt::LeftButton);
    f.pressRead();
    ASSERT_TRUE(f.waitIdle());
    const TableGrid remote = f.window.grid();

    // The same box read from the main window gives the same table.
    QTest::mouseClick(f.ui.ButtonTransmit, Qt::LeftButton);
    ASSERT_TRUE(f.waitIdle());
    EXPECT_TRUE(remote.dataEquals(f.window.grid()));
    EXPECT_EQ(remote.cell(1, 1), QStringLiteral("U"));
}
