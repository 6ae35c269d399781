// "Scrivi Eeprom" against the box simulator: what the box receives between
// the pauses, piece by piece, what the window shows during and after, the
// tables that must never reach the box, a line that stops taking bytes, and
// the backups every read and write leave.

#include "tests/gui/FakeSeams.h"
#include "tests/gui/editor_helpers.h"

#include "BoxSim.h"
#include "device/WritePlan.h"
#include "tables/TableBackup.h"
#include "tables/TableFile.h"
#include "tests/common/TestFiles.h"
#include "widgets/ALed.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

using namespace editortest;

namespace {

using Image = std::array<std::uint8_t, 2067>;
using Record = std::array<std::uint8_t, 16>;

constexpr std::uint8_t KS = 11; // star
constexpr std::uint8_t KH = 12; // hash

void putRecord(Image& image, int association, const Record& record)
{
    std::copy(record.begin(), record.end(), image.begin() + 16 * association);
}

// A Kolvar22 box: beep stored as 0 (written back as 10), flash on, and
// associations of every shape a record can have.
Image kolvar22Image()
{
    Image b {};
    const Record header { 'U', KH, 1, KH, 10, 4, 6, 1, KH, 0, 0, 0, 0, 0, 0, 1 };
    std::copy(header.begin(), header.end(), b.begin());
    putRecord(b, 1, { 3, 9, KS, KS, KS, KS, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 1, KS, 1, KH });
    putRecord(b, 2, { 3, 9, KS, KS, KS, KS, 0x12, 0x3C, 0xBB, 0xBB, 0, 0, 0, 0, 0, 0 });
    putRecord(b, 3, { 10, 2, KS, KS, KS, KS, 0x4B, 0xBB, 0xBB, 0xBB, 0, 48, 10, KS, 10, KH });
    putRecord(b, 4, { 3, 9, KS, KS, KS, KS, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 1, KS, 1, KH });
    putRecord(b, 64, { 8, 10, 10, 1, 2, 3, 0x1A, 0x1A, 0xAA, 0xAA, 36, 41, 2, KS, 2, KH });
    putRecord(b, 127, { 5, 5, 5, 5, 5, 5, 0xCB, 0xBB, 0xBB, 0xBB, 0, 0, 0, 0, 0, 0 });
    b[2048] = 0x45;
    b[2049] = 0x09;
    b[2050] = 3;
    const char text[] = "WRITEBOX 22     ";
    std::copy(text, text + 16, b.begin() + 2051);
    return b;
}

Image kolvar1Image()
{
    Image b {};
    const Record header { 'Y', KH, 0, KH, 10, 4, KH, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    std::copy(header.begin(), header.end(), b.begin());
    putRecord(b, 1, { 3, 9, KS, 1, 10, 5, 5, KH });
    putRecord(b, 50, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, KS, 1, 2, 3, 4, KH });
    putRecord(b, 127, { 10, 6, KS, 4, 1, KH });
    const char text[] = "WRITEBOX 1      ";
    std::copy(text, text + 16, b.begin() + 2051);
    return b;
}

QByteArray bytes(const std::uint8_t* data, int count)
{
    return QByteArray(reinterpret_cast<const char*>(data), count);
}

// How the box's format cuts a record into pieces: one piece for an empty
// record or any Kolvar1 record; otherwise prefix, each carrier byte, then the
// six zeros after a carrier end mark, or the two times and the last four.
std::vector<int> piecesOf(const QByteArray& record, bool kolvar22)
{
    if (!kolvar22 || (record[0] == 0 && record[1] == 0 && record[2] == 0))
        return { 16 };
    for (int i = 6; i < 10; ++i) {
        const auto b = std::uint8_t(record[i]);
        if ((b >> 4) == KH || (b & 0x0F) == KH)
            return { 6, 1, 1, 1, 1, 6 };
    }
    return { 6, 1, 1, 1, 1, 1, 1, 4 };
}

// What a whole write puts on the line, between its pauses, for a table whose
// header and records are these: the request, 45 ms, the header, 55 ms, each
// record followed by 50 ms, then the clock.
std::vector<PaceEvent> expectedLog(const QByteArray& table, const QByteArray& clock)
{
    std::vector<PaceEvent> log { { -1, QByteArray("\x02\x01\x02", 3) }, { 45, {} }, { -1, table.left(16) },
                                 { 55, {} } };
    for (int n = 1; n <= 127; ++n) {
        log.push_back({ -1, table.mid(16 * n, 16) });
        log.push_back({ 50, {} });
    }
    log.push_back({ -1, clock });
    return log;
}

std::vector<int> expectedPieces(const QByteArray& table, bool kolvar22)
{
    std::vector<int> pieces { 3, 16 };
    for (int n = 1; n <= 127; ++n)
        for (int size : piecesOf(table.mid(16 * n, 16), kolvar22))
            pieces.push_back(size);
    pieces.insert(pieces.end(), { 1, 1, 1 });
    return pieces;
}

QString rowOf(const TableGrid& g, int r)
{
    return rowText(g, r);
}

// The backups of one kind in the folder, oldest first.
QStringList backups(const QString& direction)
{
    return QDir(editor::backupFolder())
        .entryList({ QStringLiteral("*_%1_*.dat").arg(direction) }, QDir::Files, QDir::Name);
}

// Whether the backup `name` loads into exactly the cells of `expected`.
bool backupHolds(const QString& name, const TableGrid& expected)
{
    TableGrid loaded;
    const editor::LoadResult result = editor::loadTableFile(loaded, QDir(editor::backupFolder()).filePath(name));
    return result.loaded() && loaded.dataEquals(expected);
}

struct WriteFixture;
std::string shown(const WriteFixture& f);

struct WriteFixture : Fixture
{
    WriteFixture()
    {
        savedDataHome_ = qgetenv("XDG_DATA_HOME");
        hadDataHome_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
        clock.reading = { 13, 45, 2 };
        // Every write of the port passes here first: its size is noted, and
        // the one chosen to fail sends nothing.
        window.exchange().port().setWriteFault([this](int call, int count) {
            if (call == failCall) {
                progressAtFailure = ui.ProgressBar1->value();
                pausesAtFailure = pacer.waits().size();
                return true;
            }
            pieces.push_back(count);
            written += count;
            return false;
        });
        // At each pause of a write: what the box received since the last
        // one, once it has received everything the port wrote.
        pacer.onSleep = [this](int) {
            if (writing)
                pacer.recordSent(takeReceived());
        };
    }
    ~WriteFixture()
    {
        if (hadDataHome_)
            qputenv("XDG_DATA_HOME", savedDataHome_);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    // The simulator on `image` (or its own sample), logging and saving.
    bool startBox(const Image* image, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args { "--fast", "--log", sim.file("box.log"), "--save", sim.file("saved.img") };
        if (image) {
            std::ofstream(sim.file("box.img"), std::ios::binary)
                .write(reinterpret_cast<const char*>(image->data()), std::streamsize(image->size()));
            args.insert(args.end(), { "--image", sim.file("box.img") });
        }
        args.insert(args.end(), extra.begin(), extra.end());
        if (!sim.start(args)) {
            ADD_FAILURE() << sim.error();
            return false;
        }
        ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
        return true;
    }

    // "Scrivi Eeprom" as the operator clicks it, with a fresh record of the
    // pauses, the pieces and what reached the box. Each pause waits for the
    // box to have what went before; `settle` waits for the rest at the end.
    void write(bool settle = true)
    {
        pacer.log.clear();
        pieces.clear();
        written = 0;
        taken = 0;
        writeStart = int(sim.readLog().size());
        logRead = size_t(writeStart);
        receivedNow.clear();
        writing = true;
        QTest::mouseClick(ui.Button4, Qt::LeftButton);
        if (settle)
            pacer.recordSent(takeReceived());
        writing = false;
    }

    // What the box logged of the present write: the request, then each chunk
    // of the table (read on from where the last look stopped).
    QByteArray received()
    {
        for (const std::string& line : sim.readLogLines(logRead)) {
            size_t at = line.find(" FRAME write ");
            if (at != std::string::npos) {
                receivedNow += QByteArray::fromHex(QByteArray::fromStdString(line.substr(at + 13)));
                continue;
            }
            at = line.find(" PIECE ");
            if (at != std::string::npos)
                receivedNow += QByteArray::fromHex(QByteArray::fromStdString(line.substr(line.find(": ", at) + 2)));
        }
        return receivedNow;
    }

    // The bytes the box received since the last call, waiting (without
    // serving the window's events: the write runs inside its handler) until
    // everything written so far has arrived.
    QByteArray takeReceived()
    {
        QByteArray all = received();
        // A box that stopped logging is waited for once, not at every pause.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(stalled ? 0 : 5);
        while (all.size() < written && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            all = received();
        }
        stalled = all.size() < written;
        const QByteArray fresh = all.mid(taken);
        taken = int(all.size());
        return fresh;
    }

    bool boxGotAWrite() const { return sim.readLog().find("FRAME write", size_t(writeStart)) != std::string::npos; }

    QTemporaryDir dataHome;
    BoxSim sim;
    std::vector<int> pieces;
    int written = 0;
    int taken = 0;
    int writeStart = 0;
    size_t logRead = 0; // the log read so far
    QByteArray receivedNow;
    bool writing = false;
    bool stalled = false;
    int failCall = -1;
    int progressAtFailure = -1;
    size_t pausesAtFailure = 0;

private:
    QByteArray savedDataHome_;
    bool hadDataHome_ = false;
};

// Every message box text, one per line.
std::string shown(const WriteFixture& f)
{
    return f.dialogs.shown.join(QLatin1Char('\n')).toStdString();
}

} // namespace

TEST(Write, Kolvar22TableReadAndWrittenBackGoesOutPieceByPieceWithItsPauses)
{
    WriteFixture f;
    const Image image = kolvar22Image();
    ASSERT_TRUE(f.startBox(&image));
    f.read();
    ASSERT_EQ(backups("read").size(), 1);
    EXPECT_TRUE(backupHolds(backups("read")[0], f.window.grid()));
    const TableGrid before = f.window.grid();
    f.ui.SpinEdit1->setValue(40);

    // The progress bar at each pause after a record.
    std::vector<int> progress;
    f.pacer.onSleep = [&](int ms) {
        f.pacer.recordSent(f.takeReceived());
        if (ms == 50)
            progress.push_back(f.ui.ProgressBar1->value());
    };
    f.write();

    // Only the header's beep, stored as 0, goes back as 10; the clock is the computer's.
    QByteArray table = bytes(image.data(), 2048);
    table[14] = 10;
    const QByteArray clock("\x45\x13\x02", 3);
    EXPECT_EQ(f.pacer.log, expectedLog(table, clock)) << f.pacer.describe();
    EXPECT_EQ(f.pieces, expectedPieces(table, true));
    std::vector<int> steps;
    for (int n = 1; n <= 127; ++n)
        steps.push_back(16 * n);
    EXPECT_EQ(progress, steps);

    // The box took the table whole and keeps its own device text.
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.readSaved().size() == 2067; }, 5000));
    EXPECT_EQ(bytes(f.sim.readSaved().data(), 2067), table + clock + bytes(image.data() + 2051, 16));

    EXPECT_TRUE(f.idle());
    EXPECT_EQ(f.ui.ProgressBar1->value(), 0);
    EXPECT_EQ(f.ui.Label11->text(), QString());
    EXPECT_TRUE(f.dialogs.shown.isEmpty());
    EXPECT_TRUE(f.window.grid().dataEquals(before));
    // The write ends on association 1, shown in the editor.
    EXPECT_EQ(f.ui.SpinEdit1->value(), 1);
    expectSampleKolvar22Shown(f.ui);

    ASSERT_EQ(backups("write").size(), 1);
    EXPECT_TRUE(backupHolds(backups("write")[0], f.window.grid()));
}

