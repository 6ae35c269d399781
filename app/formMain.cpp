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

QFrame* framedPanel(QWidget* parent, int x, int y, int w, int h)
{
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(1);
    frame->setGeometry(x, y, w, h);
    return frame;
}

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

} // namespace

TfrmMain::TfrmMain(const Seams& seams, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
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
    setBoxLineSettings(Comm1);
    Comm1.OnRxChar = [this](TCustomComm& sender, int count) { Comm1RxChar(sender, count); };

    buildControls();
    connectLineLog();
    connectSession();
    EditDevName->setText(Comm1.DeviceName());
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
    Comm1.OnRxChar = nullptr;
    Comm1.Close();
    // The controls outlive this part of the window: what they signal while
    // they go (the selector finishing its editing as it loses the focus) must
    // not reach the handlers.
    for (QObject* control : findChildren<QObject*>())
        control->disconnect(this);
}

void TfrmMain::buildControls()
{
    const QFont strip24 = pixelFont(24);
    const QFont strip16 = pixelFont(16);

    auto label = [this](const char* name, const QString& caption, int x, int y, int w, int h) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(QLatin1String(name));
        // What a label shows is shown as it is: the box's own text may hold '<'.
        l->setTextFormat(Qt::PlainText);
        l->setGeometry(x, y, w, h);
        return l;
    };
    auto edit = [this](const char* name, int x, int y, int w, int h, const QFont& font) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(x, y, w, h);
        e->setFont(font);
        return e;
    };
    auto button = [this](const char* name, const QString& caption, int x, int y, int w, int h) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, y, w, h);
        b->setAutoDefault(false);
        return b;
    };
    auto buddy = [](QLabel* l, QWidget* w, const QString& hint, int help) {
        l->setBuddy(w);
        w->setAccessibleName(l->text());
        if (!hint.isEmpty()) {
            w->setToolTip(hint);
            w->setAccessibleDescription(hint);
        }
        if (help > 0)
            w->setProperty(helpContextProperty, help);
    };

    // The device grid, upper left.
    StringGrid1 = new TableGridView(grid_, this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setGeometry(4, 8, 597, 321);
    StringGrid1->setAccessibleName(QStringLiteral("StringGrid1"));
    StringGrid1->setProperty(helpContextProperty, 14);

    // Right column: port and commands.
    framedPanel(this, 608, 8, 89, 321);
    LabelDevName = label("LabelDevName", QStringLiteral("Porta:"), 616, 14, 70, 14);
    EditDevName = edit("EditDevName", 616, 30, 50, 22, pixelFont(13, true));
    {
        QPalette pal = EditDevName->palette();
        pal.setColor(QPalette::Text, Qt::red);
        EditDevName->setPalette(pal);
    }
    buddy(LabelDevName, EditDevName, QString(), 1);
    new PortCompleter(*EditDevName);
    Button3 = button("Button3", QStringLiteral("X"), 669, 30, 22, 22);
    {
        QPalette pal = Button3->palette();
        pal.setColor(QPalette::ButtonText, Qt::red);
        Button3->setPalette(pal);
        Button3->setAccessibleDescription(QStringLiteral("Com1/Com2"));
    }
    Button1 = button("Button1", QStringLiteral("Stop"), 614, 62, 77, 25);
    ButtonReset = button("ButtonReset", QStringLiteral("Cancella"), 614, 94, 77, 25);
    ButtonTransmit = button("ButtonTransmit", QStringLiteral("Leggi Eeprom"), 614, 126, 77, 25);
    ALed1 = new TALed(this);
    ALed1->setObjectName(QStringLiteral("ALed1"));
    ALed1->move(644, 168);
    ALed1->setTrueColor(clRed);
    ALed1->setFalseColor(clGreen);
    ALed1->setAccessibleName(QStringLiteral("ALed1"));
    ALed1->setColorDescription(clRed, QStringLiteral("Collegamento occupato"));
    ALed1->setColorDescription(clGreen, QStringLiteral("Collegamento libero"));
    Button4 = button("Button4", QStringLiteral("Scrivi Eeprom"), 614, 200, 77, 25);
    Button5 = button("Button5", QStringLiteral("Salva su File"), 614, 232, 77, 25);
    Button6 = button("Button6", QStringLiteral("Copia da file"), 614, 264, 77, 25);
    Button10 = button("Button10", QStringLiteral("Utente"), 614, 296, 77, 25);

    // Header strip: management, local prefix, box clock, beep and flash.
    framedPanel(this, 4, 333, 437, 60);
    Label3 = label("Label3", QStringLiteral("Gestione"), 36, 338, 100, 14);
    Button2 = button("Button2", QStringLiteral("X"), 10, 355, 24, 28);
    Button2->setFont(strip16);
    Button2->setAccessibleDescription(QStringLiteral("Automatica/Manuale"));
    Button2->setProperty(helpContextProperty, 2);
    Edit1 = edit("Edit1", 36, 355, 96, 28, strip16);
    buddy(Label3, Edit1, QStringLiteral("Automatica/Manuale"), 2);
    Label4 = label("Label4", QStringLiteral("Prefisso Locale"), 138, 338, 84, 14);
    Edit4 = edit("Edit4", 138, 355, 80, 28, strip16);
    buddy(Label4, Edit4, QString(), 3);
    Label8 = label("Label8", QStringLiteral("Orario/Giorno"), 224, 338, 144, 14);
    Edit7 = edit("Edit7", 224, 355, 144, 28, strip16);
    buddy(Label8, Edit7, QStringLiteral("Orario letto dal Kolvar22"), 4);
    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->setGeometry(374, 340, 62, 48);
    CheckListBox1->setAccessibleName(QStringLiteral("Beep/Flash"));
    CheckListBox1->setProperty(helpContextProperty, 5);
    CheckListBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CheckListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const QString& item : { QStringLiteral("Beep"), QStringLiteral("Flash") }) {
        auto* it = new QListWidgetItem(item, CheckListBox1);
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        it->setCheckState(Qt::Unchecked);
    }

    // Progress and the box's own text.
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(448, 336, 249, 25);
    ProgressBar1->setRange(0, 2047);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setAccessibleName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setProperty(helpContextProperty, 13);
    Label11 = label("Label11", QString(), 448, 366, 249, 22);
    Label11->setAlignment(Qt::AlignCenter);
    Label11->setFont(strip16);

    // Association strip.
    framedPanel(this, 4, 398, 693, 60);
    Label1 = label("Label1", QStringLiteral("Prefisso"), 10, 401, 84, 14);
    Edit2 = edit("Edit2", 10, 417, 84, 36, strip24);
    buddy(Label1, Edit2, QStringLiteral("Prefisso telefonico"), 6);
    Label2 = label("Label2", QStringLiteral("Gestore"), 98, 401, 98, 14);
    Edit3 = edit("Edit3", 98, 417, 98, 36, strip24);
    buddy(Label2, Edit3, QStringLiteral("Codice gestore"), 7);
    Label6 = label("Label6", QStringLiteral("Dalle"), 200, 401, 68, 14);
    Edit5 = edit("Edit5", 200, 417, 68, 36, strip24);
    buddy(Label6, Edit5, QStringLiteral("Orario di inizio"), 8);
    Label7 = label("Label7", QStringLiteral("Alle"), 272, 401, 68, 14);
    Edit6 = edit("Edit6", 272, 417, 68, 36, strip24);
    buddy(Label7, Edit6, QStringLiteral("Orario di fine"), 9);
    Button8 = button("Button8", QStringLiteral("X"), 344, 417, 26, 36);
    Button8->setFont(strip24);
    Button8->setAccessibleDescription(QStringLiteral("Festivo/Feriale"));
    Label9 = label("Label9", QStringLiteral("Giorno"), 372, 401, 82, 14);
    Edit8 = edit("Edit8", 372, 417, 82, 36, strip16);
    buddy(Label9, Edit8, QStringLiteral("Festivo/Feriale"), 10);
    Button7 = button("Button7", QStringLiteral("X"), 458, 417, 26, 36);
    Button7->setFont(strip24);
    Button7->setAccessibleDescription(QStringLiteral("Linea da utilizzare"));
    Label10 = label("Label10", QStringLiteral("Linea"), 486, 401, 40, 14);
    Edit9 = edit("Edit9", 486, 417, 34, 36, strip24);
    buddy(Label10, Edit9, QStringLiteral("Linea da utilizzare"), 11);
    Label5 = label("Label5", QStringLiteral("Associazione:"), 526, 401, 80, 14);
    SpinEdit1 = new AssociationSelector(this);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setGeometry(526, 417, 74, 36);
    SpinEdit1->setFont(strip24);
    SpinEdit1->setRange(1, 127);
    SpinEdit1->setValue(1);
    SpinEdit1->setAccelerated(true);
    {
        QPalette pal = SpinEdit1->palette();
        pal.setColor(QPalette::Base, Aqua);
        SpinEdit1->setPalette(pal);
    }
    buddy(Label5, SpinEdit1, QStringLiteral("Associazione da editare"), 12);
    Button9 = button("Button9", QStringLiteral("Cancella"), 604, 417, 88, 36);
    {
        QFont f = strip16;
        f.setUnderline(true);
        Button9->setFont(f);
    }
    Button9->setToolTip(QStringLiteral("Cancella l'associazione"));
    Button9->setAccessibleDescription(QStringLiteral("Cancella l'associazione"));

    // Popup menu of the window.
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->setToolTipsVisible(false);
    Setup1 = PopupMenu1->addAction(QStringLiteral("Setup"));
    Setup1->setObjectName(QStringLiteral("Setup1"));
    Setup1->setProperty(helpContextProperty, 210);
    Model1 = PopupMenu1->addAction(QStringLiteral("Model"));
    Model1->setObjectName(QStringLiteral("Model1"));
    Model1->setProperty(helpContextProperty, 220);
    setContextMenuPolicy(Qt::CustomContextMenu);
}

