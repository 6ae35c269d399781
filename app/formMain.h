#pragma once

#include "book/BookHost.h"
#include "device/Codec.h"
#include "device/Exchange.h"
#include "device/LineLog.h"
#include "device/TableGrid.h"
#include "device/WritePlan.h"
#include "serial/CommInt.h"
#include "session/BoxSession.h"
#include "widgets/Seams.h"

#include <QWidget>

#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QSpinBox;
class TableGridView;
class TALed;
class TForm2;

// The program's working surface: the port, the LED, the device grid, the
// header fields and the association editor. Handlers keep the names the
// operator's documentation uses; their logic lives with its subject
// (device/ for the line, editor/ for the field rules and files). The address
// book reaches it only through BookHost.
class TfrmMain : public QWidget, public BookHost
{
    Q_OBJECT

public:
    explicit TfrmMain(const Seams& seams, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The one way a model is chosen: popup caption, window caption, cell
    // (1, 1) and the seven controls only the larger model uses.
    void selectModel(codec::Model model);

    // "Utente" shows the address book window once it exists.
    void setAddressBook(TForm2* form) { addressBook_ = form; }

    // The box on Comm1, worked by both windows.
    BoxSession& session() { return session_; }
    Exchange& exchange() { return session_.exchange(); }
    // The record of every exchange for support (device/LineLog.h).
    LineLog& lineLog() { return lineLog_; }

    // --- BookHost
    TableGrid& grid() override { return grid_; }
    bool summaryEditing() const override { return SummaryEditing; }
    void setSummaryEditing(bool editing) override { SummaryEditing = editing; }
    void focusWindow() override;
    writeplan::EditorState editorState() const override;
    const Seams& seams() const override { return seams_; }

    // --- start-up and model (formMain.cpp)
    void FormCreate();
    void Model1Click();

    // --- link control and reading (formMainLink.cpp)
    void ButtonTransmitClick();
    // "Scrivi Eeprom".
    void Button4Click();
    // Bound to Comm1's OnRxChar: the window's part of a receive event around
    // the exchange's.
    void Comm1RxChar(TCustomComm& sender, int count);
    void Button1Click();
    void ButtonResetClick();
    void Button10Click();

    // "Leggi Eeprom": the box asked for its table.
    void readTable();
    // "Scrivi Eeprom": the table write, and the operator told in a message box
    // when it was refused or cut short.
    void writeTable();
    // "Stop": the link back to idle, the grid and boxes as they are.
    void stopLink();
    // "Cancella": the link back to idle and an empty table.
    void clearTable();
    // "Utente": the address book window comes up.
    void showAddressBook();

    // --- association editor, field rules and table files (formMainEditor.cpp)
    void SpinEdit1Change();
    void StringGrid1Click(int column, int row);
    void Button9Click();
    void Edit1Change();
    void Edit4KeyUp();
    void CheckListBox1Click();
    void Edit2KeyUp();
    void Edit3KeyUp();
    void Edit5KeyUp();
    void Edit6KeyUp();
    void Edit8Change();
    void Edit9Change();
    void Button2Click();
    void Button3Click();
    void Button7Click();
    void Button8Click();
    void Button5Click();
    void Button6Click();

    // Receive buffer and position, touched only by the UI thread.
    const ReceiveBuffer& receiveBuffer() const { return session_.exchange().receiveBuffer(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Controls, named as the operator's documentation names them; tests find
    // them by these object names.
    QLabel* LabelDevName = nullptr;
    QLineEdit* EditDevName = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* ButtonReset = nullptr;
    QPushButton* ButtonTransmit = nullptr;
    TALed* ALed1 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button10 = nullptr;
    TableGridView* StringGrid1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button2 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QListWidget* CheckListBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QPushButton* Button8 = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QPushButton* Button7 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* Edit9 = nullptr;
    QLabel* Label5 = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QPushButton* Button9 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Setup1 = nullptr;
    QAction* Model1 = nullptr;

    void buildControls();
    void setTabOrder();
    void connectControls();
    // Wiring of the editor boxes: key filters, key-release rules, change rules.
    void connectEditor();
    // Key filter of an editor box; returns true when the key is consumed.
    bool filterEditorKey(QObject* watched, QKeyEvent* event);
    // Key-release rule of an editor box.
    void editorKeyReleased(QObject* watched);

    // The window's side of the session: the LED, the progress bar and the
    // boxes while a table comes in or goes out.
    void connectSession();
    // The table going out: the bar, the selector and the boxes follow it.
    void showWriteStarting();
    void showRecordSent(int association);
    void showWriteEnded(const writeplan::Plan& plan, const writeplan::Result& result);
    // The line log on the session, and the operator told once when it, or a
    // backup, cannot be written.
    void connectLineLog();
    void tellFileFailures();
    void showReceivedTable(const ReceivedTable& table);
    // Association `association` of a table the write has already completed:
    // the selector and the boxes show it, and no box rule writes back.
    void showSentAssociation(int association);
    // Fills the editor boxes from the selector's association; with
    // `runRules` false the day-type and line boxes change quietly.
    void fillBoxes(bool runRules);

    Seams seams_;
    TableGrid grid_;
    // Before the exchange, which reports to it until its last close.
    LineLog lineLog_;
    TComm Comm1;
    BoxSession session_ { Comm1, grid_, *seams_.pacer, *seams_.clock };
    // A failure of the line log, or of a backup, not yet told to the
    // operator; each is told once in the program's life.
    QString lineLogFailure_;
    QString backupFailure_;
    bool backupFailureTold_ = false;
    // The grid is painted once while a table goes out.
    bool writePainted_ = false;
    // Shared with the address book window.
    bool SummaryEditing = false;
    TForm2* addressBook_ = nullptr;
};
