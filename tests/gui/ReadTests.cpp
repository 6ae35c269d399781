// Reading a box into the main window, and the link commands around it: the
// window talks to a far end on a real pseudo-terminal, either played by the
// test byte by byte or by the box simulator.

#include "tests/gui/FakeSeams.h"
#include "tests/gui/editor_helpers.h"

#include "BoxSim.h"
#include "tables/TableBackup.h"
#include "tables/TableFile.h"
#include "tests/common/TestFiles.h"
#include "widgets/TableGridView.h"
#include "tests/serial/PtyPair.h"
#include "widgets/ALed.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QScopeGuard>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Image = std::array<std::uint8_t, 2067>;

// A Kolvar22 box with a few associations worth checking.
Image kolvar22Image()
{
    Image b {};
    const std::uint8_t header[16] = { 'U', 12, 1, 12, 10, 4, 6, 1, 12, 0, 0, 0, 0, 0, 1, 0 };
    std::copy(std::begin(header), std::end(header), b.begin());
    // 1: prefix 39, carrier 1055, 08:30 to 13:00, working days, line 1.
    const std::uint8_t a1[16] = { 3, 9, 11, 11, 11, 11, 0x1A, 0x55, 0xBB, 0xBB, 17, 26, 1, 11, 1, 12 };
    // 2: carrier 123 ended by the mark in a low nibble.
    const std::uint8_t a2[16] = { 3, 9, 11, 11, 11, 11, 0x12, 0x3C, 0xBB, 0xBB, 0, 0, 0, 0, 0, 0 };
    // 127: prefix 0 2, carrier 4, all day, every day, line 0.
    const std::uint8_t a127[16] = { 10, 2, 11, 11, 11, 11, 0x4B, 0xBB, 0xBB, 0xBB, 0, 48, 10, 11, 10, 12 };
    std::copy(std::begin(a1), std::end(a1), b.begin() + 16);
    std::copy(std::begin(a2), std::end(a2), b.begin() + 32);
    std::copy(std::begin(a127), std::end(a127), b.begin() + 16 * 127);
    b[2048] = 0x05; // minutes
    b[2049] = 0x09; // hours
    b[2050] = 3;    // Wednesday
    const char text[] = "TESTBOX 1.0     ";
    std::copy(text, text + 16, b.begin() + 2051);
    return b;
}

// A Kolvar1 box: 39*1055# as association 1.
Image kolvar1Image()
{
    Image b {};
    const std::uint8_t header[16] = { 'Y', 12, 0, 12, 10, 4, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0 };
    std::copy(std::begin(header), std::end(header), b.begin());
    const std::uint8_t a1[16] = { 3, 9, 11, 1, 10, 5, 5, 12 };
    std::copy(std::begin(a1), std::end(a1), b.begin() + 16);
    const char text[] = "KOLVAR1 BOX     ";
    std::copy(text, text + 16, b.begin() + 2051);
    return b;
}

QByteArray bytes(const Image& image)
{
    return QByteArray(reinterpret_cast<const char*>(image.data()), int(image.size()));
}

QStringList row(const TableGrid& g, int r)
{
    QStringList cells;
    for (int c = 1; c <= 26; ++c)
        cells << g.cell(c, r);
    return cells;
}

QStringList cells(const char* text)
{
    QStringList out;
    for (const char* p = text; *p; ++p)
        out << QString(QLatin1Char(*p));
    return out;
}

struct ReadFixture : Fixture
{
    ReadFixture()
    {
        EXPECT_TRUE(line.ok());
        ui.EditDevName->setText(line.path);
    }

    // "Leggi Eeprom" as the operator presses it (through the error hook).
    void pressRead() { QTest::mouseClick(ui.ButtonTransmit, Qt::LeftButton); }

    bool waitPosition(int position)
    {
        return QTest::qWaitFor([&] { return window.receiveBuffer().position() == position; }, 20000);
    }

    PtyPair line;
};

} // namespace

