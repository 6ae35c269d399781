#include "book/Unit2.h"

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
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QValidator>

#include <algorithm>
#include <utility>

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

// Follows which of the program's windows was active before the one active
// now. The toolkit tells a window it is active before it tells the one left
// that it is not, so the activations alone are followed.
class ActivationWatch : public QObject
{
public:
    explicit ActivationWatch(QObject* parent)
        : QObject(parent)
    {
        qApp->installEventFilter(this);
    }

    // The window active before the one that is active now; the same window
    // when the operator comes back to it from another program.
    QWidget* previous() const { return previous_.data(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::WindowActivate && watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (w->isWindow()) {
                previous_ = current_;
                current_ = w;
            }
        }
        return false;
    }

private:
    QPointer<QWidget> previous_;
    QPointer<QWidget> current_;
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

void TForm2::buildControls()
{
    const QFont buttonFont = pixelFont(13);

    // The bevel first, so that what it frames lies above it.
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel1->setLineWidth(1);
    Bevel1->setGeometry(4, 4, 602, 128);

    auto edit = [this](QLineEdit*& box, const char* name, const QString& caption, int x, int y, int w, int help) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(QStringLiteral("Label_%1").arg(QLatin1String(name)));
        label->setGeometry(x, y, w, 16);
        box = new QLineEdit(this);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(x, y + 17, w, 24);
        box->setProperty(helpContextProperty, help);
        label->setBuddy(box);
        box->setAccessibleName(caption);
    };
    edit(Ecognome, "Ecognome", QStringLiteral("Cognome"), 10, 7, 150, 24);
    edit(Enome, "Enome", QStringLiteral("Nome"), 166, 7, 150, 15);
    edit(Edit1, "Edit1", QStringLiteral("Centr."), 322, 7, 56, 16);
    edit(Enumero, "Enumero", QStringLiteral("Numero telefonico"), 384, 7, 140, 17);
    edit(Edit8, "Edit8", QStringLiteral("Scheda:"), 530, 7, 66, 18);
    edit(Eindirizzo, "Eindirizzo", QStringLiteral("Indirizzo"), 10, 51, 250, 19);
    edit(Ecitta, "Ecitta", QStringLiteral("Citta'"), 266, 51, 170, 20);
    edit(Eprovincia, "Eprovincia", QStringLiteral("Provincia"), 442, 51, 70, 21);
    edit(Ecap, "Ecap", QStringLiteral("CAP"), 518, 51, 78, 22);
    Edit1->setToolTip(QStringLiteral("Prefisso accesso linea esterna"));
    Edit1->setAccessibleDescription(Edit1->toolTip());
    Edit8->setEnabled(false);
    Ecap->setMaxLength(5);

    auto button = [this, &buttonFont](const char* name, const QString& caption, const QString& hint, int x, int y,
                                       int w) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(x, y, w, 26);
        b->setFont(buttonFont);
        b->setAutoDefault(false);
        b->setToolTip(hint);
        b->setAccessibleDescription(hint);
        return b;
    };
    Bprecedente = button("Bprecedente", QStringLiteral("Precedente"), QStringLiteral("Scheda precedente"), 10, 98, 100);
    Bsuccessivo = button("Bsuccessivo", QStringLiteral("Successivo"), QStringLiteral("Scheda successiva"), 131, 98, 100);
    Bsalva = button("Bsalva", QStringLiteral("Salva"), QStringLiteral("Salva la scheda attuale"), 252, 98, 100);
    Bnuovo = button("Bnuovo", QStringLiteral("Nuovo"), QStringLiteral("Crea una nuova scheda vuota"), 373, 98, 100);
    Bordina = button("Bordina", QStringLiteral("Ordina"), QStringLiteral("Mette in ordine alfabetico"), 494, 98, 100);

    StringGrid2 = new TableGridView(summary_, this);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setGeometry(4, 138, 602, 168);
    StringGrid2->setToolTip(QStringLiteral("Riepilogo delle programmazioni"));
    StringGrid2->setAccessibleName(QStringLiteral("StringGrid2"));
    StringGrid2->setAccessibleDescription(StringGrid2->toolTip());
    StringGrid2->setProperty(helpContextProperty, 23);

    Bcomponi = button("Bcomponi", QStringLiteral("Chiama"), QStringLiteral("Chiama l'utente"), 10, 312, 90);
    {
        QFont underlined = buttonFont;
        underlined.setUnderline(true);
        Bcomponi->setFont(underlined);
    }
    Button3 = button("Button3", QStringLiteral("Leggi Dati"), QStringLiteral("Legge i dati dall'utente"), 109, 312, 90);
    Button1 = button("Button1", QStringLiteral("Sconnetti"), QStringLiteral("Sconnette l'utente chiamato"), 208, 312, 90);
    Button2 = button("Button2", QStringLiteral("Edita"), QStringLiteral("Edita i dati dell'utente"), 307, 312, 90);
    Button4 = button("Button4", QStringLiteral("Scrivi Dati"), QStringLiteral("Invia i dati all'utente"), 406, 312, 90);
    Besci = button("Besci", QStringLiteral("Esci"), QStringLiteral("Esce dalla rubrica"), 505, 312, 90);

    Label9 = new QLabel(this);
    Label9->setObjectName(QStringLiteral("Label9"));
    Label9->setGeometry(0, 344, 610, 28);
    Label9->setAlignment(Qt::AlignCenter);
    // Replies from the line are shown as they are, never as markup.
    Label9->setTextFormat(Qt::PlainText);
    Label9->setFont(pixelFont(16));
}

