#include "book/Unit2.h"

#include "book/ActivationWatch.h"
#include "book/BookHost.h"
#include "device/Exchange.h"
#include "session/BoxSession.h"
#include "device/Frames.h"
#include "device/Windows1252.h"
#include "device/WritePlan.h"
#include "help/HelpContext.h"
#include "serial/HandlerGuard.h"
#include "widgets/Fonts.h"
#include "widgets/Seams.h"
#include "widgets/TableGridView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QValidator>

#include <algorithm>

namespace {

const QString SavePrompt = QStringLiteral(" La scheda modificata va salvata?");
const QString StartOfFile = QStringLiteral("Questo è l'inizio del file");
const QString EndOfFile = QStringLiteral("Questa è la fine del file");

// The character a key press types, when it types one the key filters judge:
// printable characters, backspace and Enter. Tab and Backtab move the focus,
// Delete and Escape type nothing, and shortcuts are left to the box: what a
// paste puts in a digit box still has to pass its validator.
bool typedCharacter(const QKeyEvent* event, QChar* typed)
{
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
    case Qt::Key_Escape:
        return false;
    default:
        break;
    }
    // Shortcuts (copy, paste, undo, select all) are the box's own business.
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    if (text.size() != 1)
        return false;
    const QChar c = text.at(0);
    if ((c.unicode() < 0x20 && c.unicode() != 8 && c.unicode() != 13) || c.unicode() == 0x7f)
        return false;
    *typed = c;
    return true;
}

bool isDigitKey(QChar c)
{
    const char16_t code = c.unicode();
    return code == 8 || code == 13 || (code >= u'0' && code <= u'9');
}

// A card holds its texts as Windows-1252 bytes: a character the code page has
// no byte for (a Polish "Ł", a Greek letter, an emoji) cannot be stored, and
// is refused as it comes in rather than saved as "?" without a word.
bool hasCardByte(char32_t c)
{
    return windows1252::fromUnicode(c) >= 0;
}

class CardTextValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& text, int&) const override
    {
        const QList<uint> characters = text.toUcs4();
        return std::all_of(characters.begin(), characters.end(), [](uint c) { return hasCardByte(c); }) ? Acceptable
                                                                                                          : Invalid;
    }
};

} // namespace

// A card edit with its caption above it.
struct TForm2::EditRow
{
    QLineEdit* TForm2::*box;
    const char* name;
    const char* caption;
    int x, y, width;
    int helpTopic;
};

// A button: its caption, its hint, where it lies and what it does.
struct TForm2::ButtonRow
{
    QPushButton* TForm2::*button;
    const char* name;
    const char* caption;
    const char* hint;
    int x, y, width;
    void (TForm2::*click)();
};

// In the order they are made, which is the order they lie in.
const TForm2::EditRow TForm2::editRows[] = {
    { &TForm2::surnameBox_, "Ecognome", "Cognome", 10, 7, 150, 24 },
    { &TForm2::nameBox_, "Enome", "Nome", 166, 7, 150, 15 },
    { &TForm2::linePrefixBox_, "Edit1", "Centr.", 322, 7, 56, 16 },
    { &TForm2::phoneNumberBox_, "Enumero", "Numero telefonico", 384, 7, 140, 17 },
    { &TForm2::cardNumberBox_, "Edit8", "Scheda:", 530, 7, 66, 18 },
    { &TForm2::addressBox_, "Eindirizzo", "Indirizzo", 10, 51, 250, 19 },
    { &TForm2::cityBox_, "Ecitta", "Citta'", 266, 51, 170, 20 },
    { &TForm2::provinceBox_, "Eprovincia", "Provincia", 442, 51, 70, 21 },
    { &TForm2::postCodeBox_, "Ecap", "CAP", 518, 51, 78, 22 },
};

