#include "app/formMain.h"

#include "app/PortCompleter.h"
#include "help/HelpContext.h"
#include "book/Unit2.h"
#include "widgets/TableGridView.h"
#include "serial/HandlerGuard.h"
#include "widgets/ALed.h"
#include "widgets/Fonts.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include <algorithm>

namespace {

const QString CaptionKolvar22 = QStringLiteral("Varnholtica Kolvar22 Programmer");
const QString CaptionKolvar1 = QStringLiteral("Varnholtica Kolvar1 Programmer");
const QColor Aqua(0, 255, 255);

// The association selector. While typing, the operator may pass through a
// number outside 1..127 (a "0", a "150" on the way to "15"); leaving the box
// clamps it to the nearest association instead of falling back to the one
// selected before, which the operator did not ask for.
class AssociationSelector : public QSpinBox
{
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int&) const override
    {
        // Digits only: a space, a sign or a letter is refused as it is typed.
        if (input.isEmpty())
            return QValidator::Intermediate;
        if (input.size() > 3)
            return QValidator::Invalid;
        for (QChar c : input) {
            if (c < u'0' || c > u'9')
                return QValidator::Invalid;
        }
        const int value = input.toInt();
        return value >= minimum() && value <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
    }

    void fixup(QString& input) const override
    {
        bool ok = false;
        const int value = input.trimmed().toInt(&ok);
        if (ok)
            input = QString::number(std::clamp(value, minimum(), maximum()));
    }
};

// What the table of controls makes.
enum class Kind {
    Panel, // a raised frame the controls of a strip sit on
    Label, // a caption; the boxes after it, up to the next label, are its buddies
    Box, // a line edit
    Button,
    // Controls with a maker of their own, made at their place in the table.
    Grid,
    Led,
    BeepFlash,
    Progress,
    DeviceText,
    Selector,
};

// The fonts of the window: its own, the port box's, the two strips'.
enum class Face { Window, Port, Strip16, Strip24 };

QFont faceFont(Face face)
{
    switch (face) {
    case Face::Port:
        return pixelFont(13, true);
    case Face::Strip16:
        return pixelFont(16);
    case Face::Strip24:
        return pixelFont(24);
    case Face::Window:
        break;
    }
    return {};
}

} // namespace

struct TfrmMain::ControlRow
{
    Kind kind;
    const char* name; // the object name; "" for a panel or a control with its own maker
    const char* caption; // a label's or a button's text
    QRect geometry;
    Face face; // Face::Window leaves the window's font to a label or a button
    // A box's tool tip and accessible description; a button's accessible description.
    const char* hint;
    int help; // the help topic; 0 for the window's
    // Where the window keeps the control, if it works with it after it is built.
    QLineEdit* TfrmMain::*box;
    QPushButton* TfrmMain::*button;
    std::optional<fields::Field> field; // the table field a box edits
};

TfrmMain::TfrmMain(const Seams& seams, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , seams_(seams)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(CaptionKolvar22);
    setFixedSize(701, 465);
    setFont(pixelFont(11));
    // Controls without a topic of their own (the buttons, the LED) show the window's.
    setProperty(helpContextProperty, 200);

    // Link settings first: the error hook is the application object's, the
    // line is fixed at 9600 8N1 with the time-outs and events the exchanges need.
    setBoxLineSettings(port_);
    port_.OnRxChar = [this](TCustomComm& sender, int count) { Comm1RxChar(sender, count); };

    buildControls();
    connectLineLog();
    connectSession();
    portBox_->setText(port_.DeviceName());
    setTabOrder();
    connectControls();
    connectEditor();
    FormCreate();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}

TfrmMain::~TfrmMain()
{
    port_.OnRxChar = nullptr;
    port_.Close();
    // The controls outlive this part of the window: what they signal while
    // they go (the selector finishing its editing as it loses the focus) must
    // not reach the handlers.
    for (QObject* control : findChildren<QObject*>())
        control->disconnect(this);
}