TEST(Read, Kolvar22TableFillsGridHeaderClockAndDeviceText)
{
    ReadFixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    ui.Label11->setText(QStringLiteral("old"));
    f.pressRead();
    ASSERT_TRUE(w.exchange().port().Enabled());
    EXPECT_EQ(ui.ALed1->FalseColor(), clRed);
    EXPECT_EQ(ui.Label11->text(), QString());
    EXPECT_EQ(f.line.receive(3), QByteArray("\x02\x01\x01", 3));

    // Whatever reaches the box side between two pauses goes into the pause log.
    f.pacer.onSleep = [&](int) { f.pacer.recordSent(f.line.pending()); };
    ASSERT_TRUE(f.line.send(bytes(kolvar22Image())));
    ASSERT_TRUE(f.waitIdle());
    f.pacer.recordSent(f.line.pending());

    const TableGrid& g = w.grid();
    EXPECT_EQ(row(g, 1), cells("U#A#0461#-----B0----------"));
    EXPECT_EQ(row(g, 2), cells("39****1055****08301300*1*1#").mid(0, 22) + cells("1*1#"));
    EXPECT_EQ(row(g, 3), cells("39****123#****------------"));
    EXPECT_EQ(row(g, 4), cells("--------------------------"));
    EXPECT_EQ(row(g, 128), cells("02****4*******000024000*0#"));
    EXPECT_EQ(g.cell(5, 0), QStringLiteral("."));
    EXPECT_EQ(g.cell(15, 0), QStringLiteral("D"));

    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar22 Programmer"));
    EXPECT_EQ(ui.Model1->text(), QStringLiteral("Kolvar22"));
    EXPECT_EQ(ui.Edit1->text(), QStringLiteral("Automatica"));
    EXPECT_EQ(ui.Edit4->text(), QStringLiteral("0461"));
    EXPECT_EQ(ui.Edit7->text(), QStringLiteral("09:05  Mercoledi"));
    EXPECT_EQ(ui.Label11->text(), QStringLiteral("TESTBOX 1.0     "));
    EXPECT_EQ(ui.CheckListBox1->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(ui.CheckListBox1->item(1)->checkState(), Qt::Unchecked);
    EXPECT_EQ(ui.ProgressBar1->value(), 0);
    EXPECT_EQ(w.receiveBuffer().position(), 0);

    // The read ends on association 1, shown in the editor.
    EXPECT_EQ(ui.SpinEdit1->value(), 1);
    editortest::expectSampleKolvar22Shown(ui);

    // One 20 ms pause per decoded row, and nothing sent to the box while decoding.
    EXPECT_EQ(f.pacer.log, std::vector<PaceEvent>(127, PaceEvent { 20, {} })) << f.pacer.describe();
    EXPECT_TRUE(f.dialogs.shown.isEmpty());
}

TEST(Read, ChunkSizeDoesNotChangeTheResult)
{
    // Every chunk size is proven on the receive buffer; over the line go the boundaries: the
    // first byte alone, the bytes where the progress bar reaches its end, the last byte alone.
    const QByteArray image = bytes(kolvar22Image());
    ReadFixture whole;
    whole.pressRead();
    ASSERT_TRUE(whole.line.send(image));
    ASSERT_TRUE(whole.waitIdle());

    ReadFixture pieces;
    const MainControls& ui = pieces.ui;
    pieces.pressRead();
    int sent = 0;
    for (const int end : { 1, 2046, 2047, 2048, 2066 }) {
        ASSERT_TRUE(pieces.line.send(image.mid(sent, end - sent)));
        ASSERT_TRUE(pieces.waitPosition(end)) << end;
        // The progress bar counts every byte of the table, up to its end.
        EXPECT_EQ(ui.ProgressBar1->value(), std::min(end, 2047)) << end;
        EXPECT_FALSE(pieces.idle()) << end;
        sent = end;
    }
    ASSERT_TRUE(pieces.line.send(image.mid(sent)));
    ASSERT_TRUE(pieces.waitIdle());

    EXPECT_TRUE(pieces.window.grid().dataEquals(whole.window.grid()));
    EXPECT_EQ(pieces.window.grid().cell(1, 1), QStringLiteral("U"));
    EXPECT_EQ(ui.Edit1->text(), whole.ui.Edit1->text());
    EXPECT_EQ(ui.Edit4->text(), whole.ui.Edit4->text());
    EXPECT_EQ(ui.Edit7->text(), whole.ui.Edit7->text());
    EXPECT_EQ(ui.Label11->text(), whole.ui.Label11->text());
    EXPECT_EQ(ui.ProgressBar1->value(), 0);
}

TEST(Read, ByteAfterTheTableStartsANewAccumulation)
{
    ReadFixture f;
    f.pressRead();
    ASSERT_TRUE(f.line.send(bytes(kolvar22Image()) + QByteArray(1, 'Q')));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.window.exchange().port().Enabled(); }, 30000));
    // The chunk went on after the table: its last byte is the first of a new accumulation.
    EXPECT_EQ(f.window.receiveBuffer().position(), 1);
    EXPECT_EQ(f.window.receiveBuffer().data()[0], 'Q');
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
}

