// The remote soak: a customer's box reached through the dialling unit, one
// whole session per cycle through the address book's own buttons, as the
// operator works it: "Chiama", "Leggi Dati", "Edita", a prefix typed into an
// association of the main window, "Utente", the card's address typed, "Salva",
// "Scrivi Dati", "Sconnetti". Each cycle the unit misbehaves in a way picked
// at random. The box's table lives on from cycle to cycle in an image file the
// simulator starts from and saves to, so every write lands on what the box
// kept the cycle before.
//
// After every cycle: the window is idle, RUBRICA.DAT holds exactly the card
// the operator saved, the box holds the table written (when the session
// could tell it to keep it) or the one it had, never part of one, and the
// operator heard exactly the messages the fault calls for. After the last
// cycle the process must hold no more descriptors, threads or heap than after
// the first few.

#include "bench/RemoteSoak.h"

#include "app/Program.h"
#include "bench/SoakSupport.h"
#include "bench/UnitFaults.h"
#include "book/CustomerCard.h"
#include "widgets/ALed.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <array>
#include <cstdio>
#include <random>

namespace soak {
namespace {

// What the box must hold once the session is over.
enum class Expect { Old, New };

// The bytes the unit has logged as received, read as the log grows.
class LineWatch
{
public:
    void follow(const QString& path)
    {
        file_.close();
        count_ = 0;
        pending_.clear();
        if (!path.isEmpty())
            file_.setFileName(path);
    }
    qint64 received()
    {
        if (!file_.isOpen() && !file_.open(QIODevice::ReadOnly))
            return count_;
        pending_ += file_.readAll();
        int end;
        while ((end = int(pending_.indexOf('\n'))) >= 0) {
            const QByteArray line = pending_.left(end);
            pending_.remove(0, end + 1);
            const int at = int(line.indexOf(" RX "));
            if (at >= 0)
                count_ += (line.size() - at - 4 + 1) / 3;
        }
        return count_;
    }

private:
    QFile file_;
    QByteArray pending_;
    qint64 count_ = 0;
};

const QString Surname = QStringLiteral("ROSSI");
const QString Number = QStringLiteral("0451234567");

class RemoteSoak : public MainWindowDriver
{
public:
    RemoteSoak(Program& program, SoakDialogs& dialogs, NoPacer& pacer)
        : MainWindowDriver(program.frmMain)
        , book_(program.form2)
        , dialogs_(dialogs)
        , EditDevName_(window_.findChild<QLineEdit*>(QStringLiteral("EditDevName")))
        , Utente_(window_.findChild<QPushButton*>(QStringLiteral("Button10")))
        , SpinEdit1_(window_.findChild<QSpinBox*>(QStringLiteral("SpinEdit1")))
        , Edit2_(window_.findChild<QLineEdit*>(QStringLiteral("Edit2")))
        , Chiama_(book_.findChild<QPushButton*>(QStringLiteral("Bcomponi")))
        , LeggiDati_(book_.findChild<QPushButton*>(QStringLiteral("Button3")))
        , Edita_(book_.findChild<QPushButton*>(QStringLiteral("Button2")))
        , ScriviDati_(book_.findChild<QPushButton*>(QStringLiteral("Button4")))
        , Sconnetti_(book_.findChild<QPushButton*>(QStringLiteral("Button1")))
        , Salva_(book_.findChild<QPushButton*>(QStringLiteral("Bsalva")))
        , Ecognome_(book_.findChild<QLineEdit*>(QStringLiteral("Ecognome")))
        , Enumero_(book_.findChild<QLineEdit*>(QStringLiteral("Enumero")))
        , Eindirizzo_(book_.findChild<QLineEdit*>(QStringLiteral("Eindirizzo")))
        , Label9_(book_.findChild<QLabel*>(QStringLiteral("Label9")))
    {
        // Counts what the program hands to the line; never fails a write.
        window_.exchange().port().setWriteFault([this](int, int count) {
            written_ += count;
            return false;
        });
        pacer.onSleep = [this] { waitDrained(); };
    }