void TfrmMain::buildControls()
{
    const auto panel = [](QRect r) { return ControlRow { Kind::Panel, "", "", r, Face::Window, "", 0, {}, {}, {} }; };
    const auto made = [](Kind kind) { return ControlRow { kind, "", "", {}, Face::Window, "", 0, {}, {}, {} }; };
    const auto label = [](const char* name, const char* caption, QRect r) {
        return ControlRow { Kind::Label, name, caption, r, Face::Window, "", 0, {}, {}, {} };
    };
    const auto box = [](const char* name, QRect r, Face face, const char* hint, int help, QLineEdit* TfrmMain::*member,
                        std::optional<fields::Field> field = {}) {
        return ControlRow { Kind::Box, name, "", r, face, hint, help, member, {}, field };
    };
    const auto button = [](const char* name, const char* caption, QRect r, QPushButton* TfrmMain::*member,
                           Face face = Face::Window, const char* hint = "", int help = 0) {
        return ControlRow { Kind::Button, name, caption, r, face, hint, help, {}, member, {} };
    };
    using F = fields::Field;
    using W = TfrmMain;
    // In the order they are made, which is the order the accessibility bus lists them in.
    const ControlRow controls[] = {
        // The device grid, upper left.
        made(Kind::Grid),
        // Right column: port and commands.
        panel({ 608, 8, 89, 321 }),
        label("LabelDevName", "Porta:", { 616, 14, 70, 14 }),
        box("EditDevName", { 616, 30, 50, 22 }, Face::Port, "", 1, &W::portBox_),
        button("Button3", "X", { 669, 30, 22, 22 }, &W::portSwitchButton_, Face::Window, "Com1/Com2"),
        button("Button1", "Stop", { 614, 62, 77, 25 }, &W::stopButton_),
        button("ButtonReset", "Cancella", { 614, 94, 77, 25 }, &W::clearButton_),
        button("ButtonTransmit", "Leggi Eeprom", { 614, 126, 77, 25 }, &W::readButton_),
        made(Kind::Led),
        button("Button4", "Scrivi Eeprom", { 614, 200, 77, 25 }, &W::writeButton_),
        button("Button5", "Salva su File", { 614, 232, 77, 25 }, &W::saveFileButton_),
        button("Button6", "Copia da file", { 614, 264, 77, 25 }, &W::loadFileButton_),
        button("Button10", "Utente", { 614, 296, 77, 25 }, &W::addressBookButton_),
        // Header strip: management, local prefix, box clock, beep and flash.
        panel({ 4, 333, 437, 60 }),
        label("Label3", "Gestione", { 36, 338, 100, 14 }),
        button("Button2", "X", { 10, 355, 24, 28 }, &W::managementButton_, Face::Strip16, "Automatica/Manuale", 2),
        box("Edit1", { 36, 355, 96, 28 }, Face::Strip16, "Automatica/Manuale", 2, &W::managementBox_, F::Management),
        label("Label4", "Prefisso Locale", { 138, 338, 84, 14 }),
        box("Edit4", { 138, 355, 80, 28 }, Face::Strip16, "", 3, &W::localPrefixBox_, F::LocalPrefix),
        label("Label8", "Orario/Giorno", { 224, 338, 144, 14 }),
        box("Edit7", { 224, 355, 144, 28 }, Face::Strip16, "Orario letto dal Kolvar22", 4, &W::clockBox_),
        made(Kind::BeepFlash),
        // Progress and the box's own text.
        made(Kind::Progress),
        made(Kind::DeviceText),
        // Association strip.
        panel({ 4, 398, 693, 60 }),
        label("Label1", "Prefisso", { 10, 401, 84, 14 }),
        box("Edit2", { 10, 417, 84, 36 }, Face::Strip24, "Prefisso telefonico", 6, &W::prefixBox_, F::Prefix),
        label("Label2", "Gestore", { 98, 401, 98, 14 }),
        box("Edit3", { 98, 417, 98, 36 }, Face::Strip24, "Codice gestore", 7, &W::carrierBox_, F::Carrier),
        label("Label6", "Dalle", { 200, 401, 68, 14 }),
        box("Edit5", { 200, 417, 68, 36 }, Face::Strip24, "Orario di inizio", 8, &W::startTimeBox_, F::StartTime),
        label("Label7", "Alle", { 272, 401, 68, 14 }),
        box("Edit6", { 272, 417, 68, 36 }, Face::Strip24, "Orario di fine", 9, &W::endTimeBox_, F::EndTime),
        button("Button8", "X", { 344, 417, 26, 36 }, &W::dayTypeButton_, Face::Strip24, "Festivo/Feriale"),
        label("Label9", "Giorno", { 372, 401, 82, 14 }),
        box("Edit8", { 372, 417, 82, 36 }, Face::Strip16, "Festivo/Feriale", 10, &W::dayTypeBox_, F::DayType),
        button("Button7", "X", { 458, 417, 26, 36 }, &W::lineButton_, Face::Strip24, "Linea da utilizzare"),
        label("Label10", "Linea", { 486, 401, 40, 14 }),
        box("Edit9", { 486, 417, 34, 36 }, Face::Strip24, "Linea da utilizzare", 11, &W::lineBox_, F::Line),
        label("Label5", "Associazione:", { 526, 401, 80, 14 }),
        made(Kind::Selector),
        button("Button9", "Cancella", { 604, 417, 88, 36 }, &W::clearAssociationButton_, Face::Strip16,
               "Cancella l'associazione"),
    };

    QLabel* lastLabel = nullptr;
    for (const ControlRow& row : controls)
        makeControl(row, lastLabel);
    dressControls();
    makePopupMenu();
}