// Above the summary: moving through the book and keeping it.
const TForm2::ButtonRow TForm2::cardButtonRows[] = {
    { &TForm2::previousButton_, "Bprecedente", "Precedente", "Scheda precedente", 10, 98, 100,
      &TForm2::BprecedenteClick },
    { &TForm2::nextButton_, "Bsuccessivo", "Successivo", "Scheda successiva", 131, 98, 100, &TForm2::BsuccessivoClick },
    { &TForm2::saveButton_, "Bsalva", "Salva", "Salva la scheda attuale", 252, 98, 100, &TForm2::BsalvaClick },
    { &TForm2::newCardButton_, "Bnuovo", "Nuovo", "Crea una nuova scheda vuota", 373, 98, 100, &TForm2::BnuovoClick },
    { &TForm2::sortButton_, "Bordina", "Ordina", "Mette in ordine alfabetico", 494, 98, 100, &TForm2::BordinaClick },
};

// Below the summary: the customer's box over the line, and leaving.
const TForm2::ButtonRow TForm2::lineButtonRows[] = {
    { &TForm2::callButton_, "Bcomponi", "Chiama", "Chiama l'utente", 10, 312, 90, &TForm2::BcomponiClick },
    { &TForm2::readRemoteButton_, "Button3", "Leggi Dati", "Legge i dati dall'utente", 109, 312, 90,
      &TForm2::Button3Click },
    { &TForm2::hangUpButton_, "Button1", "Sconnetti", "Sconnette l'utente chiamato", 208, 312, 90,
      &TForm2::Button1Click },
    { &TForm2::editButton_, "Button2", "Edita", "Edita i dati dell'utente", 307, 312, 90, &TForm2::Button2Click },
    { &TForm2::writeRemoteButton_, "Button4", "Scrivi Dati", "Invia i dati all'utente", 406, 312, 90,
      &TForm2::Button4Click },
    { &TForm2::exitButton_, "Besci", "Esci", "Esce dalla rubrica", 505, 312, 90, &TForm2::BesciClick },
};

TForm2::TForm2(BookHost& host, BoxSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , host_(host)
    , session_(session)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Rubrica"));
    setFixedSize(610, 380);
    setProperty(helpContextProperty, 230);
    // Closing the main window ends the program, even with the address book open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(pixelFont(15));

    buildControls();
    setTabOrder();
    connectControls();
    connectRemote();
    activations_ = new ActivationWatch(this);
    FormCreate();
}

void TForm2::makeButton(const ButtonRow& row)
{
    const QString hint = QString::fromUtf8(row.hint);
    auto* b = new QPushButton(QString::fromUtf8(row.caption), this);
    b->setObjectName(QLatin1String(row.name));
    b->setGeometry(row.x, row.y, row.width, 26);
    b->setFont(pixelFont(13));
    b->setAutoDefault(false);
    b->setToolTip(hint);
    b->setAccessibleDescription(hint);
    connect(b, &QPushButton::clicked, this, guarded([this, click = row.click] { (this->*click)(); }));
    this->*row.button = b;
}