    bool ready() const
    {
        return driverReady() && folder_.isValid() && EditDevName_ && Utente_ && SpinEdit1_ && Edit2_ && Chiama_
            && LeggiDati_ && Edita_ && ScriviDati_ && Sconnetti_ && Salva_ && Ecognome_ && Enumero_ && Eindirizzo_
            && Label9_;
    }

    UnitBox& box() { return box_; }

    // The address book lies in the folder the program runs in.
    bool enterFolder() { return QDir::setCurrent(folder_.path()); }

    // One session; an empty result means it went as it must.
    std::string cycle(Fault fault, std::mt19937& rng)
    {
        ++sessions_;
        int n = 0;
        const QStringList arguments = unitArguments(box_.statePath(), box_.imagePath(), fault, rng, n);
        const QByteArray boxBefore = box_.image();
        Sim sim;
        if (!sim.start(arguments))
            return "the simulator did not start";
        EditDevName_->setText(sim.path());
        line_.follow(sim.logPath());
        written_ = 0;
        const int shownBefore = dialogs_.count;
        std::string problem = session(fault, n, sim, rng);
        int expectedMessages = fault == Fault::StallWrite ? 1 : 0;
        if (problem.empty() && dialogs_.count != shownBefore + expectedMessages)
            problem = "unexpected message: " + dialogs_.last.toStdString();
        if (!problem.empty()) {
            // Whatever happened, the next session starts on a closed port.
            click(Button1_);
            problem += "; the unit logged:\n" + sim.log().toStdString();
        }
        sim.stop();
        line_.follow(QString());
        // A partial table in the box is a defect whatever else went wrong.
        const std::string box = checkBox(fault == Fault::None || fault == Fault::Truncation || fault == Fault::Garbage
                                             ? Expect::New
                                             : Expect::Old,
                                         boxBefore);
        if (problem.empty() || box.find("partial") != std::string::npos)
            problem = box + (problem.empty() || box.empty() ? "" : "; ") + problem;
        if (problem.empty())
            problem = checkBook();
        return problem;
    }

private:
    std::string session(Fault fault, int n, Sim& sim, std::mt19937& rng)
    {
        if (!book_.isVisible()) {
            click(Utente_);
            if (!QTest::qWaitForWindowActive(&book_))
                return "\"Utente\" did not bring up the address book";
            if (!customerTyped_) {
                // The first session begins with the customer's card: the book is empty.
                type(Ecognome_, QStringLiteral("rossi"));
                type(Enumero_, Number);
                click(Salva_);
                expectCard(QString());
                customerTyped_ = true;
                const std::string problem = checkBook();
                if (!problem.empty())
                    return "the new card: " + problem;
            }
        }

        click(Chiama_);
        if (!idle())
            return "\"Chiama\" did not leave the line idle";
        if (!waitLog(sim, "NOTE call to " + Number.toLatin1()))
            return "the unit never dialled the customer";

        const QStringList before = cellsOf(window_.grid());
        click(LeggiDati_);
        std::string problem = read(fault, n, sim, before);
        if (!problem.empty())
            return problem;
        if (!book_.summary().dataEquals(window_.grid()))
            return "the summary does not show the main grid after \"Leggi Dati\"";

        click(Edita_);
        if (!window_.grid().dataEquals(book_.summary()))
            return "\"Edita\" did not hand the summary to the main grid";
        problem = typeChange(rng);
        if (!problem.empty())
            return problem;

        click(Utente_);
        if (!QTest::qWaitForWindowActive(&book_))
            return "\"Utente\" did not bring the address book back";
        if (!book_.summary().dataEquals(window_.grid()))
            return "\"Utente\" did not copy the edited table into the summary";
        const QString address = QStringLiteral("VIA %1").arg(sessions_);
        Eindirizzo_->setFocus();
        QTest::keyClick(Eindirizzo_, Qt::Key_End);
        for (int i = Eindirizzo_->text().size(); i > 0; --i)
            QTest::keyClick(Eindirizzo_, Qt::Key_Backspace);
        type(Eindirizzo_, address);
        click(Salva_);
        expectCard(address);
        problem = checkBook();
        if (!problem.empty())
            return "after \"Salva\": " + problem;

        problem = write(fault, sim);
        if (!problem.empty())
            return problem;

        click(Sconnetti_);
        if (!idle())
            return "\"Sconnetti\" did not leave the line idle";
        if (!waitLog(sim, "FRAME hangup"))
            return "the unit never got the hang-up";
        return std::string();
    }

