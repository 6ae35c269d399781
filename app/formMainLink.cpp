// The main window around the serial link: reading a box, writing one, the
// receive handler, "Stop", "Cancella" and the address book button.

#include "app/formMain.h"

#include "book/Unit2.h"
#include "device/Frames.h"
#include "device/TableGridView.h"
#include "device/TableWrite.h"
#include "editor/AssociationEditor.h"
#include "editor/TableBackup.h"
#include "editor/WriteCheck.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRegion>
#include <QSignalBlocker>
#include <QSpinBox>

#include <vector>

void TfrmMain::ButtonTransmitClick()
{
    ProgressBar1->setValue(0);
    Label11->clear();
    link_->begin();
    receive_.restart();
    // A lost request shows as a box that never answers: the operator stops the wait.
    Comm1.Write(frames::ReadRequest.data(), int(frames::ReadRequest.size()));
}

void TfrmMain::Comm1RxChar(TCustomComm& sender, int count)
{
    {
        // Emptying the box is the display's reset, not the operator choosing
        // a management: the grid's setting stays. A completed table sets the
        // box again below, and that change writes the header as it should.
        const QSignalBlocker quiet(Edit1);
        Edit1->clear();
    }
    Edit2->clear();
    Edit3->clear();
    Edit4->clear();
    SpinEdit1->setValue(0);
    StringGrid1->setCurrentRow(1);
    StringGrid1->setCurrentColumn(1);

    std::vector<std::uint8_t> scratch(static_cast<size_t>(std::max(sender.ReadBufSize(), 0)), 0);
    const int wanted = std::min(count, int(scratch.size()));
    const int got = sender.Read(scratch.data(), wanted);
    if (got < 0)
        return;

    ReceiveBuffer::Events events;
    events.tableByte = [this] { ProgressBar1->setValue(ProgressBar1->value() + 1); };
    events.tableComplete = [this](codec::Model model, const std::uint8_t* image) { completeTable(model, image); };
    receive_.store(scratch.data(), std::min(got, wanted), events);

    if (const auto code = receive_.replyFrameCode())
        handleReplyFrame(*code);

    SpinEdit1->setValue(1);
    if (Form2 && Form2->isVisible())
        Form2->mirrorSummary(grid_);
    QCoreApplication::processEvents();
}

void TfrmMain::completeTable(codec::Model model, const std::uint8_t* image)
{
    const bool large = model == codec::Model::Kolvar22;
    selectModel(model);
    grid_.fillData(QString());
    codec::writeColumnLabels(grid_, model);
    const codec::HeaderChecks checks = codec::decodeHeader(image, model, grid_);
    if (large) {
        CheckListBox1->item(0)->setCheckState(checks.beep ? Qt::Checked : Qt::Unchecked);
        CheckListBox1->item(1)->setCheckState(checks.flash ? Qt::Checked : Qt::Unchecked);
    }

    // The rows come in at a pace the operator can follow, the selector counting along.
    for (int r = 2; r < TableGrid::RowCount; ++r) {
        seams_.pacer->sleep(20);
        SpinEdit1->setValue(r);
        SpinEdit1->repaint();
        codec::decodeRecord(image + codec::RecordSize * (r - 1), model, grid_, r);
    }

    Edit7->setText(large ? codec::clockText(image + codec::ClockOffset) : QString());
    Label11->setText(codec::deviceText(image + codec::DeviceTextOffset));
    const editor::HeaderBoxes header = editor::boxesForHeader(grid_);
    if (header.management)
        Edit1->setText(*header.management);
    Edit4->setText(header.localPrefix);

    link_->showBusy(false);
    receive_.clear();
    link_->close();
    ProgressBar1->setValue(0);
    editor::keepTableBackup(grid_, editor::BackupDirection::Read);
}

void TfrmMain::handleReplyFrame(std::uint8_t code)
{
    if (Form2 && (code == frames::ReplyReceived || code == frames::ReplyError))
        Form2->showStatus(code == frames::ReplyReceived ? QStringLiteral("Dati inviati") : QStringLiteral("ERRORE!!"));
    link_->showBusy(false);
    receive_.clear();
    link_->close();
}

void TfrmMain::Button1Click()
{
    receive_.restart();
    link_->finish();
}

void TfrmMain::ButtonResetClick()
{
    focusWindow();
    receive_.restart();
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
    link_->finish();
    StringGrid1->viewport()->repaint();
}

void TfrmMain::Button10Click()
{
    if (Form2)
        Form2->showFromMain();
}

void TfrmMain::Button4Click()
{
    const tablewrite::Result result = writeTable();
    if (!result.message.isEmpty())
        seams_.dialogs->information(this, result.message);
}

tablewrite::Result TfrmMain::writeTable()
{
    // The whole table is judged before the port is opened: a box must never be
    // left holding part of one.
    const editor::WriteCheck check
        = editor::checkWrite(grid_, { editor::selectorValue(SpinEdit1->text()), Edit8->text(), Edit9->text() });
    if (!check.ok())
        return { tablewrite::Result::Outcome::Refused, {}, check.message };
    // The table as it goes out, so the operator can always put it back.
    editor::keepTableBackup(check.grid, editor::BackupDirection::Write);

    Label11->clear();
    ProgressBar1->setValue(0);
    ProgressBar1->repaint();

    // No events are served during the write, so the grid is painted here: all
    // of it once, then only the cells the write has changed since (a row's
    // rules or its carrier filler), which keeps 127 repaints off the pauses.
    QRegion changed;
    bool paintedWhole = false;
    const TableGrid::Watch changes(grid_, [this, &changed](int c0, int r0, int c1, int r1) {
        const QAbstractItemModel* model = StringGrid1->model();
        const QModelIndex first = model->index(std::max(r0, 1) - 1, std::max(c0, 1) - 1);
        const QModelIndex last = model->index(r1 - 1, c1 - 1);
        if (first.isValid() && last.isValid())
            changed += StringGrid1->visualRect(first).united(StringGrid1->visualRect(last));
    });
    tablewrite::Steps steps;
    steps.selectAssociation = [this](int association) {
        SpinEdit1->setValue(association);
        for (QWidget* shown : std::initializer_list<QWidget*> { SpinEdit1, Edit2, Edit3, Edit5, Edit6 })
            shown->repaint();
    };
    steps.rowReady = [this, &changed, &paintedWhole] {
        if (!paintedWhole)
            StringGrid1->viewport()->repaint();
        else if (!changed.isEmpty())
            StringGrid1->viewport()->repaint(changed);
        paintedWhole = true;
        changed = QRegion();
        ProgressBar1->setValue(ProgressBar1->value() + codec::RecordSize);
        ProgressBar1->repaint();
    };
    const tablewrite::Result result
        = tablewrite::send(grid_, { Comm1, *link_, receive_, *seams_.pacer, *seams_.clock }, steps);
    // A table cut short leaves the LED red and the bar where the line stopped taking it.
    if (result.sent())
        ProgressBar1->setValue(0);
    return result;
}