TEST(Write, Kolvar1TableGoesOutSixteenBytesARecord)
{
    WriteFixture f;
    const Image image = kolvar1Image();
    ASSERT_TRUE(f.startBox(&image));
    f.read();
    f.write();
    const QByteArray table = bytes(image.data(), 2048);
    const QByteArray clock("\x45\x13\x02", 3);
    EXPECT_EQ(f.pacer.log, expectedLog(table, clock)) << f.pacer.describe();
    EXPECT_EQ(f.pieces, expectedPieces(table, false));
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(f.ui.SpinEdit1->value(), 1);
    EXPECT_EQ(f.ui.Edit2->text(), QStringLiteral("39"));
    EXPECT_EQ(f.ui.Edit3->text(), QStringLiteral("1055"));
    ASSERT_EQ(backups("write").size(), 1);
    EXPECT_TRUE(backups("write")[0].endsWith(QLatin1String("_write_Kolvar1.dat")));
}

TEST(Write, RowsTheLoopCompletesGoOutCompleted)
{
    WriteFixture f;
    const Image image = kolvar22Image();
    ASSERT_TRUE(f.startBox(&image));
    f.read();
    TableGrid& g = f.window.grid();
    // Association 5 is used but has no carrier; association 6 has no
    // separator, and its day type differs from association 5's.
    setRowText(g, 6, QStringLiteral("71****--------083013001*1#"));
    setRowText(g, 7, QStringLiteral("72****1055****083013002-1#"));
    f.write();

    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.readSaved().size() == 2067; }, 5000));
    const std::vector<std::uint8_t> saved = f.sim.readSaved();
    EXPECT_EQ(bytes(saved.data() + 16 * 5, 16),
              bytes(Record { 7, 1, KS, KS, KS, KS, 0xBB, 0xBB, 0xBB, 0xBB, 17, 26, 1, KS, 1, KH }.data(), 16));
    EXPECT_EQ(bytes(saved.data() + 16 * 6, 16),
              bytes(Record { 7, 2, KS, KS, KS, KS, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 2, KS, 1, KH }.data(), 16));
    // The grid keeps what went out.
    EXPECT_EQ(rowOf(g, 6), QStringLiteral("71************083013001*1#"));
    EXPECT_EQ(rowOf(g, 7), QStringLiteral("72****1055****083013002*1#"));
    EXPECT_TRUE(f.idle());
}