TEST(Read, ModelsSwitchTheSevenControlsAndTheClock)
{
    ReadFixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    const QList<QWidget*> controls { ui.Edit5, ui.Edit6, ui.Edit7, ui.Edit8, ui.Edit9, ui.Button7, ui.Button8 };

    f.pressRead();
    ASSERT_TRUE(f.line.send(bytes(kolvar1Image())));
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar1 Programmer"));
    EXPECT_EQ(row(w.grid(), 1), cells("Y#M#04#-------------------"));
    EXPECT_EQ(row(w.grid(), 2), cells("39*1055#------------------"));
    EXPECT_EQ(w.grid().cell(5, 0), QStringLiteral("*"));
    EXPECT_EQ(w.grid().cell(11, 0), QStringLiteral("#"));
    EXPECT_EQ(w.grid().cell(15, 0), QString());
    EXPECT_EQ(ui.Edit7->text(), QString());
    EXPECT_EQ(ui.Edit1->text(), QStringLiteral("Manuale"));
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("39"));
    EXPECT_EQ(ui.Edit3->text(), QStringLiteral("1055"));
    EXPECT_EQ(ui.Label11->text(), QStringLiteral("KOLVAR1 BOX     "));
    for (QWidget* c : controls)
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();

    f.pressRead();
    ASSERT_TRUE(f.line.send(bytes(kolvar22Image())));
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar22 Programmer"));
    EXPECT_EQ(ui.Edit7->text(), QStringLiteral("09:05  Mercoledi"));
    EXPECT_EQ(w.grid().cell(15, 0), QStringLiteral("D"));
    for (QWidget* c : controls)
        EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
}

TEST(Read, ReplyFramesEndTheWaitWhole)
{
    struct Case
    {
        QByteArray first, second;
        QString status;
    };
    const Case cases[] = {
        { QByteArray("\x02\x03\x07", 3), QByteArray(), QStringLiteral("Dati inviati") },
        { QByteArray("\x02\x03\x08", 3), QByteArray(), QStringLiteral("ERRORE!!") },
        { QByteArray("\x02\x03\x05", 3), QByteArray(), QStringLiteral("before") },
        { QByteArray("\x02\x03", 2), QByteArray("\x07", 1), QStringLiteral("Dati inviati") },
    };
    for (const Case& c : cases) {
        ReadFixture f;
        f.book.Label9->setText(QStringLiteral("before"));
        f.pressRead();
        ASSERT_TRUE(f.line.send(c.first));
        if (!c.second.isEmpty()) {
            ASSERT_TRUE(f.waitPosition(c.first.size()));
            EXPECT_TRUE(f.window.exchange().port().Enabled()) << "a frame is whole only at its length";
            ASSERT_TRUE(f.line.send(c.second));
        }
        ASSERT_TRUE(f.waitIdle());
        EXPECT_EQ(f.book.Label9->text(), c.status);
        EXPECT_EQ(f.window.receiveBuffer().position(), 0);
    }
}

TEST(Read, StopKeepsTheGridAndANewReadStartsAtZero)
{
    ReadFixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    f.pressRead();
    const QByteArray image = bytes(kolvar22Image());
    ASSERT_TRUE(f.line.send(image.left(100)));
    ASSERT_TRUE(f.waitPosition(100));
    const int progress = ui.ProgressBar1->value();
    QTest::mouseClick(ui.Button1, Qt::LeftButton);
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(w.receiveBuffer().position(), 0);
    EXPECT_EQ(ui.ProgressBar1->value(), progress);
    EXPECT_EQ(w.grid().cell(1, 2), QStringLiteral("-"));

    // Stop again with the port closed: nothing to complain about.
    QTest::mouseClick(ui.Button1, Qt::LeftButton);
    EXPECT_TRUE(f.dialogs.shown.isEmpty());

    f.line.pending();
    f.pressRead();
    ASSERT_TRUE(f.line.send(image));
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("39"));
}

TEST(Read, SecondReadWhileWaitingIsASerialErrorAndTheWaitGoesOn)
{
    ReadFixture f;
    f.pressRead();
    f.pressRead();
    ASSERT_EQ(f.dialogs.shown.size(), 1);
    EXPECT_EQ(f.dialogs.shown[0], QStringLiteral("Serial error: Port already assigned (open) (Error: -1) "));
    EXPECT_TRUE(f.window.exchange().port().Enabled());
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed);
    ASSERT_TRUE(f.line.send(bytes(kolvar22Image())));
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
}