    // The card as the operator saved it: the customer, the address typed and
    // the main window's table.
    void expectCard(const QString& address)
    {
        expectedCard_ = CustomerCard();
        expectedCard_.setText(CustomerCard::Field::Cognome, Surname);
        expectedCard_.setText(CustomerCard::Field::Numero, Number);
        expectedCard_.setText(CustomerCard::Field::Indirizzo, address);
        expectedCard_.takeSummaryFrom(window_.grid());
    }

    // "Leggi Dati" under the fault: a whole table, or nothing of it kept
    // once the operator gives up with "Stop".
    std::string read(Fault fault, int n, Sim& sim, const QStringList& before)
    {
        switch (fault) {
        case Fault::Silence:
            if (!waitLog(sim, "NOTE fault: not answered"))
                return "the unit never saw the remote read";
            return stopWaiting(before);
        case Fault::Truncation:
        case Fault::HangUp:
            if (!waitLog(sim, fault == Fault::HangUp ? "NOTE call ended" : "NOTE fault: sending"))
                return "the unit never saw the remote read";
            if (!QTest::qWaitFor([&] { return window_.receiveBuffer().position() == n; }, 20000))
                return "the bytes sent did not all arrive";
            return stopWaiting(before);
        case Fault::Garbage: {
            const int last = garbageEnd(n);
            if (!QTest::qWaitFor([&] { return window_.receiveBuffer().position() == last; }, 20000))
                return "the garbage and the table did not all arrive";
            return stopWaiting(before);
        }
        default:
            if (!waitIdle())
                return "the remote read did not end";
            if (cellsOf(window_.grid()) != cellsOf(box_.image()))
                return "the table read differs from the box's";
            return std::string();
        }
    }

    // "Scrivi Dati" under the fault, up to where the operator presses "Sconnetti".
    std::string write(Fault fault, Sim& sim)
    {
        Label9_->clear();
        click(ScriviDati_);
        writtenTable_ = cellsOf(window_.grid());
        switch (fault) {
        case Fault::StallWrite:
            if (Label9_->text() != QLatin1String("Invio interrotto"))
                return "a table held on the line was not told as cut short (status \"" + Label9_->text().toStdString()
                    + "\")";
            if (!dialogs_.last.startsWith(QLatin1String("Scrittura interrotta")))
                return "a table held on the line was not told: " + dialogs_.last.toStdString();
            if (window_.exchange().port().Enabled())
                return "a table cut short left the port open";
            // The operator reads the message; meanwhile the unit lets the line go.
            if (!waitLog(sim, "NOTE fault: line released"))
                return "the unit never let the line go";
            return std::string();
        case Fault::Silence:
        case Fault::HangUp:
            // No reply comes: the operator gives up with "Stop".
            if (!waitLog(sim, "FRAME remote-write"))
                return "the unit never got 02 01 06";
            if (!waitLog(sim, fault == Fault::Silence ? "NOTE fault: not answered" : "NOTE no call under way"))
                return "the unit did not leave 02 01 06 unanswered";
            if (!window_.exchange().port().Enabled())
                return "the port did not wait for the box's reply";
            click(Button1_);
            if (!idle())
                return "\"Stop\" did not end the wait for the reply";
            return std::string();
        default: {
            if (!waitIdle())
                return "the reply to the write did not end the wait (status \"" + Label9_->text().toStdString() + "\")";
            const char* reply = fault == Fault::ErrorReply ? "ERRORE!!" : "Dati inviati";
            if (Label9_->text() != QLatin1String(reply))
                return std::string("the write was answered \"") + Label9_->text().toStdString() + "\", not \"" + reply
                    + "\"";
            return std::string();
        }
        }
    }

