// The main window around the serial link: reading a box, writing one, the
// receive handler, "Stop", "Cancella" and the address book button. The steps
// themselves are the session's; the window shows them.

#include "app/formMain.h"

#include "book/Unit2.h"
#include "device/WritePlan.h"
#include "editor/AssociationEditor.h"
#include "tables/TableBackup.h"
#include "serial/HandlerGuard.h"
#include "widgets/ALed.h"
#include "widgets/TableGridView.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include <utility>

void TfrmMain::connectSession()
{
    Exchange& exchange = session_.exchange();
    connect(portBox_, &QLineEdit::textChanged, &exchange, &Exchange::setPortName);
    connect(&exchange, &Exchange::busyChanged, this, [this](bool busy) { led_->setFalseColor(busy ? clRed : clGreen); });
    connect(&exchange, &Exchange::progress, this,
            [this](int tableBytes) { progressBar_->setValue(progressBar_->value() + tableBytes); });
    connect(&exchange, &Exchange::tableStarted, this, guarded([this](codec::Model model) { selectModel(model); }));
    // The rows come in at a pace the operator can follow, the selector counting along.
    // The selector's move and its painting are done inside the row's 20 ms,
    // so they do not add to the pace.
    connect(&exchange, &Exchange::rowDecoding, this, guarded([this](int row) {
        seams_.pacer->pauseSince(Pacer::TimePoint::clock::now(), 20, [this, row] {
            selector_->setValue(row);
            selector_->repaint();
        });
    }));
    connect(&session_, &BoxSession::tableRead, this,
            guarded([this](const ReceivedTable& table) { showReceivedTable(table); }));
    // The selector back on association 1. The session has already run the
    // rules its boxes run on a table read, so the address book, which copies
    // the grid on the same signal, finds the same table whichever runs first.
    connect(&exchange, &Exchange::received, this, guarded([this] { selector_->setValue(1); }));

    connect(&session_, &BoxSession::writeStarting, this, guarded([this] { showWriteStarting(); }));
    connect(&session_, &BoxSession::recordStarting, this, guarded([this](int association) { showRecordSent(association); }));
    connect(&session_, &BoxSession::writeEnded, this,
            guarded([this](const writeplan::Plan& plan, const writeplan::Result& result) { showWriteEnded(plan, result); }));
}

void TfrmMain::connectLineLog()
{
    session_.setObserver(&lineLog_);
    connect(&lineLog_, &LineLog::failed, this, [this](const QString& why) {
        lineLogFailure_ = why;
        tellFileFailures();
    });
    connect(&session_, &BoxSession::backupFailed, this, [this](const QString& why) {
        if (!backupFailureTold_)
            backupFailure_ = why;
        tellFileFailures();
    });
    connect(&session_.exchange(), &Exchange::busyChanged, this, [this](bool busy) {
        if (!busy)
            tellFileFailures();
    });
}

void TfrmMain::tellFileFailures()
{
    // Never in the middle of an exchange, and not from inside the exchange's
    // own signal: once the link is idle, from the event loop.
    if ((lineLogFailure_.isEmpty() && backupFailure_.isEmpty()) || session_.exchange().busy())
        return;
    QTimer::singleShot(0, this, guarded([this] {
        if (session_.exchange().busy())
            return;
        if (!lineLogFailure_.isEmpty()) {
            const QString why = std::exchange(lineLogFailure_, QString());
            seams_.dialogs->information(
                this, QStringLiteral("Il registro della linea per l'assistenza non può essere scritto:\n%1\n"
                                     "Letture e scritture vanno avanti, ma il registro non ne tiene traccia. "
                                     "Questo avviso non sarà ripetuto.")
                          .arg(why));
        }
        if (!backupFailure_.isEmpty()) {
            const QString why = std::exchange(backupFailure_, QString());
            backupFailureTold_ = true;
            seams_.dialogs->information(
                this, QStringLiteral("La copia di sicurezza della tabella non può essere scritta in %1:\n%2\n"
                                     "Letture e scritture vanno avanti, ma senza la copia che permette di "
                                     "rimettere la tabella di prima. Questo avviso non sarà ripetuto.")
                          .arg(QDir::toNativeSeparators(editor::backupFolder()), why));
        }
    }));
}

void TfrmMain::ButtonTransmitClick()
{
    readTable();
}

void TfrmMain::readTable()
{
    exchange().announce(QStringLiteral("Leggi Eeprom"));
    progressBar_->setValue(0);
    deviceTextLabel_->clear();
    session_.readTable();
}

void TfrmMain::Comm1RxChar(TCustomComm&, int count)
{
    receiveBytes(count);
}