void TForm2::setTabOrder()
{
    const QList<QWidget*> order {
        Ecognome, Enome, Enumero, Eindirizzo, Ecitta, Eprovincia, Ecap, Bprecedente, Bsuccessivo, Bsalva, Bnuovo,
        Bordina, Button2, Besci, Bcomponi, Edit8, StringGrid2, Button3, Button4, Button1, Edit1,
    };
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void TForm2::connectControls()
{
    for (QLineEdit* box : { Ecognome, Enome, Edit1, Enumero, Eindirizzo, Ecitta, Eprovincia, Ecap })
        box->installEventFilter(this);
    Edit8->installEventFilter(this);

    // The digit boxes take only digits, however the text comes: what a paste,
    // a drop or an input method would put in them is refused whole, with the
    // beep of a refused key.
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit* box : { Enumero, Ecap, Edit1 }) {
        box->setValidator(new QRegularExpressionValidator(digits, box));
        connect(box, &QLineEdit::inputRejected, this, guarded([this] { host_.seams().beeper->beep(); }));
    }
    // The text boxes take every character the card can store.
    for (QLineEdit* box : { Ecognome, Enome, Eindirizzo, Ecitta, Eprovincia }) {
        box->setValidator(new CardTextValidator(box));
        connect(box, &QLineEdit::inputRejected, this, guarded([this] { host_.seams().beeper->beep(); }));
    }
    // A change to a card field that is no typed key (a paste, a cut, an
    // undo, Delete) is typing the save prompt must ask about all the same.
    for (QLineEdit* box : { Ecognome, Enome, Enumero, Eindirizzo, Ecitta, Eprovincia, Ecap })
        connect(box, &QLineEdit::textEdited, this, [this] { CardModified = true; });

    connect(Bprecedente, &QPushButton::clicked, this, guarded([this] { BprecedenteClick(); }));
    connect(Bsuccessivo, &QPushButton::clicked, this, guarded([this] { BsuccessivoClick(); }));
    connect(Bsalva, &QPushButton::clicked, this, guarded([this] { BsalvaClick(); }));
    connect(Bnuovo, &QPushButton::clicked, this, guarded([this] { BnuovoClick(); }));
    connect(Bordina, &QPushButton::clicked, this, guarded([this] { BordinaClick(); }));
    connect(Button2, &QPushButton::clicked, this, guarded([this] { Button2Click(); }));
    connect(Besci, &QPushButton::clicked, this, guarded([this] { BesciClick(); }));
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

    connect(Bcomponi, &QPushButton::clicked, this, guarded([this] { BcomponiClick(); }));
    connect(Button3, &QPushButton::clicked, this, guarded([this] { Button3Click(); }));
    connect(Button4, &QPushButton::clicked, this, guarded([this] { Button4Click(); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(); }));
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

void TForm2::callCustomer()
{
    if (session_.call(Ecognome->text(), Edit1->text(), Enumero->text()))
        Button3->setFocus();
}

void TForm2::readRemoteBox()
{
    if (session_.readRemote())
        Button4->setFocus();
}

void TForm2::writeRemoteBox()
{
    // An empty summary would wipe the table in the main window, and the box
    // would be sent nothing it was meant to get.
    if (!summaryFilled_) {
        Label9->setText(QStringLiteral("Dati non inviati"));
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

void TForm2::FormCreate()
{
    host_.setSummaryEditing(false);
    CardModified = false;
    NewCardPending = false;
    CurrentCard = 0;
    Label9->clear();
    Edit1->clear();
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
    StringGrid2->viewport()->update();
    Label9->clear();
}

void TForm2::FormActivate()
{
    NewCardPending = false;
    ClearCardFields();
    onBook([this] {
        book_.open();
        if (book_.cardCount() == 0)
            return;
        book_.seek(CurrentCard);
        if (book_.atEnd())
            return;
        CustomerCard read;
        book_.readCard(read);
        card_ = read;
        ShowCard();
        if (!host_.summaryEditing())
            ShowSummary();
    });
    StringGrid2->viewport()->update();
    Ecognome->setFocus();
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
    Label9->setText(text);
    Label9->repaint();
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
        return Enome;
    case CustomerCard::Field::Cognome:
        return Ecognome;
    case CustomerCard::Field::Numero:
        return Enumero;
    case CustomerCard::Field::Indirizzo:
        return Eindirizzo;
    case CustomerCard::Field::Citta:
        return Ecitta;
    case CustomerCard::Field::Provincia:
        return Eprovincia;
    case CustomerCard::Field::Cap:
        return Ecap;
    }
    return Enome;
}

void TForm2::ClearCardFields()
{
    for (QLineEdit* box : { Enome, Ecognome, Enumero, Eindirizzo, Ecitta, Eprovincia, Ecap })
        box->clear();
}

void TForm2::ShowCard()
{
    for (int f = 0; f < CustomerCard::FieldCount; ++f) {
        const auto field = static_cast<CustomerCard::Field>(f);
        QLineEdit* box = fieldBox(field);
        // What a card holds is shown as it is, even where the digit boxes
        // would not have let it be typed; that is no refused key.
        const QSignalBlocker quiet(box);
        box->setText(card_.text(field));
        box->setCursorPosition(0);
    }
    Edit8->setText(QString::number(CurrentCard + 1));
}

void TForm2::ShowSummary()
{
    card_.showSummaryIn(summary_);
    summaryFilled_ = true;
}

void TForm2::StoreCard()
{
    CustomerCard built = card_;
    for (int f = 0; f < CustomerCard::FieldCount; ++f) {
        const auto field = static_cast<CustomerCard::Field>(f);
        built.setText(field, fieldBox(field)->text());
    }
    built.takeSummaryFrom(host_.grid());
    book_.seek(CurrentCard);
    book_.writeCard(built);
    card_ = built;
}

// --- the program's boxes

bool TForm2::onBook(const std::function<void()>& step)
{
    QString failure;
    try {
        step();
    } catch (const AddressBookError& e) {
        failure = e.message();
    }
    // What the book found on the way (a save completed after a crash, another
    // program holding it, a replaced file) is told first, once.
    for (const QString& notice : book_.takeNotices())
        information(notice);
    if (failure.isEmpty())
        return true;
    error(failure);
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

// --- buttons

bool TForm2::saveCard()
{
    if (!onBook([this] { StoreCard(); }))
        return false;
    ShowCard();
    // The card holds the main window's table now, which may not be what the
    // summary showed: the operator sees what was stored.
    ShowSummary();
    NewCardPending = false;
    CardModified = false;
    return true;
}

bool TForm2::promptSaveBeforeLeaving()
{
    if (CardModified) {
        // A card that could not be written keeps its typing and the prompt.
        if (question(SavePrompt) && !saveCard())
            return false;
        CardModified = false;
    }
    return true;
}

void TForm2::BprecedenteClick()
{
    if (!promptSaveBeforeLeaving())
        return;
    selectOnFocus_ = false;
    if (CurrentCard == 0) {
        if (onBook([this] { book_.seek(0); }))
            information(StartOfFile);
        return;
    }
    const int previous = CurrentCard - 1;
    CustomerCard read;
    if (!onBook([&] {
            book_.seek(previous);
            book_.readCard(read);
            book_.seek(previous);
        }))
        return;
    showCardAt(previous, read);
}

void TForm2::showCardAt(int index, const CustomerCard& read)
{
    CurrentCard = index;
    card_ = read;
    ShowCard();
    Ecognome->setFocus();
    ShowSummary();
}

void TForm2::BsuccessivoClick()
{
    if (!promptSaveBeforeLeaving())
        return;
    selectOnFocus_ = false;
    const int next = CurrentCard + 1;
    bool atEnd = false;
    CustomerCard read;
    if (!onBook([&] {
            book_.seek(next);
            atEnd = book_.atEnd();
            if (atEnd) {
                book_.seek(CurrentCard);
                return;
            }
            book_.readCard(read);
            book_.seek(next);
        }))
        return;
    if (atEnd) {
        information(EndOfFile);
        return;
    }
    showCardAt(next, read);
}

void TForm2::BsalvaClick()
{
    saveCard();
}

void TForm2::BnuovoClick()
{
    if (CardModified) {
        if (question(SavePrompt)) {
            // Saved only; the new card is begun by the next press.
            saveCard();
            return;
        }
        CardModified = false;
    }
    int count = 0;
    if (!onBook([&] { count = book_.cardCount(); }))
        return;
    CurrentCard = count;
    ClearCardFields();
    Edit8->setText(QString::number(CurrentCard + 1));
    Ecognome->setFocus();
    NewCardPending = true;
}

void TForm2::BordinaClick()
{
    if (CardModified) {
        if (question(SavePrompt)) {
            saveCard();
            return;
        }
        CardModified = false;
    }
    // The sort leaves out the cards without a surname: that is how a card is
    // deleted, and it is never done without asking.
    int withoutSurname = 0;
    if (!onBook([&] { withoutSurname = cardsWithoutSurname(); }))
        return;
    if (withoutSurname > 0
        && !question(withoutSurname == 1
                         ? QStringLiteral("Una scheda senza cognome sarà cancellata. Ordinare comunque?")
                         : QStringLiteral("%1 schede senza cognome saranno cancellate. Ordinare comunque?")
                               .arg(withoutSurname)))
        return;
    ClearCardFields();
    CurrentCard = 0;
    int written = 0;
    // A sort that fails leaves the book as it was, open at its first card.
    if (!onBook([&] { written = book_.sortBySurname(); }))
        return;
    CurrentCard = written;
}

int TForm2::cardsWithoutSurname()
{
    const int count = book_.cardCount();
    int found = 0;
    book_.seek(0);
    for (int i = 0; i < count; ++i) {
        CustomerCard card;
        book_.readCard(card);
        if (card.textLength(CustomerCard::Field::Cognome) == 0)
            ++found;
    }
    book_.seek(CurrentCard);
    return found;
}

void TForm2::Button2Click()
{
    Label9->clear();
    Label9->repaint();
    host_.setSummaryEditing(true);
    host_.focusWindow();
    // An empty summary would wipe the table the operator has in the main window.
    if (summaryFilled_)
        host_.grid().copyDataFrom(summary_);
}

void TForm2::BesciClick()
{
    Label9->clear();
    if (NewCardPending)
        CurrentCard = std::max(0, CurrentCard - 1);
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

void TForm2::FormClose()
{
    Label9->clear();
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
    if (event->type() == QEvent::FocusIn && !selectOnFocus_ && box != Edit1) {
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
    // Every key that types a character into the name boxes counts as typing,
    // Escape and control characters included; Tab only moves on.
    if ((box == Ecognome || box == Enome) && !event->text().isEmpty() && event->key() != Qt::Key_Tab
        && event->key() != Qt::Key_Backtab)
        CardModified = true;
    QChar typed;
    if (box == Edit8 || !typedCharacter(event, &typed))
        return false;
    if (box == Enumero || box == Ecap || box == Edit1) {
        if (!isDigitKey(typed)) {
            host_.seams().beeper->beep();
            return true;
        }
        // The line prefix is the operator's setting, not part of the card.
        if (box != Edit1)
            CardModified = true;
        return false;
    }
    if (!hasCardByte(typed.unicode())) {
        host_.seams().beeper->beep();
        return true;
    }
    CardModified = true;
    if ((box == Ecognome || box == Enome) && typed >= QLatin1Char('a') && typed <= QLatin1Char('z')) {
        box->insert(QString(typed.toUpper()));
        return true;
    }
    return false;
}