    // A prefix typed into a used association, as the operator edits one.
    std::string typeChange(std::mt19937& rng)
    {
        std::vector<int> used;
        for (int r = TableGrid::FirstDataRow + 1; r < TableGrid::RowCount; ++r)
            if (window_.grid().cell(1, r) != QLatin1String("-") && !window_.grid().cell(1, r).isEmpty())
                used.push_back(r);
        if (used.empty())
            return "the table has no association to edit";
        const int association = used[rng() % used.size()] - 1;
        SpinEdit1_->setFocus();
        QTest::keyClick(SpinEdit1_, Qt::Key_End);
        for (int i = SpinEdit1_->text().size(); i > 0; --i)
            QTest::keyClick(SpinEdit1_, Qt::Key_Backspace);
        QTest::keyClicks(SpinEdit1_, QString::number(association));
        if (SpinEdit1_->value() != association)
            return "association " + std::to_string(association) + " could not be chosen by typing its number (\""
                + SpinEdit1_->text().toStdString() + "\")";
        QString prefix;
        const int digits = 1 + int(rng() % 5);
        for (int i = 0; i < digits; ++i)
            prefix += QChar(u'0' + int(rng() % 10));
        Edit2_->setFocus();
        QTest::keyClick(Edit2_, Qt::Key_End);
        for (int i = Edit2_->text().size(); i > 0; --i)
            QTest::keyClick(Edit2_, Qt::Key_Backspace);
        QTest::keyClicks(Edit2_, prefix);
        if (Edit2_->text() != prefix)
            return "the prefix typed did not take";
        if (window_.grid().cell(1, association + 1) != prefix.left(1))
            return "the prefix typed did not reach the grid";
        return std::string();
    }

    // The box after the session: the state the unit tells and the image it saved.
    std::string checkBox(Expect expect, const QByteArray& before)
    {
        const QByteArray after = box_.image();
        const std::string problem = checkUnitBox(box_.statePath(), expect == Expect::New, before, after);
        if (problem.empty() && expect == Expect::New && cellsOf(after) != writtenTable_)
            return "the box holds other than the table written";
        return problem;
    }

    std::string checkBook()
    {
        QFile file(QStringLiteral("RUBRICA.DAT"));
        if (!file.open(QIODevice::ReadOnly))
            return "RUBRICA.DAT cannot be read";
        const QByteArray bytes = file.readAll();
        if (bytes.size() != CustomerCard::Size)
            return "RUBRICA.DAT holds " + std::to_string(bytes.size()) + " bytes, not one card";
        const QByteArray expected(reinterpret_cast<const char*>(expectedCard_.data()), CustomerCard::Size);
        if (bytes != expected) {
            int at = 0;
            while (bytes.at(at) == expected.at(at))
                ++at;
            return "the card in RUBRICA.DAT is not the one saved (byte " + std::to_string(at) + " is "
                + std::to_string(quint8(bytes.at(at))) + ", not " + std::to_string(quint8(expected.at(at))) + ")";
        }
        return std::string();
    }

    void type(QLineEdit* box, const QString& text)
    {
        box->setFocus();
        QTest::keyClicks(box, text);
    }
    // A pause of a command: once the unit has taken what was written, as a
    // line at its own pace would have carried it by then. A held line never
    // drains; the wait gives up and the program finds the line held.
    void waitDrained()
    {
        const QDeadlineTimer deadline(3000);
        while (line_.received() < written_ && !deadline.hasExpired())
            QThread::msleep(1);
    }
    bool waitLog(const Sim& sim, const QByteArray& needle)
    {
        return QTest::qWaitFor([&] { return sim.log().contains(needle); }, 10000);
    }

