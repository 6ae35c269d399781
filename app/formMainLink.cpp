// The main window around the serial link: reading a box, writing one, the
// receive handler, "Stop", "Cancella" and the address book button.

#include "app/formMain.h"

#include "book/Unit2.h"
#include "device/WritePlan.h"
#include "editor/AssociationEditor.h"
#include "editor/TableBackup.h"
#include "serial/HandlerGuard.h"
#include "widgets/ALed.h"
#include "widgets/TableGridView.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include <utility>

void TfrmMain::connectExchange()
{
    connect(EditDevName, &QLineEdit::textChanged, &exchange_, &Exchange::setPortName);
    connect(&exchange_, &Exchange::busyChanged, this, [this](bool busy) { ALed1->setFalseColor(busy ? clRed : clGreen); });
    connect(&exchange_, &Exchange::progress, this,
            [this](int tableBytes) { ProgressBar1->setValue(ProgressBar1->value() + tableBytes); });
    connect(&exchange_, &Exchange::tableStarted, this, guarded([this](codec::Model model) { selectModel(model); }));
    // The rows come in at a pace the operator can follow, the selector counting along.
    connect(&exchange_, &Exchange::rowDecoding, this, guarded([this](int row) {
        seams_.pacer->sleep(20);
        SpinEdit1->setValue(row);
        SpinEdit1->repaint();
    }));
    connect(&exchange_, &Exchange::tableReceived, this,
            guarded([this](const ReceivedTable& table) { showReceivedTable(table); }));
    // Connected before the address book connects its own: the selector is back
    // on association 1, and its rules have run, before the book copies the grid.
    connect(&exchange_, &Exchange::received, this, guarded([this] { SpinEdit1->setValue(1); }));
}

void TfrmMain::connectLineLog()
{
    exchange_.setObserver(&lineLog_);
    connect(&lineLog_, &LineLog::failed, this, [this](const QString& why) {
        lineLogFailure_ = why;
        tellLineLogFailure();
    });
    connect(&exchange_, &Exchange::busyChanged, this, [this](bool busy) {
        if (!busy)
            tellLineLogFailure();
    });
}

void TfrmMain::tellLineLogFailure()
{
    // Never in the middle of an exchange, and not from inside the exchange's
    // own signal: once the link is idle, from the event loop.
    if (lineLogFailure_.isEmpty() || exchange_.busy())
        return;
    QTimer::singleShot(0, this, guarded([this] {
        if (lineLogFailure_.isEmpty() || exchange_.busy())
            return;
        const QString why = std::exchange(lineLogFailure_, QString());
        seams_.dialogs->information(
            this, QStringLiteral("Il registro della linea per l'assistenza non può essere scritto:\n%1\n"
                                 "Letture e scritture vanno avanti, ma il registro non ne tiene traccia. "
                                 "Questo avviso non sarà ripetuto.")
                      .arg(why));
    }));
}

void TfrmMain::ButtonTransmitClick()
{
    exchange_.announce(QStringLiteral("Leggi Eeprom"));
    ProgressBar1->setValue(0);
    Label11->clear();
    exchange_.requestTable();
}

void TfrmMain::Comm1RxChar(TCustomComm&, int count)
{
    {
        // Emptying the box is the display's reset, not the operator choosing
        // a management: the grid's setting stays. A completed table sets the
        // box again, and that change writes the header as it should.
        const QSignalBlocker quiet(Edit1);
        Edit1->clear();
    }
    Edit2->clear();
    Edit3->clear();
    Edit4->clear();
    SpinEdit1->setValue(0);
    StringGrid1->setCurrentRow(1);
    StringGrid1->setCurrentColumn(1);

    if (!exchange_.receive(count))
        return;
    QCoreApplication::processEvents();
}

void TfrmMain::showReceivedTable(const ReceivedTable& table)
{
    if (table.model == codec::Model::Kolvar22) {
        CheckListBox1->item(0)->setCheckState(table.checks.beep ? Qt::Checked : Qt::Unchecked);
        CheckListBox1->item(1)->setCheckState(table.checks.flash ? Qt::Checked : Qt::Unchecked);
    }
    Edit7->setText(table.clockText);
    Label11->setText(table.deviceText);
    const editor::HeaderBoxes header = editor::boxesForHeader(grid_);
    if (header.management)
        Edit1->setText(*header.management);
    Edit4->setText(header.localPrefix);
    ProgressBar1->setValue(0);
    editor::keepTableBackup(grid_, editor::BackupDirection::Read);
}

void TfrmMain::Button1Click()
{
    exchange_.announceIfOpen(QStringLiteral("Stop"));
    exchange_.restartReceive();
    exchange_.finish();
}

void TfrmMain::ButtonResetClick()
{
    focusWindow();
    exchange_.restartReceive();
    // The selector first: moving it to association 1 fills the boxes from the
    // old table, and they are emptied only after that, or they would go on
    // showing an association the grid no longer holds.
    SpinEdit1->setValue(0);
    for (QLineEdit* box : { Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9 })
        box->clear();
    CheckListBox1->item(0)->setCheckState(Qt::Unchecked);
    CheckListBox1->item(1)->setCheckState(Qt::Unchecked);
    ProgressBar1->setValue(0);
    StringGrid1->setCurrentRow(1);
    StringGrid1->setCurrentColumn(1);
    // After the boxes: whatever their rules wrote while being filled and emptied is overwritten.
    grid_.fillData(QStringLiteral("-"));
    exchange_.announceIfOpen(QStringLiteral("Cancella"));
    exchange_.finish();
    StringGrid1->viewport()->repaint();
}

void TfrmMain::Button10Click()
{
    if (Form2)
        Form2->showFromMain();
}

void TfrmMain::Button4Click()
{
    exchange_.announce(QStringLiteral("Scrivi Eeprom"));
    const writeplan::Result result = writeTable();
    if (!result.message.isEmpty())
        seams_.dialogs->information(this, result.message);
}

writeplan::Result TfrmMain::writeTable()
{
    // The whole table is judged before the port is opened: a box must never be
    // left holding part of one.
    const writeplan::Plan plan
        = writeplan::plan(grid_, { editor::selectorValue(SpinEdit1->text()), Edit8->text(), Edit9->text() });
    if (!plan.ok())
        return { writeplan::Result::Outcome::Refused, {}, plan.message };
    // The table as it goes out, so the operator can always put it back.
    editor::keepTableBackup(plan.grid, editor::BackupDirection::Write);

    Label11->clear();
    ProgressBar1->setValue(0);
    ProgressBar1->repaint();
    // The grid holds what the box will hold from the start; no events are
    // served during the write, so it is painted here, once.
    grid_.copyDataFrom(plan.grid);
    bool painted = false;
    const writeplan::Result result = exchange_.writeTable(plan, *seams_.pacer, *seams_.clock, [&](int association) {
        if (association == 0)
            return;
        showSentAssociation(association);
        if (!painted)
            StringGrid1->viewport()->repaint();
        painted = true;
        ProgressBar1->setValue(ProgressBar1->value() + codec::RecordSize);
        ProgressBar1->repaint();
    });
    // A table cut short leaves the LED red, the bar and the selector where the
    // line stopped taking it.
    if (!result.sent())
        return result;
    showSentAssociation(plan.editor.selector);
    {
        const QSignalBlocker quietDay(Edit8);
        const QSignalBlocker quietLine(Edit9);
        Edit8->setText(plan.editor.dayType);
        Edit9->setText(plan.editor.line);
    }
    ProgressBar1->setValue(0);
    return result;
}