// Association 1 of the box is unused, so after the read the carrier box shows
// "--------"; a file whose association 1 is used is loaded (which leaves the
// boxes alone) and written: its own carrier goes out, not the filler.
TEST(Write, CarrierOfALoadedTableIsNotJudgedByTheStaleCarrierBox)
{
    WriteFixture f;
    Image image = kolvar22Image();
    putRecord(image, 1, Record {});
    ASSERT_TRUE(f.startBox(&image));
    f.read();
    ASSERT_EQ(f.ui.SpinEdit1->value(), 1);
    ASSERT_EQ(f.ui.Edit3->text(), QStringLiteral("--------"));

    TableGrid file = f.window.grid();
    setRowText(file, 2, sampleKolvar22);
    const QString path = f.dataHome.filePath(QStringLiteral("other.dat"));
    ASSERT_TRUE(editor::saveTableFile(file, path).saved());
    f.dialogs.nextOpen = path;
    QTest::mouseClick(f.ui.Button6, Qt::LeftButton);
    ASSERT_EQ(f.ui.Edit3->text(), QStringLiteral("--------"));

    f.write();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.readSaved().size() == 2067; }, 5000));
    EXPECT_EQ(bytes(f.sim.readSaved().data() + 16, 16),
              bytes(Record { 3, 9, KS, KS, KS, KS, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 1, KS, 1, KH }.data(), 16));
    EXPECT_EQ(rowOf(f.window.grid(), 2), sampleKolvar22);
}

