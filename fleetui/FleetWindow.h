#pragma once

#include "book/CustomerCard.h"
#include "fleetui/FleetRows.h"
#include "fleetui/FleetSetup.h"

#include <QWidget>

#include <memory>
#include <optional>

#include "fleet/AuditRun.h"

class Dialogs;
class Pacer;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace fleet {
class FleetStore;
}

namespace fleetui {

class FleetFilter;
class FleetHistory;
class FleetListModel;
class RestoreJob;

// "Centraline dei clienti": every customer's box as the nightly audit left
// it, a box's history, and a box put back as it was. It reads the fleet
// store and the address book; it writes a box only through a RestoreJob on
// a thread of its own, and the book only as "Salva" does, under its lock.
class FleetWindow : public QWidget
{
    Q_OBJECT

public:
    // `pacer` makes the waits of a restore's transfer (null: real waits,
    // which closing the program cuts short).
    FleetWindow(Dialogs& dialogs, FleetSetup setup, Pacer* pacer = nullptr, QWidget* parent = nullptr);
    ~FleetWindow() override;

    // The store and the book read again; the row chosen stays chosen.
    void reload();
    // The chosen version written back into the chosen box ("Ripristina questa versione").
    void restoreVersion();
    // The chosen version as the card's summary ("Salva nella scheda").
    void saveVersionToCard();

    bool restoring() const { return job_ != nullptr; }

    // "Controlla ora": the audit over the customers chosen in the list (all
    // of the book when none is), on the configured ports, the rows updated
    // as each session is recorded. "Ferma" hangs up and stops it as the
    // nightly run stops on SIGTERM.
    void checkNow();
    void stopCheck();
    bool checking() const { return run_ != nullptr; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void connectControls();
    void showStatus(const QString& text, bool offerRetry = false);
    // The row chosen in the list, if any (a model row).
    int chosenRow() const;
    void rowChosen();
    void updateActions();
    std::optional<CustomerCard> readCard(int card, QString* problem = nullptr) const;
    // Why the chosen version cannot be written back or saved; empty when it can.
    QString versionProblem() const;
    void restoreEnded();
    std::vector<fleet::AuditItem> checkItems(QStringList& skipped) const;
    void sessionChecked(const fleet::SessionResult& result);
    void checkEnded();
    // After the line is down: a close the operator asked for meanwhile.
    void closeIfAsked();
    void refreshBox(const QString& number);

    Dialogs& dialogs_;
    Pacer* pacer_;
    FleetSetup setup_;
    std::unique_ptr<fleet::FleetStore> store_;
    // The store held for writing while a restore runs: its run lock keeps the
    // nightly audit off the store until the outcome is recorded.
    std::unique_ptr<fleet::FleetStore> recording_;
    qint64 recordingRun_ = 0;
    FleetRow restoring_;
    QString restoredVersion_;
    RestoreJob* job_ = nullptr;
    std::unique_ptr<fleet::AuditRun> run_;
    bool checkStopped_ = false;
    bool closeAsked_ = false;

    QComboBox* filterBox_ = nullptr;
    QLineEdit* searchBox_ = nullptr;
    QTableView* listView_ = nullptr;
    FleetListModel* model_ = nullptr;
    FleetFilter* filter_ = nullptr;
    FleetHistory* history_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    QPushButton* saveToCardButton_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QPushButton* retryButton_ = nullptr;
};

} // namespace fleetui
