#pragma once

#include "book/AddressBookFile.h"
#include "book/CustomerCard.h"
#include "device/TableGrid.h"

#include <QWidget>

#include <functional>

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
// programming in the yellow summary grid. It works on the main window only
// through the BookHost it is handed.
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
    int currentCard() const { return CurrentCard; }
    bool cardModified() const { return CardModified; }
    bool newCardPending() const { return NewCardPending; }

    // --- handlers
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

    // The same by what they do, each a step of the main window's session;
    // the focus moves on after a step that went out.
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
    // The card's programming summary.
    TableGridView* StringGrid2 = nullptr;
    // Status line at the bottom of the window.
    QLabel* Label9 = nullptr;
    QLineEdit* Ecognome = nullptr;
    QLineEdit* Enome = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Enumero = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLineEdit* Eindirizzo = nullptr;
    QLineEdit* Ecitta = nullptr;
    QLineEdit* Eprovincia = nullptr;
    QLineEdit* Ecap = nullptr;
    QPushButton* Bprecedente = nullptr;
    QPushButton* Bsuccessivo = nullptr;
    QPushButton* Bsalva = nullptr;
    QPushButton* Bnuovo = nullptr;
    QPushButton* Bordina = nullptr;
    QPushButton* Bcomponi = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Besci = nullptr;
    QFrame* Bevel1 = nullptr;

    void buildControls();
    void setTabOrder();
    void connectControls();
    void connectRemote();

    // Key filters: true when the key is consumed.
    bool filterKey(QLineEdit* box, QKeyEvent* event);

    void ClearCardFields();
    void StoreCard();
    void ShowCard();
    void ShowSummary();
    // A card read by a move through the book becomes the one shown.
    void showCardAt(int index, const CustomerCard& read);
    // The edits that show the card, in record order.
    QLineEdit* fieldBox(CustomerCard::Field field) const;

    // Before moving away from typed changes: false when the operator chose to
    // save and the card could not be written (the typing is kept).
    bool promptSaveBeforeLeaving();
    // The cards "Ordina" would leave out; reads the whole book.
    int cardsWithoutSurname();
    // "Salva": true when the card is on disk.
    bool saveCard();
    // Runs a step on the book; a failure is told to the operator and gives false.
    bool onBook(const std::function<void()>& step);
    // The program's own boxes over this window: while one is up, and when the
    // window is activated again as it closes, FormActivate does not run.
    void information(const QString& text);
    bool question(const QString& text);
    void error(const QString& text);

    BookHost& host_;
    BoxSession& session_;
    TableGrid summary_;
    CustomerCard card_;
    AddressBookFile book_;

    int CurrentCard = 0;
    bool CardModified = false;
    bool NewCardPending = false;
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