void TForm2::buildControls()
{
    // The bevel first, so that what it frames lies above it.
    bevel_ = new QFrame(this);
    bevel_->setObjectName(QStringLiteral("Bevel1"));
    bevel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bevel_->setLineWidth(1);
    bevel_->setGeometry(4, 4, 602, 128);

    for (const EditRow& row : editRows) {
        const QString caption = QString::fromUtf8(row.caption);
        auto* label = new QLabel(caption, this);
        label->setObjectName(QStringLiteral("Label_%1").arg(QLatin1String(row.name)));
        label->setGeometry(row.x, row.y, row.width, 16);
        auto* box = new QLineEdit(this);
        box->setObjectName(QLatin1String(row.name));
        box->setGeometry(row.x, row.y + 17, row.width, 24);
        box->setProperty(helpContextProperty, row.helpTopic);
        label->setBuddy(box);
        box->setAccessibleName(caption);
        this->*row.box = box;
    }
    linePrefixBox_->setToolTip(QStringLiteral("Prefisso accesso linea esterna"));
    linePrefixBox_->setAccessibleDescription(linePrefixBox_->toolTip());
    cardNumberBox_->setEnabled(false);
    postCodeBox_->setMaxLength(5);

    for (const ButtonRow& row : cardButtonRows)
        makeButton(row);

    summaryView_ = new TableGridView(summary_, this);
    summaryView_->setObjectName(QStringLiteral("StringGrid2"));
    summaryView_->setGeometry(4, 138, 602, 168);
    summaryView_->setToolTip(QStringLiteral("Riepilogo delle programmazioni"));
    summaryView_->setAccessibleName(QStringLiteral("StringGrid2"));
    summaryView_->setAccessibleDescription(summaryView_->toolTip());
    summaryView_->setProperty(helpContextProperty, 23);

    for (const ButtonRow& row : lineButtonRows)
        makeButton(row);
    QFont underlined = pixelFont(13);
    underlined.setUnderline(true);
    callButton_->setFont(underlined);

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("Label9"));
    statusLine_->setGeometry(0, 344, 610, 28);
    statusLine_->setAlignment(Qt::AlignCenter);
    // Replies from the line are shown as they are, never as markup.
    statusLine_->setTextFormat(Qt::PlainText);
    statusLine_->setFont(pixelFont(16));
}

void TForm2::setTabOrder()
{
    const QList<QWidget*> order {
        surnameBox_,        nameBox_,        phoneNumberBox_, addressBox_,    cityBox_,       provinceBox_,
        postCodeBox_,       previousButton_, nextButton_,     saveButton_,    newCardButton_, sortButton_,
        editButton_,        exitButton_,     callButton_,     cardNumberBox_, summaryView_,   readRemoteButton_,
        writeRemoteButton_, hangUpButton_,   linePrefixBox_,
    };
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void TForm2::connectControls()
{
    for (const EditRow& row : editRows)
        (this->*row.box)->installEventFilter(this);

    // The digit boxes take only digits, however the text comes: what a paste,
    // a drop or an input method would put in them is refused whole, with the
    // beep of a refused key.
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit* box : { phoneNumberBox_, postCodeBox_, linePrefixBox_ }) {
        box->setValidator(new QRegularExpressionValidator(digits, box));
        connect(box, &QLineEdit::inputRejected, this, guarded([this] { host_.seams().beeper->beep(); }));
    }
    // The text boxes take every character the card can store.
    for (QLineEdit* box : { surnameBox_, nameBox_, addressBox_, cityBox_, provinceBox_ }) {
        box->setValidator(new CardTextValidator(box));
        connect(box, &QLineEdit::inputRejected, this, guarded([this] { host_.seams().beeper->beep(); }));
    }
    // A change to a card field that is no typed key (a paste, a cut, an
    // undo, Delete) is typing the save prompt must ask about all the same.
    for (int f = 0; f < CustomerCard::FieldCount; ++f)
        connect(fieldBox(static_cast<CustomerCard::Field>(f)), &QLineEdit::textEdited, this,
                [this] { browser_.setCardModified(true); });
}

void TForm2::connectRemote()
{
    connect(&session_, &BoxSession::status, this, guarded([this](const QString& text) { showStatus(text); }));
    connect(&session_, &BoxSession::stepRefused, this, guarded([this](const QString& text) { information(text); }));
    // The box's answers reach this window from the exchange itself.
    connect(&session_.exchange(), &Exchange::replyReceived, this, guarded([this](int code) {
        if (code == frames::ReplyReceived)
            showStatus(QStringLiteral("Dati inviati"));
        else if (code == frames::ReplyError)
            showStatus(QStringLiteral("ERRORE!!"));
    }));
    // After every receive event, while the window is up, the summary shows
    // what the main grid holds. The session has completed a table in the
    // grid before the event ends, so nothing of the main window's need run first.
    connect(&session_.exchange(), &Exchange::received, this, guarded([this] {
        if (isVisible())
            mirrorSummary(host_.grid());
    }));
}