void TfrmMain::makeControl(const ControlRow& row, QLabel*& lastLabel)
{
    switch (row.kind) {
    case Kind::Panel: {
        auto* frame = new QFrame(this);
        frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
        frame->setLineWidth(1);
        frame->setGeometry(row.geometry);
        break;
    }
    case Kind::Label:
        lastLabel = new QLabel(QString::fromUtf8(row.caption), this);
        lastLabel->setObjectName(QLatin1String(row.name));
        // What a label shows is shown as it is: the box's own text may hold '<'.
        lastLabel->setTextFormat(Qt::PlainText);
        lastLabel->setGeometry(row.geometry);
        break;
    case Kind::Box:
        makeBox(row, *lastLabel);
        break;
    case Kind::Button:
        makeButton(row);
        break;
    case Kind::Grid:
        makeGridView();
        break;
    case Kind::Led:
        makeLed();
        break;
    case Kind::BeepFlash:
        makeBeepFlashList();
        break;
    case Kind::Progress:
        makeProgressBar();
        break;
    case Kind::DeviceText:
        makeDeviceTextLabel();
        break;
    case Kind::Selector:
        makeSelector();
        lastLabel->setBuddy(selector_);
        selector_->setAccessibleName(lastLabel->text());
        selector_->setToolTip(QStringLiteral("Associazione da editare"));
        selector_->setAccessibleDescription(QStringLiteral("Associazione da editare"));
        selector_->setProperty(helpContextProperty, 12);
        break;
    }
}

void TfrmMain::makeBox(const ControlRow& row, QLabel& label)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QLatin1String(row.name));
    edit->setGeometry(row.geometry);
    edit->setFont(faceFont(row.face));
    label.setBuddy(edit);
    edit->setAccessibleName(label.text());
    if (*row.hint) {
        edit->setToolTip(QString::fromUtf8(row.hint));
        edit->setAccessibleDescription(QString::fromUtf8(row.hint));
    }
    if (row.help > 0)
        edit->setProperty(helpContextProperty, row.help);
    if (row.field) {
        // The table and the field vocabulary name the same box.
        Q_ASSERT(QLatin1String(fields::describe(*row.field).box) == QLatin1String(row.name));
        edit->setProperty(BoxFieldProperty, int(*row.field));
        fieldBoxes_[std::size_t(*row.field)] = edit;
    }
    this->*row.box = edit;
}

