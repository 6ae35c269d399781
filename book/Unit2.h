#pragma once

#include "book/CardBrowser.h"
#include "book/CustomerCard.h"
#include "device/TableGrid.h"

#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QKeyEvent;
class ActivationWatch;
class BookHost;
class BoxSession;
class TableGridView;

// The customer address book window, created hidden at start-up. It shows one
// card of RUBRICA.DAT at a time: the customer in the edit boxes, the card's
// programming in the yellow summary grid. The book itself is worked by its
// CardBrowser; the window gathers the operator's input and shows what the
// browser holds. It works on the main window only through the BookHost it is
// handed.
class TForm2 : public QWidget
{
    Q_OBJECT

public:
    // The window works the line through `session`, the main window's.
    TForm2(BookHost& host, BoxSession& session, QWidget* parent = nullptr);

    // "Utente" of the main window: the summary takes the main grid while it is
    // being edited there, then the window comes up with an empty status line.
    void showFromMain();

    // The summary takes the main grid's data cells: after every receive
    // event while the window is visible, and at "Utente".
    void mirrorSummary(const TableGrid& mainGrid);
    const TableGrid& summary() const { return summary_; }

    // Index of the card shown (the operator sees it + 1 under "Scheda:").
    int currentCard() const { return browser_.current(); }
    bool cardModified() const { return browser_.cardModified(); }
    bool newCardPending() const { return browser_.newCardPending(); }

    // --- handlers of the window and of its controls, each a forward
    void FormCreate();
    void FormActivate();
    void BprecedenteClick();
    void BsuccessivoClick();
    void BsalvaClick();
    void BnuovoClick();
    void BordinaClick();
    void Button2Click();
    void BesciClick();
    void FormClose();
    // The remote commands: "Chiama", "Leggi Dati", "Scrivi Dati", "Sconnetti".
    void BcomponiClick();
    void Button3Click();
    void Button4Click();
    void Button1Click();

    // The window made anew: the first card, nothing typed, no status.
    void resetWindow();
    // Coming back to the window: the card shown is read again from the book.
    void reloadCard();
    void showPreviousCard();
    void showNextCard();
    // "Salva": true when the card is on disk.
    bool saveCard();
    void beginNewCard();
    void sortBook();
    // "Edita": the summary goes to the main window's grid to be edited there.
    void editSummaryInMain();
    // "Esci": the summary back to the main grid, the window closed, the port let go.
    void leaveBook();

    // The remote steps, each a step of the main window's session; the focus
    // moves on after a step that went out.
    void callCustomer();
    void readRemoteBox();
    // The summary, with the main window's editor state, written as "Scrivi
    // Eeprom" writes, then the called box told to keep it.
    void writeRemoteBox();
    void hangUp();

    // The status line at the bottom of the window, repainted at once (the
    // box's answer to a remote write is told here).
    void showStatus(const QString& text);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct EditRow;
    struct ButtonRow;
    static const EditRow editRows[];
    static const ButtonRow cardButtonRows[];
    static const ButtonRow lineButtonRows[];

    QFrame* bevel_ = nullptr;
    QLineEdit* surnameBox_ = nullptr;
    QLineEdit* nameBox_ = nullptr;
    // The outside-line prefix the dialling unit dials first: the operator's
    // setting, no part of the card.
    QLineEdit* linePrefixBox_ = nullptr;
    QLineEdit* phoneNumberBox_ = nullptr;
    // "Scheda:", the number of the card shown; never typed into.
    QLineEdit* cardNumberBox_ = nullptr;
    QLineEdit* addressBox_ = nullptr;
    QLineEdit* cityBox_ = nullptr;
    QLineEdit* provinceBox_ = nullptr;
    QLineEdit* postCodeBox_ = nullptr;
    QPushButton* previousButton_ = nullptr;
    QPushButton* nextButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* newCardButton_ = nullptr;
    QPushButton* sortButton_ = nullptr;
    // The card's programming summary.
    TableGridView* summaryView_ = nullptr;
    QPushButton* callButton_ = nullptr;
    QPushButton* readRemoteButton_ = nullptr;
    QPushButton* hangUpButton_ = nullptr;
    QPushButton* editButton_ = nullptr;
    QPushButton* writeRemoteButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    // Status line at the bottom of the window.
    QLabel* statusLine_ = nullptr;

    void buildControls();
    // A button as its line of the table says, wired to its handler.
    void makeButton(const ButtonRow& row);
    void setTabOrder();
    void connectControls();
    void connectRemote();

    // Key filters: true when the key is consumed.
    bool filterKey(QLineEdit* box, QKeyEvent* event);

    void clearCardFields();
    void showCard();
    void showCardSummary();
    // The card read by a move through the book becomes the one shown.
    void showMovedCard();
    // The card on screen, over the one shown, with the main grid as its summary.
    CustomerCard cardOnScreen() const;
    // The edits that show the card, in record order.
    QLineEdit* fieldBox(CustomerCard::Field field) const;

    // Before moving away from typed changes: false when the operator chose to
    // save and the card could not be written (the typing is kept).
    bool promptSaveBeforeLeaving();
    // "Precedente" and "Successivo": the card the step reads is shown, or the
    // operator is told the book ends there.
    void moveThroughBook(CardBrowser::Outcome (CardBrowser::*move)(), const QString& atEdge);
    // Before "Nuovo" and "Ordina": true when the step may go on; a card the
    // operator chose to save is saved only, and the step waits for the next press.
    bool dropOrSaveTyping();
    // What a step on the book found, told to the operator; false on a failure.
    bool tell(const CardBrowser::Outcome& outcome);
    // The program's own boxes over this window: while one is up, and when the
    // window is activated again as it closes, FormActivate does not run.
    void information(const QString& text);
    bool question(const QString& text);
    void error(const QString& text);

    BookHost& host_;
    BoxSession& session_;
    TableGrid summary_;
    CardBrowser browser_;

    // The summary grid holds something: a card's summary, a read mirrored
    // into it, or the main grid handed over by "Utente". Until then its cells
    // are empty and must not be copied over the main grid.
    bool summaryFilled_ = false;
    // After the first navigation, entering a card edit no longer selects its text.
    bool selectOnFocus_ = true;

    // How activation is told apart: showing runs FormActivate itself, and the
    // window manager's activation that follows is not a second one; a box of
    // ours closing hands the activation back from a dialog, not from the main
    // window.
    int boxesUp_ = 0;
    bool activatedByShow_ = false;
    ActivationWatch* activations_ = nullptr;
};
