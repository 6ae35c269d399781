#pragma once

#include "book/BookHost.h"
#include "device/Codec.h"
#include "device/Exchange.h"
#include "device/LineLog.h"
#include "device/TableFields.h"
#include "device/TableGrid.h"
#include "device/WritePlan.h"
#include "serial/CommInt.h"
#include "session/BoxSession.h"
#include "widgets/Seams.h"

#include <QWidget>

#include <array>
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
// header fields and the association editor. The entry points named after a
// control ("Button4Click") stay, each a forward to the method named by what
// it does; the logic lives with its subject
// (device/ for the line, editor/ for the field rules and files). The address
// book reaches it only through BookHost.
// The dynamic property of an editor box that names its table field (an int of
// fields::Field): the box's key filter and typed limit are that field's.
inline constexpr char BoxFieldProperty[] = "pradixField";
// The dynamic property of a box where nothing may be typed (the box clock).
inline constexpr char TypingRefusedProperty[] = "pradixTypingRefused";

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

    // The box on the port, worked by both windows.
    BoxSession& session() { return session_; }
    Exchange& exchange() { return session_.exchange(); }
    // The record of every exchange for support (device/LineLog.h).
    LineLog& lineLog() { return lineLog_; }

    // --- BookHost
    TableGrid& grid() override { return grid_; }
    bool summaryEditing() const override { return summaryEditing_; }
    void setSummaryEditing(bool editing) override { summaryEditing_ = editing; }
    void focusWindow() override;
    writeplan::EditorState editorState() const override;
    const Seams& seams() const override { return seams_; }

    // --- the entry points named after the window's controls, each a
    // forward to what it does
    void FormCreate();
    void Model1Click();
    void ButtonTransmitClick();
    void Button4Click();
    // Bound to the port's OnRxChar: the window's part of a receive event
    // around the exchange's.
    void Comm1RxChar(TCustomComm& sender, int count);
    void Button1Click();
    void ButtonResetClick();
    void Button10Click();
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

    // --- start-up and model (formMain.cpp)
    // An empty Kolvar22 table in the grid, the bar at rest.
    void showEmptyTable();
    // "Model": the other model.
    void switchModel();

    // --- link control and reading (formMainLink.cpp)
    // "Leggi Eeprom": the box asked for its table.
    void readTable();
    // "Scrivi Eeprom": the table write, and the operator told in a message box
    // when it was refused or cut short.
    void writeTable();
    // A receive event: the boxes emptied, then the exchange takes the bytes.
    void receiveBytes(int count);
    // "Stop": the link back to idle, the grid and boxes as they are.
    void stopLink();
    // "Cancella": the link back to idle and an empty table.
    void clearTable();
    // "Utente": the address book window comes up.
    void showAddressBook();

    // --- association editor, field rules and table files (formMainEditor.cpp)
    // The selector moved: the boxes show its association, their rules run.
    void showSelectedAssociation();
    // A cell clicked: its row selected; the model cell switches the model.
    void selectCell(int column, int row);
    // "Cancella" of the association strip: the boxes and the association emptied.
    void clearAssociation();
    // What a box's rule writes into the grid as its text changes or a key
    // is released in it.
    void writeManagement();
    void writeLocalPrefix();
    void writeBeepFlash();
    void writePrefix();
    void writeCarrier();
    void writeStartTime();
    void writeEndTime();
    void writeDayType();
    void writeLine();
    // The "X" buttons: the next management, port, line and day type.
    void nextManagement();
    void nextPort();
    void nextLine();
    void nextDayType();
    // "Salva su File" and "Copia da file".
    void saveTableFile();
    void loadTableFile();

    // Receive buffer and position, touched only by the UI thread.
    const ReceiveBuffer& receiveBuffer() const { return session_.exchange().receiveBuffer(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls the window works with after it is built. Their object
    // names are the operator's documentation's ("Edit8", "Button4"): tests
    // and the accessibility bus find them by those.
    QLineEdit* portBox_ = nullptr;
    QPushButton* portSwitchButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* readButton_ = nullptr;
    TALed* led_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPushButton* saveFileButton_ = nullptr;
    QPushButton* loadFileButton_ = nullptr;
    QPushButton* addressBookButton_ = nullptr;
    TableGridView* gridView_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    // The text the box sends with its table.
    QLabel* deviceTextLabel_ = nullptr;
    QLineEdit* managementBox_ = nullptr;
    QPushButton* managementButton_ = nullptr;
    QLineEdit* localPrefixBox_ = nullptr;
    // The box clock as a read found it.
    QLineEdit* clockBox_ = nullptr;
    QListWidget* beepFlashList_ = nullptr;
    QLineEdit* prefixBox_ = nullptr;
    QLineEdit* carrierBox_ = nullptr;
    QLineEdit* startTimeBox_ = nullptr;
    QLineEdit* endTimeBox_ = nullptr;
    QPushButton* dayTypeButton_ = nullptr;
    QLineEdit* dayTypeBox_ = nullptr;
    QPushButton* lineButton_ = nullptr;
    QLineEdit* lineBox_ = nullptr;
    // The association the strip below the grid edits.
    QSpinBox* selector_ = nullptr;
    QPushButton* clearAssociationButton_ = nullptr;
    QMenu* popupMenu_ = nullptr;
    QAction* modelAction_ = nullptr;
    // The box of each table field that has one.
    std::array<QLineEdit*, fields::FieldCount> fieldBoxes_ {};

    // The controls are made from a table (formMain.cpp), in its order; the
    // few that are more than a caption, a place and a help topic have their
    // own maker.
    struct ControlRow;
    void buildControls();
    // `lastLabel` is the label made last: the buddy of the boxes after it.
    void makeControl(const ControlRow& row, QLabel*& lastLabel);
    void makeBox(const ControlRow& row, QLabel& label);
    void makeButton(const ControlRow& row);
    // What the table does not say: the port's colours, its completer, the
    // clock box's refusal, the underlined "Cancella".
    void dressControls();
    void makeGridView();
    void makeLed();
    void makeBeepFlashList();
    void makeProgressBar();
    void makeDeviceTextLabel();
    void makeSelector();
    void makePopupMenu();
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
    // The serial port to the box.
    TComm port_;
    BoxSession session_ { port_, grid_, *seams_.pacer, *seams_.clock };
    // A failure of the line log, or of a backup, not yet told to the
    // operator; each is told once in the program's life.
    QString lineLogFailure_;
    QString backupFailure_;
    bool backupFailureTold_ = false;
    // The grid is painted once while a table goes out.
    bool writePainted_ = false;
    // Shared with the address book window.
    bool summaryEditing_ = false;
    TForm2* addressBook_ = nullptr;
};