void TfrmMain::makeButton(const ControlRow& row)
{
    auto* button = new QPushButton(QString::fromUtf8(row.caption), this);
    button->setObjectName(QLatin1String(row.name));
    button->setGeometry(row.geometry);
    button->setAutoDefault(false);
    if (row.face != Face::Window)
        button->setFont(faceFont(row.face));
    if (*row.hint)
        button->setAccessibleDescription(QString::fromUtf8(row.hint));
    if (row.help > 0)
        button->setProperty(helpContextProperty, row.help);
    this->*row.button = button;
}

void TfrmMain::dressControls()
{
    // The port's name and its switch in red.
    QPalette portPalette = portBox_->palette();
    portPalette.setColor(QPalette::Text, Qt::red);
    portBox_->setPalette(portPalette);
    new PortCompleter(*portBox_);
    QPalette switchPalette = portSwitchButton_->palette();
    switchPalette.setColor(QPalette::ButtonText, Qt::red);
    portSwitchButton_->setPalette(switchPalette);
    // Nothing may be typed in the box clock: it shows the time a read found.
    clockBox_->setProperty(TypingRefusedProperty, true);
    // The association strip's "Cancella" is underlined and says what it clears.
    QFont underlined = faceFont(Face::Strip16);
    underlined.setUnderline(true);
    clearAssociationButton_->setFont(underlined);
    clearAssociationButton_->setToolTip(QStringLiteral("Cancella l'associazione"));
}

void TfrmMain::makeGridView()
{
    gridView_ = new TableGridView(grid_, this);
    gridView_->setObjectName(QStringLiteral("StringGrid1"));
    gridView_->setGeometry(4, 8, 597, 321);
    gridView_->setAccessibleName(QStringLiteral("StringGrid1"));
    gridView_->setProperty(helpContextProperty, 14);
}

void TfrmMain::makeLed()
{
    led_ = new TALed(this);
    led_->setObjectName(QStringLiteral("ALed1"));
    led_->move(644, 168);
    led_->setTrueColor(clRed);
    led_->setFalseColor(clGreen);
    led_->setAccessibleName(QStringLiteral("ALed1"));
    led_->setColorDescription(clRed, QStringLiteral("Collegamento occupato"));
    led_->setColorDescription(clGreen, QStringLiteral("Collegamento libero"));
}

void TfrmMain::makeBeepFlashList()
{
    beepFlashList_ = new QListWidget(this);
    beepFlashList_->setObjectName(QStringLiteral("CheckListBox1"));
    beepFlashList_->setGeometry(374, 340, 62, 48);
    beepFlashList_->setAccessibleName(QStringLiteral("Beep/Flash"));
    beepFlashList_->setProperty(helpContextProperty, 5);
    beepFlashList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    beepFlashList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const QString& item : { QStringLiteral("Beep"), QStringLiteral("Flash") }) {
        auto* it = new QListWidgetItem(item, beepFlashList_);
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        it->setCheckState(Qt::Unchecked);
    }
}

void TfrmMain::makeProgressBar()
{
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar_->setGeometry(448, 336, 249, 25);
    progressBar_->setRange(0, 2047);
    progressBar_->setTextVisible(false);
    progressBar_->setAccessibleName(QStringLiteral("ProgressBar1"));
    progressBar_->setProperty(helpContextProperty, 13);
}

void TfrmMain::makeDeviceTextLabel()
{
    deviceTextLabel_ = new QLabel(this);
    deviceTextLabel_->setObjectName(QStringLiteral("Label11"));
    deviceTextLabel_->setTextFormat(Qt::PlainText);
    deviceTextLabel_->setGeometry(448, 366, 249, 22);
    deviceTextLabel_->setAlignment(Qt::AlignCenter);
    deviceTextLabel_->setFont(faceFont(Face::Strip16));
}

void TfrmMain::makeSelector()
{
    selector_ = new AssociationSelector(this);
    selector_->setObjectName(QStringLiteral("SpinEdit1"));
    selector_->setGeometry(526, 417, 74, 36);
    selector_->setFont(faceFont(Face::Strip24));
    selector_->setRange(1, 127);
    selector_->setValue(1);
    selector_->setAccelerated(true);
    QPalette palette = selector_->palette();
    palette.setColor(QPalette::Base, Aqua);
    selector_->setPalette(palette);
}