TEST(Write, RefusedTablesNeverReachTheBox)
{
    WriteFixture f;
    const Image image = kolvar22Image();
    ASSERT_TRUE(f.startBox(&image));
    f.read();
    const int readBackups = int(backups("read").size());

    // Association 6 lacks its separator and has the day type of association 5,
    // so stepping onto it changes no box and no rule puts the "*" back.
    TableGrid& g = f.window.grid();
    setRowText(g, 6, QStringLiteral("71****1055****083013002*1#"));
    setRowText(g, 7, QStringLiteral("72****1055****083013002-1#"));
    f.ui.SpinEdit1->setValue(40);
    const TableGrid before = g;
    const QString edit8 = f.ui.Edit8->text();
    f.write();
    EXPECT_EQ(shown(f), "Associazione 6: separatore mancante");
    EXPECT_FALSE(f.boxGotAWrite());
    EXPECT_EQ(f.window.exchange().port().WriteCalls(), 1) << "only the read request since the port was opened";
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(f.ui.Label11->text(), QStringLiteral("WRITEBOX 22     "));
    EXPECT_TRUE(g.dataEquals(before));
    EXPECT_EQ(f.ui.SpinEdit1->value(), 40);
    EXPECT_EQ(f.ui.Edit8->text(), edit8);
    EXPECT_TRUE(backups("write").isEmpty());
    EXPECT_EQ(int(backups("read").size()), readBackups);

    // After "Cancella" no model is selected.
    f.dialogs.shown.clear();
    QTest::mouseClick(f.ui.ButtonReset, Qt::LeftButton);
    f.write();
    EXPECT_EQ(shown(f), writeplan::noModelMessage().toStdString());
    EXPECT_FALSE(f.boxGotAWrite());
    EXPECT_TRUE(f.idle());
    EXPECT_TRUE(backups("write").isEmpty());
}