TEST(Read, MissingDeviceIsReportedAndNothingIsLeftOpen)
{
    Fixture f;
    f.ui.EditDevName->setText(QStringLiteral("/dev/pradix-no-such-port"));
    QTest::mouseClick(f.ui.ButtonTransmit, Qt::LeftButton);
    ASSERT_EQ(f.dialogs.shown.size(), 1);
    // The port's own message stays the first line; what to do follows on a line of its own.
    const QStringList lines = f.dialogs.shown[0].split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("Serial error: Error accessing specified device (Error: 2) "));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("/dev/pradix-no-such-port non c'è. "))) << lines[1].toStdString();
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    // The hook changes neither the port nor the LED; "Stop" brings the idle state back.
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clRed);
    QTest::mouseClick(f.ui.Button1, Qt::LeftButton);
    EXPECT_EQ(f.ui.ALed1->FalseColor(), clGreen);
}

TEST(Read, CancellaClearsEverythingAndLeavesNoModel)
{
    ReadFixture f;
    TfrmMain& w = f.window;
    const MainControls& ui = f.ui;
    f.pressRead();
    ASSERT_TRUE(f.line.send(bytes(kolvar22Image())));
    ASSERT_TRUE(f.waitIdle());
    ui.SpinEdit1->setValue(5);
    f.pressRead();
    ASSERT_TRUE(f.line.send(QByteArray("U12345", 6)));
    ASSERT_TRUE(f.waitPosition(6));
    // Each receive event empties the header and prefix boxes; emptying the
    // management box leaves the box's automatic management in the header row.
    EXPECT_EQ(ui.Edit1->text(), QString());
    EXPECT_EQ(ui.Edit4->text(), QString());
    EXPECT_EQ(w.grid().cell(3, 1), QStringLiteral("A"));
    EXPECT_EQ(ui.SpinEdit1->value(), 1);
    EXPECT_EQ(ui.Edit2->text(), QStringLiteral("39"));

    QTest::mouseClick(ui.ButtonReset, Qt::LeftButton);
    EXPECT_TRUE(f.idle());
    EXPECT_EQ(w.receiveBuffer().position(), 0);
    for (int r = 1; r <= 128; ++r)
        ASSERT_EQ(row(w.grid(), r), cells("--------------------------")) << r;
    for (QLineEdit* box : { ui.Edit1, ui.Edit2, ui.Edit3, ui.Edit4, ui.Edit5, ui.Edit6, ui.Edit7, ui.Edit8, ui.Edit9 })
        EXPECT_EQ(box->text(), QString()) << box->objectName().toStdString();
    EXPECT_EQ(ui.CheckListBox1->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(ui.ProgressBar1->value(), 0);
    EXPECT_EQ(ui.SpinEdit1->value(), 1);
    EXPECT_EQ(ui.StringGrid1->currentRow(), 1);
    EXPECT_EQ(ui.StringGrid1->currentColumn(), 1);
    // Captions keep the last model, but the marker is gone.
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Varnholtica Kolvar22 Programmer"));
}

TEST(Read, CancellaWithAnotherAssociationSelectedLeavesNoStaleBoxes)
{
    ReadFixture f;
    const MainControls& ui = f.ui;
    f.pressRead();
    ASSERT_TRUE(f.line.send(bytes(kolvar22Image())));
    ASSERT_TRUE(f.waitIdle());
    ui.SpinEdit1->setValue(2);
    ASSERT_EQ(ui.Edit2->text(), QStringLiteral("39")); // association 2 is in the boxes
    QTest::mouseClick(ui.ButtonReset, Qt::LeftButton);
    EXPECT_EQ(ui.SpinEdit1->value(), 1);
    // The selector's move to association 1 must not leave the old table's association in the boxes.
    for (QLineEdit* box : { ui.Edit2, ui.Edit3, ui.Edit5, ui.Edit6, ui.Edit8, ui.Edit9 })
        EXPECT_EQ(box->text(), QString()) << box->objectName().toStdString();
    for (int r = 1; r <= 128; ++r)
        ASSERT_EQ(row(f.window.grid(), r), cells("--------------------------")) << r;
}

TEST(Read, SummaryFollowsEveryReceiveEventWhileTheAddressBookIsVisible)
{
    ReadFixture f;
    f.form2.show();
    f.pressRead();
    const QByteArray image = bytes(kolvar22Image());
    ASSERT_TRUE(f.line.send(image.left(50)));
    ASSERT_TRUE(f.waitPosition(50));
    // Mid-table: the receive event emptied the management box, whose rule wrote row 1.
    EXPECT_TRUE(f.form2.summary().dataEquals(f.window.grid()));
    ASSERT_TRUE(f.line.send(image.mid(50)));
    ASSERT_TRUE(f.waitIdle());
    EXPECT_TRUE(f.form2.summary().dataEquals(f.window.grid()));
    EXPECT_EQ(f.form2.summary().cell(1, 2), QStringLiteral("3"));
}

TEST(Read, ClosingTheWindowClosesThePort)
{
    ReadFixture f;
    f.pressRead();
    ASSERT_TRUE(f.window.exchange().port().Enabled());
    f.window.close();
    EXPECT_FALSE(f.window.exchange().port().Enabled());
}

TEST(Read, SimulatedBoxesOfBothModels)
{
    for (const char* model : { "22", "1" }) {
        BoxSim sim;
        ASSERT_TRUE(sim.start({ "--fast", "--model", model })) << sim.error();
        Fixture f;
        f.ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
        QTest::mouseClick(f.ui.ButtonTransmit, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !f.window.exchange().port().Enabled(); }, 30000)) << model;
        EXPECT_TRUE(f.dialogs.shown.isEmpty());
        EXPECT_EQ(f.window.grid().cell(1, 1), QLatin1String(model[1] ? "U" : "Y"));
        EXPECT_FALSE(f.ui.Label11->text().isEmpty());
        EXPECT_EQ(f.pacer.waits().size(), 127u);
    }
}

