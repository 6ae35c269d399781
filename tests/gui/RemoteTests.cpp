// Remote programming through the dialling unit: the four commands of the
// address book against the box simulator in its dialling-unit mode, checked
// byte for byte against what the unit received and the pauses between.

#include "tests/gui/FakeSeams.h"

#include "BoxSim.h"
#include "book/RemoteCommands.h"
#include "book/Unit2.h"
#include "device/TableGridView.h"
#include "serial/HandlerGuard.h"
#include "widgets/ALed.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// The program and a dialling unit on its port. Every pause of a command
// records first what the unit has received since the last one, so the
// record reads "sent ..., pause 4000, sent ...".
struct RemoteFixture : Fixture
{
    explicit RemoteFixture(std::vector<std::string> simArguments = {})
    {
        simArguments.insert(simArguments.end(), { "--fast", "--unit", "--log", sim.file("unit.log") });
        EXPECT_TRUE(sim.start(simArguments)) << sim.error();
        ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
        // Counts what the program hands to the line; never fails a write.
        window.comm().setWriteFault([this](int, int count) {
            written_ += count;
            return false;
        });
        pacer.onSleep = [this](int) { pacer.recordSent(arrived()); };
        commands = std::make_unique<RemoteCommands>(window.link(), window.comm(), pacer, commandWindow());
        form2.show();
    }

    RemoteCommands::Window commandWindow()
    {
        RemoteCommands::Window w;
        w.setStatus = [this](const QString& text) {
            book.Label9->setText(text);
            book.Label9->repaint();
        };
        w.focusRead = [this] { focus = QStringLiteral("Button3"); };
        w.focusWrite = [this] { focus = QStringLiteral("Button4"); };
        w.writeTable = [this] {
            window.writeTable();
            return true;
        };
        w.inform = [this](const QString& text) { dialogs.information(&form2, text); };
        return w;
    }

    // The four buttons as the operator presses them, errors to the error hook.
    void pressCall() { guarded([this] { commands->call(surname, prefix, number); })(); }
    void pressRead() { guarded([this] { commands->readRemote(); })(); }
    void pressWrite() { guarded([this] { commands->writeRemote(form2.summary(), window.grid()); })(); }
    void pressHangUp() { guarded([this] { commands->hangUp(); })(); }

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

    QByteArray received() const
    {
        QByteArray bytes;
        std::istringstream log(sim.readLog());
        for (std::string line; std::getline(log, line);) {
            const std::size_t at = line.find(" RX ");
            if (at != std::string::npos)
                bytes += QByteArray::fromHex(QByteArray::fromStdString(line.substr(at + 4)));
        }
        return bytes;
    }

    bool idle() { return !window.comm().Enabled() && ui.ALed1->FalseColor() == clGreen; }
    bool waitIdle() { return QTest::qWaitFor([&] { return idle(); }, 30000); }
    QString status() const { return book.Label9->text(); }

    BoxSim sim;
    std::unique_ptr<RemoteCommands> commands;
    QString surname = QStringLiteral("Rossi");
    QString prefix;
    QString number = QStringLiteral("0123456789");
    QString focus;

private:
    int written_ = 0;
    int taken_ = 0;
};

std::vector<PaceEvent> record(std::initializer_list<PaceEvent> events)
{
    return std::vector<PaceEvent>(events);
}

} // namespace

TEST(Remote, CallDialsThePrefixWaitsThenTheNumber)
{
    RemoteFixture f;
    f.prefix = QStringLiteral("0");
    f.pressCall();
    f.settle();
    EXPECT_EQ(f.pacer.log, record({ { -1, hex("02020330") }, { 4000, {} }, { -1, hex("020b0330313233343536373839") } }))
        << f.pacer.describe();
    EXPECT_EQ(f.status(), QStringLiteral("Composizione numero utente:  Rossi"));
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(f.focus, QStringLiteral("Button3"));
    EXPECT_NE(f.sim.readLog().find("FRAME dial 0123456789 "), std::string::npos);

    // No prefix: the number alone, no wait; an empty number is the bare frame.
    f.pacer.log.clear();
    f.prefix.clear();
    f.pressCall();
    f.number.clear();
    f.pressCall();
    f.settle();
    EXPECT_EQ(f.pacer.log, record({ { -1, hex("020b0330313233343536373839" "020103") } })) << f.pacer.describe();
    EXPECT_TRUE(f.dialogs.shown.isEmpty()) << f.dialogs.shown.join('\n').toStdString();
}

TEST(Remote, NumbersWithoutAFrameAreRefusedBeforeThePortOpens)
{
    RemoteFixture f;
    f.number = QString(255, QLatin1Char('1'));
    f.pressCall();
    f.prefix = QString(255, QLatin1Char('0'));
    f.number = QStringLiteral("12");
    f.pressCall();
    f.prefix = QStringLiteral("0");
    f.number = QStringLiteral("02 1234");
    f.pressCall();
    f.settle();
    EXPECT_EQ(f.dialogs.shown,
              QStringList({ QStringLiteral("Numero telefonico troppo lungo: al massimo 254 cifre"),
                            QStringLiteral("Prefisso troppo lungo: al massimo 254 cifre"),
                            QStringLiteral("Numero telefonico non valido: sono ammesse solo cifre") }));
    EXPECT_TRUE(f.pacer.log.empty()) << f.pacer.describe();
    EXPECT_EQ(f.window.comm().WriteCalls(), 0);
    EXPECT_FALSE(f.window.comm().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clGreen);
    EXPECT_EQ(f.status(), QString());

    // 254 digits still make a frame.
    f.prefix.clear();
    f.number = QString(254, QLatin1Char('9'));
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
    EXPECT_EQ(f.focus, QStringLiteral("Button4"));
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
    EXPECT_TRUE(f.window.comm().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed);
}