TEST(Write, APieceTheLineDoesNotTakeEndsTheWriteWithThePortClosed)
{
    WriteFixture f;
    const Image image = kolvar22Image();
    ASSERT_TRUE(f.startBox(&image));
    f.read();
    f.write();
    const int calls = f.window.exchange().port().WriteCalls();
    ASSERT_EQ(calls, int(expectedPieces(bytes(image.data(), 2048), true).size()));

    // Call 85 is association 58's record: the request, the header and
    // associations 1 to 4 take 2 + 30 pieces, 5 to 57 one each.
    ASSERT_EQ(calls / 2, 85);
    using Piece = writeplan::StopPoint::Piece;
    const std::map<int, writeplan::StopPoint> where { { 0, { Piece::Request, 0 } },
                                                       { calls / 2, { Piece::Association, 58 } },
                                                       { calls - 1, { Piece::Clock, 0 } } };
    for (const auto& [failing, stop] : where) {
        f.failCall = failing;
        f.dialogs.shown.clear();
        f.write();
        EXPECT_FALSE(f.window.exchange().port().Enabled()) << failing;
        EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed) << failing;
        ASSERT_EQ(f.dialogs.shown.size(), 1) << failing;
        if (stop.piece == writeplan::StopPoint::Piece::Association) {
            EXPECT_EQ(f.dialogs.shown[0], QStringLiteral("Scrittura interrotta all'associazione 58: la centralina ha "
                                                         "ricevuto solo parte della tabella, che va scritta di nuovo"));
        }
        // Nothing more went out, and no pause followed.
        EXPECT_EQ(f.window.exchange().port().WriteCalls(), failing + 1) << failing;
        EXPECT_EQ(f.pacer.waits().size(), f.pausesAtFailure) << failing;
        EXPECT_EQ(int(f.pieces.size()), failing) << failing;
        // The bar stays where the line stopped taking the table.
        EXPECT_EQ(f.ui.ProgressBar1->value(), f.progressAtFailure) << failing;
        if (failing > 0) {
            EXPECT_GT(f.progressAtFailure, 0) << failing;
        }
    }
    EXPECT_EQ(f.progressAtFailure, 2032);
}