void TfrmMain::makePopupMenu()
{
    popupMenu_ = new QMenu(this);
    popupMenu_->setObjectName(QStringLiteral("PopupMenu1"));
    popupMenu_->setToolTipsVisible(false);
    QAction* setup = popupMenu_->addAction(QStringLiteral("Setup"));
    setup->setObjectName(QStringLiteral("Setup1"));
    setup->setProperty(helpContextProperty, 210);
    modelAction_ = popupMenu_->addAction(QStringLiteral("Model"));
    modelAction_->setObjectName(QStringLiteral("Model1"));
    modelAction_->setProperty(helpContextProperty, 220);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TfrmMain::setTabOrder()
{
    const QList<QWidget*> order {
        managementButton_, localPrefixBox_,    clockBox_,       prefixBox_,     carrierBox_,  startTimeBox_,
        endTimeBox_,       dayTypeButton_,     lineButton_,     selector_,      clearButton_, readButton_,
        writeButton_,      saveFileButton_,    loadFileButton_, managementBox_, portBox_,     gridView_,
        portSwitchButton_, dayTypeBox_,        lineBox_,        progressBar_,   stopButton_,  clearAssociationButton_,
        beepFlashList_,    addressBookButton_,
    };
    progressBar_->setFocusPolicy(Qt::TabFocus);
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void TfrmMain::connectControls()
{
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { popupMenu_->popup(mapToGlobal(pos)); });
    connect(modelAction_, &QAction::triggered, this, guarded([this] { Model1Click(); }));
    connect(readButton_, &QPushButton::clicked, this, guarded([this] { ButtonTransmitClick(); }));
    connect(writeButton_, &QPushButton::clicked, this, guarded([this] { Button4Click(); }));
    connect(stopButton_, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(clearButton_, &QPushButton::clicked, this, guarded([this] { ButtonResetClick(); }));
    connect(addressBookButton_, &QPushButton::clicked, this, guarded([this] { Button10Click(); }));
}

void TfrmMain::FormCreate()
{
    showEmptyTable();
}

void TfrmMain::showEmptyTable()
{
    setSummaryEditing(false);
    gridView_->setFixedColumnWidth(30);
    progressBar_->setValue(0);
    grid_.fillData(QStringLiteral("-"));
    for (int r = 2; r < TableGrid::RowCount; ++r)
        grid_.setCell(0, r, QString::number(r - 1));
    codec::writeColumnLabels(grid_, codec::Model::Kolvar22);
}

void TfrmMain::selectModel(codec::Model model)
{
    if (model == codec::Model::None)
        return;
    const bool large = model == codec::Model::Kolvar22;
    modelAction_->setText(large ? QStringLiteral("Kolvar22") : QStringLiteral("Kolvar1"));
    setWindowTitle(large ? CaptionKolvar22 : CaptionKolvar1);
    grid_.setCell(1, 1, large ? QStringLiteral("U") : QStringLiteral("Y"));
    // What a Kolvar1 has not: times, clock, day type and line.
    for (QWidget* w : std::initializer_list<QWidget*> { startTimeBox_, endTimeBox_, clockBox_, dayTypeBox_, lineBox_,
                                                        lineButton_, dayTypeButton_ })
        w->setEnabled(large);
}

void TfrmMain::Model1Click()
{
    switchModel();
}

void TfrmMain::switchModel()
{
    selectModel(modelAction_->text() == QLatin1String("Kolvar22") ? codec::Model::Kolvar1 : codec::Model::Kolvar22);
}

void TfrmMain::focusWindow()
{
    activateWindow();
    setFocus();
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // FormClose: the box must not be left with an open line.
    exchange().announceIfOpen(QStringLiteral("Chiusura del programma"));
    exchange().close();
    QWidget::closeEvent(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress)
        return filterEditorKey(watched, static_cast<QKeyEvent*>(event));
    // A held key repeats its press but is released once, when the operator lets go.
    if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
        editorKeyReleased(watched);
    return QWidget::eventFilter(watched, event);
}