// --- the handlers the window's controls are known by

void TForm2::FormCreate()
{
    resetWindow();
}

void TForm2::FormActivate()
{
    reloadCard();
}

void TForm2::FormClose()
{
    statusLine_->clear();
}

void TForm2::BprecedenteClick()
{
    showPreviousCard();
}

void TForm2::BsuccessivoClick()
{
    showNextCard();
}

void TForm2::BsalvaClick()
{
    saveCard();
}

void TForm2::BnuovoClick()
{
    beginNewCard();
}

void TForm2::BordinaClick()
{
    sortBook();
}

void TForm2::Button2Click()
{
    editSummaryInMain();
}

void TForm2::BesciClick()
{
    leaveBook();
}

void TForm2::BcomponiClick()
{
    callCustomer();
}

void TForm2::Button3Click()
{
    readRemoteBox();
}

void TForm2::Button4Click()
{
    writeRemoteBox();
}

void TForm2::Button1Click()
{
    hangUp();
}

// --- the remote steps

void TForm2::callCustomer()
{
    if (session_.call(surnameBox_->text(), linePrefixBox_->text(), phoneNumberBox_->text()))
        readRemoteButton_->setFocus();
}

void TForm2::readRemoteBox()
{
    if (session_.readRemote())
        writeRemoteButton_->setFocus();
}

void TForm2::writeRemoteBox()
{
    // An empty summary would wipe the table in the main window, and the box
    // would be sent nothing it was meant to get.
    if (!summaryFilled_) {
        statusLine_->setText(QStringLiteral("Dati non inviati"));
        information(QStringLiteral("Nessuna programmazione da inviare: scegliere una scheda o leggere i dati"));
        return;
    }
    session_.writeRemote(summary_, host_.editorState());
}

void TForm2::hangUp()
{
    session_.hangUp();
}

// --- showing and activation

void TForm2::resetWindow()
{
    host_.setSummaryEditing(false);
    browser_.reset();
    statusLine_->clear();
    linePrefixBox_->clear();
}

void TForm2::showFromMain()
{
    if (host_.summaryEditing())
        mirrorSummary(host_.grid());
    show();
    raise();
    activateWindow();
    // The window manager's activation may come later, or not at all (focus
    // stealing prevention): the window is brought up to date here, once.
    activatedByShow_ = true;
    FormActivate();
    summaryView_->viewport()->update();
    statusLine_->clear();
}

void TForm2::reloadCard()
{
    clearCardFields();
    const CardBrowser::Outcome outcome = browser_.reload();
    if (outcome.move == CardBrowser::Move::Moved) {
        showCard();
        if (!host_.summaryEditing())
            showCardSummary();
    }
    tell(outcome);
    summaryView_->viewport()->update();
    surnameBox_->setFocus();
}

bool TForm2::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowActivate: {
        // Only coming back from the main window counts: a box of ours closing
        // hands the activation back from a dialog, and FormActivate would wipe
        // the typing the save prompt just asked about.
        QWidget* from = activations_->previous();
        const bool fromMainWindow = from && from != this && !qobject_cast<QDialog*>(from) && from->isVisible();
        const bool run = fromMainWindow && boxesUp_ == 0 && !activatedByShow_;
        activatedByShow_ = false;
        if (run)
            guarded([this] { FormActivate(); })();
        break;
    }
    case QEvent::WindowDeactivate:
        activatedByShow_ = false;
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void TForm2::showStatus(const QString& text)
{
    statusLine_->setText(text);
    statusLine_->repaint();
}

void TForm2::mirrorSummary(const TableGrid& mainGrid)
{
    summary_.copyDataFrom(mainGrid);
    summaryFilled_ = true;
}

// --- the card on screen