TEST(Read, BoxHangingUpMidTableIsReportedOnce)
{
    BoxSim sim;
    ASSERT_TRUE(sim.start({ "--fast", "--fault", "hangup:700" })) << sim.error();
    Fixture f;
    f.ui.EditDevName->setText(QString::fromStdString(sim.devicePath()));
    f.window.grid().setCell(4, 30, QStringLiteral("7"));
    QTest::mouseClick(f.ui.ButtonTransmit, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.window.exchange().port().Enabled(); }, 30000));
    // Let any late events arrive: they must not repeat the message.
    QTest::qWait(200);
    ASSERT_EQ(f.dialogs.shown.size(), 1);
    EXPECT_EQ(f.dialogs.shown[0], QStringLiteral("Serial error: Read error (Error: 5) "));
    EXPECT_FALSE(f.window.exchange().port().Enabled());
    // The table in the grid is the operator's and stays.
    EXPECT_EQ(f.window.grid().cell(4, 30), QStringLiteral("7"));
}

// A table whose separators the box left out (zero bytes): the header's
// management and association 1's day type and line complete them as their
// boxes fill. pradix-tool's read of the same box leaves the same table file,
// byte for byte, as "Salva su File" writes after a read in the window.
TEST(Read, PradixToolReadsTheTableAWindowReads)
{
    Image image = kolvar22Image();
    image[1] = 0;
    image[3] = 0;
    image[16 + 13] = 0;
    image[16 + 15] = 0;
    Fixture f;
    const QString imageFile = f.folder.file(QStringLiteral("box.img"));
    testfiles::writeFile(imageFile, bytes(image));
    BoxSim box;
    ASSERT_TRUE(box.start({ "--fast", "--image", imageFile.toStdString() })) << box.error();
    const QString port = QString::fromStdString(box.devicePath());
    f.ui.EditDevName->setText(port);
    f.read();
    const QByteArray window = editor::tableFileBytes(f.window.grid());
    EXPECT_EQ(rowText(f.window.grid(), 1).left(4), QStringLiteral("U#A#"));
    EXPECT_EQ(rowText(f.window.grid(), 2).right(4), QStringLiteral("1*1#"));

    const QString file = f.folder.file(QStringLiteral("tool.dat"));
    QProcess tool;
    tool.start(QStringLiteral(PRADIX_TOOL_PATH), { QStringLiteral("read"), QStringLiteral("--port"), port, QStringLiteral("-o"), file });
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    EXPECT_EQ(testfiles::fileBytes(file), window);
}

// The backup a read keeps cannot be written: the operator hears of it once,
// with the link idle, and the reads go on.
TEST(Read, ABackupThatCannotBeWrittenIsToldOnce)
{
    Fixture f;
    BoxSim box;
    ASSERT_TRUE(box.start({ "--fast" })) << box.error();
    f.ui.EditDevName->setText(QString::fromStdString(box.devicePath()));
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
    // A file where the folder of the backups should be: no user, root
    // included, can write into it.
    qputenv("XDG_DATA_HOME", QFile::encodeName(f.folder.path()));
    testfiles::writeFile(f.folder.file(QStringLiteral("pradix")), "not a folder");
    f.read();
    f.read();
    QTest::qWait(50);
    ASSERT_EQ(f.dialogs.shown.size(), 1) << f.dialogs.shown.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(f.dialogs.shown.first().startsWith(QStringLiteral("La copia di sicurezza della tabella non può essere scritta")))
        << f.dialogs.shown.first().toStdString();
    EXPECT_EQ(f.window.grid().cell(1, 1), QStringLiteral("U"));
}