    TForm2& book_;
    SoakDialogs& dialogs_;
    QLineEdit* EditDevName_;
    QPushButton* Utente_;
    QSpinBox* SpinEdit1_;
    QLineEdit* Edit2_;
    QPushButton* Chiama_;
    QPushButton* LeggiDati_;
    QPushButton* Edita_;
    QPushButton* ScriviDati_;
    QPushButton* Sconnetti_;
    QPushButton* Salva_;
    QLineEdit* Ecognome_;
    QLineEdit* Enumero_;
    QLineEdit* Eindirizzo_;
    QLabel* Label9_;
    QTemporaryDir folder_;
    UnitBox box_ { folder_ };
    CustomerCard expectedCard_;
    QStringList writtenTable_;
    LineWatch line_;
    qint64 written_ = 0; // bytes handed to the line this session
    bool customerTyped_ = false;
    long sessions_ = 0;
};

} // namespace

int runRemote(Program& program, SoakDialogs& dialogs, NoPacer& pacer, long cycles, unsigned seed,
              const std::vector<std::string>& faults, bool verbose)
{
    std::vector<Fault> pick;
    if (!pickFaults(faults, "remote", pick))
        return 2;

    RemoteSoak soak(program, dialogs, pacer);
    if (!soak.ready() || !soak.enterFolder()) {
        std::fprintf(stderr, "soak: the windows lack a control the remote soak drives\n");
        return 1;
    }
    if (!soak.box().learnSample()) {
        std::fprintf(stderr, "soak: the simulator did not serve its table\n");
        return 1;
    }
    std::mt19937 rng(seed);
    // A few plain sessions first: caches of the toolkit fill on first use.
    for (int i = 0; i < 3; ++i) {
        const std::string problem = soak.cycle(Fault::None, rng);
        if (!problem.empty()) {
            std::fprintf(stderr, "soak: warm-up session failed: %s\n", problem.c_str());
            return 1;
        }
    }
    QTest::qWait(300); // the last monitoring thread ends by itself
    const int fdBefore = entries("/proc/self/fd");
    const int threadsBefore = entries("/proc/self/task");
    const long heapBefore = heapKb();

    const long ok = runFaultCycles(cycles, pick, rng, "remote", [&](Fault fault) { return soak.cycle(fault, rng); },
                                   [&](long cycle, Fault fault) {
                                       if (verbose)
                                           std::printf("soak: remote cycle %ld %s fds %d threads %d heap %ld kB\n",
                                                       cycle, faultName(fault), entries("/proc/self/fd"),
                                                       entries("/proc/self/task"), heapKb());
                                   });
    // The monitoring thread of the last session ends by itself shortly after
    // its port closes, and its event descriptor goes with it; what is still
    // there after five seconds stays.
    (void)QTest::qWaitFor(
        [&] { return entries("/proc/self/task") <= threadsBefore && entries("/proc/self/fd") <= fdBefore; }, 5000);
    const int fdGrowth = entries("/proc/self/fd") - fdBefore;
    const int threadGrowth = entries("/proc/self/task") - threadsBefore;
    const long heapGrowth = heapKb() - heapBefore;

    std::printf("soak: heap in use %+ld kB, seed %u\n", heapGrowth, seed);
    std::printf("BENCH soak_remote_cycles_ok %ld count target >= %ld\n", ok, cycles);
    std::printf("BENCH soak_remote_fd_growth %d count target <= 0\n", fdGrowth);
    std::printf("BENCH soak_remote_thread_growth %d count target <= 0\n", threadGrowth);
    std::printf("BENCH soak_remote_heap_growth_kb %ld kb target <= 256\n", heapGrowth);
    return ok == cycles && fdGrowth <= 0 && threadGrowth <= 0 && heapGrowth <= 256 ? 0 : 1;
}

} // namespace soak