QLineEdit* TForm2::fieldBox(CustomerCard::Field field) const
{
    switch (field) {
    case CustomerCard::Field::Nome:
        return nameBox_;
    case CustomerCard::Field::Cognome:
        return surnameBox_;
    case CustomerCard::Field::Numero:
        return phoneNumberBox_;
    case CustomerCard::Field::Indirizzo:
        return addressBox_;
    case CustomerCard::Field::Citta:
        return cityBox_;
    case CustomerCard::Field::Provincia:
        return provinceBox_;
    case CustomerCard::Field::Cap:
        return postCodeBox_;
    }
    return nameBox_;
}

void TForm2::clearCardFields()
{
    for (int f = 0; f < CustomerCard::FieldCount; ++f)
        fieldBox(static_cast<CustomerCard::Field>(f))->clear();
}

void TForm2::showCard()
{
    for (int f = 0; f < CustomerCard::FieldCount; ++f) {
        const auto field = static_cast<CustomerCard::Field>(f);
        QLineEdit* box = fieldBox(field);
        // What a card holds is shown as it is, even where the digit boxes
        // would not have let it be typed; that is no refused key.
        const QSignalBlocker quiet(box);
        box->setText(browser_.card().text(field));
        box->setCursorPosition(0);
    }
    cardNumberBox_->setText(QString::number(browser_.current() + 1));
}

void TForm2::showCardSummary()
{
    browser_.card().showSummaryIn(summary_);
    summaryFilled_ = true;
}

void TForm2::showMovedCard()
{
    showCard();
    surnameBox_->setFocus();
    showCardSummary();
}

CustomerCard TForm2::cardOnScreen() const
{
    CustomerCard built = browser_.card();
    for (int f = 0; f < CustomerCard::FieldCount; ++f) {
        const auto field = static_cast<CustomerCard::Field>(f);
        built.setText(field, fieldBox(field)->text());
    }
    built.takeSummaryFrom(host_.grid());
    return built;
}

// --- the program's boxes

bool TForm2::tell(const CardBrowser::Outcome& outcome)
{
    // What the book found on the way is told first, once.
    for (const QString& notice : outcome.notices)
        information(notice);
    if (outcome.ok())
        return true;
    error(outcome.failure);
    return false;
}

void TForm2::information(const QString& text)
{
    ++boxesUp_;
    const auto down = qScopeGuard([this] { --boxesUp_; });
    host_.seams().dialogs->information(this, text);
}

bool TForm2::question(const QString& text)
{
    ++boxesUp_;
    const auto down = qScopeGuard([this] { --boxesUp_; });
    return host_.seams().dialogs->question(this, text);
}

void TForm2::error(const QString& text)
{
    ++boxesUp_;
    const auto down = qScopeGuard([this] { --boxesUp_; });
    host_.seams().dialogs->error(this, text);
}

// --- the card steps

bool TForm2::saveCard()
{
    if (!tell(browser_.save(cardOnScreen())))
        return false;
    showCard();
    // The card holds the main window's table now, which may not be what the
    // summary showed: the operator sees what was stored.
    showCardSummary();
    return true;
}

bool TForm2::promptSaveBeforeLeaving()
{
    if (browser_.cardModified()) {
        // A card that could not be written keeps its typing and the prompt.
        if (question(SavePrompt) && !saveCard())
            return false;
        browser_.setCardModified(false);
    }
    return true;
}

bool TForm2::dropOrSaveTyping()
{
    if (!browser_.cardModified())
        return true;
    if (question(SavePrompt)) {
        saveCard();
        return false;
    }
    browser_.setCardModified(false);
    return true;
}

void TForm2::showPreviousCard()
{
    moveThroughBook(&CardBrowser::previous, StartOfFile);
}

void TForm2::showNextCard()
{
    moveThroughBook(&CardBrowser::next, EndOfFile);
}

void TForm2::moveThroughBook(CardBrowser::Outcome (CardBrowser::*move)(), const QString& atEdge)
{
    if (!promptSaveBeforeLeaving())
        return;
    selectOnFocus_ = false;
    const CardBrowser::Outcome outcome = (browser_.*move)();
    if (!tell(outcome))
        return;
    if (outcome.move == CardBrowser::Move::Moved)
        showMovedCard();
    else
        information(atEdge);
}