void TfrmMain::receiveBytes(int count)
{
    {
        // Emptying the box is the display's reset, not the operator choosing
        // a management: the grid's setting stays. A completed table sets the
        // box again, and that change writes the header as it should.
        const QSignalBlocker quiet(managementBox_);
        managementBox_->clear();
    }
    prefixBox_->clear();
    carrierBox_->clear();
    localPrefixBox_->clear();
    selector_->setValue(0);
    gridView_->setCurrentRow(1);
    gridView_->setCurrentColumn(1);

    if (!exchange().receive(count))
        return;
    QCoreApplication::processEvents();
}

void TfrmMain::showReceivedTable(const ReceivedTable& table)
{
    if (table.model == codec::Model::Kolvar22) {
        beepFlashList_->item(0)->setCheckState(table.checks.beep ? Qt::Checked : Qt::Unchecked);
        beepFlashList_->item(1)->setCheckState(table.checks.flash ? Qt::Checked : Qt::Unchecked);
    }
    clockBox_->setText(table.clockText);
    deviceTextLabel_->setText(table.deviceText);
    const editor::HeaderBoxes header = editor::boxesForHeader(grid_);
    if (header.management)
        managementBox_->setText(*header.management);
    localPrefixBox_->setText(header.localPrefix);
    progressBar_->setValue(0);
}

void TfrmMain::Button1Click()
{
    stopLink();
}

void TfrmMain::stopLink()
{
    exchange().announceIfOpen(QStringLiteral("Stop"));
    exchange().restartReceive();
    exchange().finish();
}

void TfrmMain::ButtonResetClick()
{
    clearTable();
}

void TfrmMain::clearTable()
{
    focusWindow();
    exchange().restartReceive();
    // The selector first: moving it to association 1 fills the boxes from the
    // old table, and they are emptied only after that, or they would go on
    // showing an association the grid no longer holds.
    selector_->setValue(0);
    for (QLineEdit* box : { managementBox_, prefixBox_, carrierBox_, localPrefixBox_, startTimeBox_, endTimeBox_,
                            clockBox_, dayTypeBox_, lineBox_ })
        box->clear();
    beepFlashList_->item(0)->setCheckState(Qt::Unchecked);
    beepFlashList_->item(1)->setCheckState(Qt::Unchecked);
    progressBar_->setValue(0);
    gridView_->setCurrentRow(1);
    gridView_->setCurrentColumn(1);
    // After the boxes: whatever their rules wrote while being filled and emptied is overwritten.
    grid_.fillData(QStringLiteral("-"));
    exchange().announceIfOpen(QStringLiteral("Cancella"));
    exchange().finish();
    gridView_->viewport()->repaint();
}

void TfrmMain::Button10Click()
{
    showAddressBook();
}

void TfrmMain::showAddressBook()
{
    if (addressBook_)
        addressBook_->showFromMain();
}

void TfrmMain::Button4Click()
{
    writeTable();
}

writeplan::EditorState TfrmMain::editorState() const
{
    return { editor::selectorValue(selector_->text()), dayTypeBox_->text(), lineBox_->text() };
}

void TfrmMain::writeTable()
{
    exchange().announce(QStringLiteral("Scrivi Eeprom"));
    const writeplan::Result result = session_.writeTable(grid_, editorState());
    if (!result.message.isEmpty())
        seams_.dialogs->information(this, result.message);
}

void TfrmMain::showWriteStarting()
{
    deviceTextLabel_->clear();
    progressBar_->setValue(0);
    progressBar_->repaint();
    writePainted_ = false;
}

void TfrmMain::showRecordSent(int association)
{
    // No events are served during the write: what changes is painted here,
    // the grid once, as it holds what the box will hold from the start.
    if (association == 0)
        return;
    showSentAssociation(association);
    if (!writePainted_)
        gridView_->viewport()->repaint();
    writePainted_ = true;
    progressBar_->setValue(progressBar_->value() + codec::RecordSize);
    progressBar_->repaint();
}

void TfrmMain::showWriteEnded(const writeplan::Plan& plan, const writeplan::Result& result)
{
    // A table cut short leaves the LED red, the bar and the selector where the
    // line stopped taking it.
    if (!result.sent())
        return;
    showSentAssociation(plan.editor.selector);
    {
        const QSignalBlocker quietDay(dayTypeBox_);
        const QSignalBlocker quietLine(lineBox_);
        dayTypeBox_->setText(plan.editor.dayType);
        lineBox_->setText(plan.editor.line);
    }
    progressBar_->setValue(0);
}