void TfrmMain::setTabOrder()
{
    const QList<QWidget*> order {
        Button2, Edit4, Edit7, Edit2, Edit3, Edit5, Edit6, Button8, Button7, SpinEdit1, ButtonReset,
        ButtonTransmit, Button4, Button5, Button6, Edit1, EditDevName, StringGrid1, Button3, Edit8, Edit9,
        ProgressBar1, Button1, Button9, CheckListBox1, Button10,
    };
    ProgressBar1->setFocusPolicy(Qt::TabFocus);
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void TfrmMain::connectControls()
{
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(mapToGlobal(pos)); });
    connect(Model1, &QAction::triggered, this, guarded([this] { Model1Click(); }));
    connect(ButtonTransmit, &QPushButton::clicked, this, guarded([this] { ButtonTransmitClick(); }));
    connect(Button4, &QPushButton::clicked, this, guarded([this] { Button4Click(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
    connect(ButtonReset, &QPushButton::clicked, this, guarded([this] { ButtonResetClick(); }));
    connect(Button10, &QPushButton::clicked, this, guarded([this] { Button10Click(); }));
}

void TfrmMain::FormCreate()
{
    setSummaryEditing(false);
    StringGrid1->setFixedColumnWidth(30);
    ProgressBar1->setValue(0);
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
    Model1->setText(large ? QStringLiteral("Kolvar22") : QStringLiteral("Kolvar1"));
    setWindowTitle(large ? CaptionKolvar22 : CaptionKolvar1);
    grid_.setCell(1, 1, large ? QStringLiteral("U") : QStringLiteral("Y"));
    for (QWidget* w : std::initializer_list<QWidget*> { Edit5, Edit6, Edit7, Edit8, Edit9, Button7, Button8 })
        w->setEnabled(large);
}

void TfrmMain::Model1Click()
{
    selectModel(Model1->text() == QLatin1String("Kolvar22") ? codec::Model::Kolvar1 : codec::Model::Kolvar22);
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