// The line held part-way, as a stalled adapter holds it: the write times out
// at association 43 (where byte 700 falls) or, when the box is slow to hold
// the line on a loaded machine, at a later one; the operator hears where.
TEST(Write, ATableTheLineStopsTakingIsToldAndNothingFollows)
{
    WriteFixture f;
    const Image image = kolvar22Image();
    ASSERT_TRUE(f.startBox(&image, { "--fault", "stall-write:700" }));
    f.read();
    // A pseudo-terminal takes every piece at once: only the held one waits this long.
    f.window.exchange().port().setWriteTimeout(300);
    f.write(false); // the piece the line did not take never arrives

    ASSERT_EQ(f.dialogs.shown.size(), 1) << shown(f);
    const int stoppedAt = f.ui.SpinEdit1->value();
    EXPECT_TRUE(stoppedAt >= 43 && stoppedAt <= 127) << stoppedAt;
    EXPECT_TRUE(f.dialogs.shown[0].startsWith(QStringLiteral("Scrittura interrotta all'associazione %1:").arg(stoppedAt)))
        << shown(f);
    EXPECT_EQ(f.dialogs.informationParents[0], &f.window);
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed);
    EXPECT_EQ(f.ui.ProgressBar1->value(), 16 * stoppedAt) << "the bar stays where the line stopped";
    // The box saw the port closed, and never a whole table.
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.sim.readLog().find("fault: line released") != std::string::npos; },
                                10000));
    EXPECT_EQ(f.sim.readLog().find("FRAME table"), std::string::npos);
}

TEST(Write, PortProblemsAreReportedAndNothingIsSent)
{
    WriteFixture f;
    f.window.selectModel(codec::Model::Kolvar22);
    // A read still waiting holds the port.
    BoxSim silent;
    ASSERT_TRUE(silent.start({ "--fault", "silent", "--log", silent.file("box.log") })) << silent.error();
    f.ui.EditDevName->setText(QString::fromStdString(silent.devicePath()));
    QTest::mouseClick(f.ui.ButtonTransmit, Qt::LeftButton);
    ASSERT_TRUE(f.window.exchange().port().Enabled());
    f.write();
    EXPECT_EQ(shown(f), "Serial error: Port already assigned (open) (Error: -1) ");
    EXPECT_EQ(f.window.exchange().port().WriteCalls(), 1) << "only the read request";
    EXPECT_EQ(silent.readLog().find("FRAME write"), std::string::npos);
    QTest::mouseClick(f.ui.Button1, Qt::LeftButton);

    f.dialogs.shown.clear();
    f.ui.EditDevName->setText(QStringLiteral("/dev/pradix-no-such-port"));
    f.write();
    ASSERT_EQ(f.dialogs.shown.size(), 1);
    EXPECT_EQ(f.dialogs.shown[0].section(QLatin1Char('\n'), 0, 0),
              QStringLiteral("Serial error: Error accessing specified device (Error: 2) "));
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    EXPECT_TRUE(f.pieces.empty());
}

// Read, edit with the keyboard, write, read again: the box gives back the edited table.
TEST(Write, EditedTableComesBackFromTheBoxCellForCell)
{
    WriteFixture f;
    ASSERT_TRUE(f.startBox(nullptr));
    f.read();
    showActive(f.window);
    const MainControls& ui = f.ui;

    // A new association 10 in an empty row, and association 2 changed.
    clickCell(ui.StringGrid1, 1, 11);
    ASSERT_EQ(ui.SpinEdit1->value(), 10);
    erase(ui.Edit2);
    type(QStringLiteral("0461"));
    erase(ui.Edit3);
    type(QStringLiteral("2233"));
    erase(ui.Edit5);
    type(QStringLiteral("0730"));
    erase(ui.Edit6);
    type(QStringLiteral("1900"));
    QTest::mouseClick(ui.Button8, Qt::LeftButton); // Sempre
    QTest::mouseClick(ui.Button8, Qt::LeftButton); // Festivo
    QTest::mouseClick(ui.Button7, Qt::LeftButton); // line 0
    QTest::mouseClick(ui.Button7, Qt::LeftButton); // line 1
    EXPECT_EQ(rowOf(f.window.grid(), 11), QStringLiteral("0461**2233****073019002*1#"));

    clickCell(ui.StringGrid1, 1, 3);
    ASSERT_EQ(ui.SpinEdit1->value(), 2);
    erase(ui.Edit3);
    type(QStringLiteral("77"));
    erase(ui.Edit6);
    type(QStringLiteral("2330"));
    const QString edited = rowOf(f.window.grid(), 3);
    EXPECT_EQ(edited.mid(6, 8), QStringLiteral("77******"));
    EXPECT_EQ(edited.mid(18, 4), QStringLiteral("2330"));

    f.write();
    ASSERT_TRUE(f.idle());
    EXPECT_TRUE(f.dialogs.shown.isEmpty());
    const TableGrid written = f.window.grid();

    // Something else in the grid, so the read has to bring the table back.
    QTest::mouseClick(ui.ButtonReset, Qt::LeftButton);
    f.read();
    for (int r = 1; r <= 128; ++r)
        EXPECT_EQ(rowOf(f.window.grid(), r), rowOf(written, r)) << "row " << r;
    EXPECT_EQ(backups("read").size(), 2);
    EXPECT_EQ(backups("write").size(), 1);
}