void TForm2::beginNewCard()
{
    if (!dropOrSaveTyping() || !tell(browser_.beginNewCard()))
        return;
    clearCardFields();
    cardNumberBox_->setText(QString::number(browser_.current() + 1));
    surnameBox_->setFocus();
}

void TForm2::sortBook()
{
    if (!dropOrSaveTyping())
        return;
    // The sort leaves out the cards without a surname: that is how a card is
    // deleted, and it is never done without asking.
    const CardBrowser::Outcome counted = browser_.countCardsWithoutSurname();
    if (!tell(counted))
        return;
    const int withoutSurname = counted.count;
    if (withoutSurname > 0
        && !question(withoutSurname == 1
                         ? QStringLiteral("Una scheda senza cognome sarà cancellata. Ordinare comunque?")
                         : QStringLiteral("%1 schede senza cognome saranno cancellate. Ordinare comunque?")
                               .arg(withoutSurname)))
        return;
    clearCardFields();
    tell(browser_.sortBySurname());
}

void TForm2::editSummaryInMain()
{
    statusLine_->clear();
    statusLine_->repaint();
    host_.setSummaryEditing(true);
    host_.focusWindow();
    // An empty summary would wipe the table the operator has in the main window.
    if (summaryFilled_)
        host_.grid().copyDataFrom(summary_);
}

void TForm2::leaveBook()
{
    statusLine_->clear();
    browser_.leave();
    // A summary that was never filled holds nothing of the customer's, only
    // empty cells: the table the operator read or loaded stays as it is.
    if (summaryFilled_)
        host_.grid().copyDataFrom(summary_);
    host_.focusWindow();
    QCoreApplication::processEvents();
    close();
    // The port is let go; the LED keeps telling how the last exchange ended.
    session_.exchange().announceIfOpen(QStringLiteral("Esci"));
    session_.exchange().close();
}

void TForm2::closeEvent(QCloseEvent* event)
{
    guarded([this] { FormClose(); })();
    QWidget::closeEvent(event);
}

bool TForm2::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        bool consumed = false;
        guarded([&] { consumed = filterKey(box, static_cast<QKeyEvent*>(event)); })();
        return consumed;
    }
    // The line prefix is no card field: it keeps selecting its text on entry.
    if (event->type() == QEvent::FocusIn && !selectOnFocus_ && box != linePrefixBox_) {
        // The box takes the focus as usual (tabbing in selects its text), then
        // lets the selection go.
        static_cast<QObject*>(box)->event(event);
        box->deselect();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool TForm2::filterKey(QLineEdit* box, QKeyEvent* event)
{
    const bool nameBox = box == surnameBox_ || box == nameBox_;
    // Every key that types a character into the name boxes counts as typing,
    // Escape and control characters included; Tab only moves on.
    if (nameBox && !event->text().isEmpty() && event->key() != Qt::Key_Tab && event->key() != Qt::Key_Backtab)
        browser_.setCardModified(true);
    QChar typed;
    if (box == cardNumberBox_ || !typedCharacter(event, &typed))
        return false;
    if (box == phoneNumberBox_ || box == postCodeBox_ || box == linePrefixBox_) {
        if (!isDigitKey(typed)) {
            host_.seams().beeper->beep();
            return true;
        }
        // The line prefix is the operator's setting, not part of the card.
        if (box != linePrefixBox_)
            browser_.setCardModified(true);
        return false;
    }
    if (!hasCardByte(typed.unicode())) {
        host_.seams().beeper->beep();
        return true;
    }
    browser_.setCardModified(true);
    if (nameBox && typed >= QLatin1Char('a') && typed <= QLatin1Char('z')) {
        box->insert(QString(typed.toUpper()));
        return true;
    }
    return false;
}