// pradix-tool's write of a file is the write of a window just started that
// loaded the same file with "Copia da file": the same refusal, or the same
// pieces and bytes.
TEST(Write, PradixToolSendsWhatAFreshWindowSendsAfterLoadingTheFile)
{
    WriteFixture f;
    ASSERT_TRUE(f.startBox(nullptr));
    BoxSim other;
    ASSERT_TRUE(other.start({ "--fast" })) << other.error();
    const QString trace = f.dataHome.filePath(QStringLiteral("trace.log"));
    const QString path = f.dataHome.filePath(QStringLiteral("file.dat"));
    auto toolWrite = [&] {
        QFile::remove(trace);
        QProcess tool;
        tool.start(QStringLiteral(PRADIX_TOOL_PATH), { QStringLiteral("write"), path, QStringLiteral("--port"),
                                                        QString::fromStdString(other.devicePath()), QStringLiteral("--trace"), trace });
        EXPECT_TRUE(tool.waitForFinished(60000));
        return std::make_pair(tool.exitCode(), QString::fromUtf8(tool.readAllStandardError()));
    };
    auto load = [&](const TableGrid& file) {
        ASSERT_TRUE(editor::saveTableFile(file, path).saved());
        f.dialogs.nextOpen = path;
        QTest::mouseClick(f.ui.Button6, Qt::LeftButton);
    };

    // Association 1 without its separator: the day type box of a window just
    // started does not change on the way to it, so nothing puts the "*" back.
    TableGrid file = f.window.grid();
    file.fillData(QStringLiteral("-"));
    file.setCell(1, 1, QStringLiteral("U"));
    setRowText(file, 2, QStringLiteral("71****--------083013001-1#"));
    setRowText(file, 3, QStringLiteral("72****1055****083013002*0#"));
    setRowText(file, 5, QStringLiteral("39****1088****000024000*2#"));
    load(file);
    f.write();
    ASSERT_FALSE(f.boxGotAWrite());
    const auto refused = toolWrite();
    EXPECT_EQ(refused.first, 4);
    EXPECT_TRUE(refused.second.contains(QString::fromStdString(shown(f)))) << refused.second.toStdString();

    // With it, a row without a carrier and day types and lines that change
    // from row to row.
    setRowText(file, 2, QStringLiteral("71****--------083013001*1#"));
    load(file);
    f.write();
    const QByteArray window = f.received();
    ASSERT_EQ(window.size(), 2054);
    const auto written = toolWrite();
    ASSERT_EQ(written.first, 0) << written.second.toStdString();
    QByteArray sent;
    std::vector<int> pieces;
    for (const QByteArray& line : testfiles::fileBytes(trace).split('\n')) {
        const int at = line.indexOf(" > ");
        if (at < 0)
            continue;
        const QByteArray piece = QByteArray::fromHex(line.mid(at + 3).replace(' ', ""));
        sent += piece;
        pieces.push_back(int(piece.size()));
    }
    EXPECT_EQ(pieces, f.pieces);
    // The clock apart, which is each computer's own.
    EXPECT_EQ(sent.left(2051).toHex(' ').toStdString(), window.left(2051).toHex(' ').toStdString());
}
