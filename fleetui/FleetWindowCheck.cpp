// "Controlla ora": the nightly audit's run, started from the window over the
// customers the operator chose.

#include "fleetui/FleetWindow.h"

#include "fleet/FleetStore.h"
#include "fleetui/FleetListModel.h"
#include "session/StopFlag.h"
#include "widgets/Seams.h"

#include <QItemSelectionModel>
#include <QProgressBar>
#include <QPushButton>
#include <QSysInfo>
#include <QTableView>

#include <algorithm>
#include <set>

namespace fleetui {

std::vector<fleet::AuditItem> FleetWindow::checkItems(QStringList& skipped) const
{
    std::set<int> rows;
    for (const QModelIndex& index : listView_->selectionModel()->selectedRows())
        rows.insert(filter_->mapToSource(index).row());
    if (rows.empty())
        for (int r = 0; r < model_->rowCount(); ++r)
            rows.insert(r);
    std::vector<std::pair<QDateTime, fleet::AuditItem>> chosen;
    for (int r : rows) {
        const FleetRow& row = model_->row(r);
        // A box is judged against the card that dials it today; without one it is not called.
        const std::optional<CustomerCard> card = row.cardProblem().isEmpty() ? readCard(row.bookCard) : std::nullopt;
        if (!card || card->text(CustomerCard::Field::Numero) != row.box.number) {
            skipped << (row.box.number.isEmpty() ? QStringLiteral("scheda %1").arg(row.box.card) : row.box.number);
            continue;
        }
        chosen.push_back({ row.box.lastAudit,
                           { { row.bookCard, row.box.surname, row.box.name, row.box.number }, *card } });
    }
    // The least recently checked first, those never checked before all, as the nightly run orders them.
    std::stable_sort(chosen.begin(), chosen.end(), [](const auto& a, const auto& b) {
        if (a.first.isNull() != b.first.isNull())
            return a.first.isNull();
        return a.first < b.first;
    });
    std::vector<fleet::AuditItem> items;
    for (auto& c : chosen)
        items.push_back(std::move(c.second));
    return items;
}

void FleetWindow::checkNow()
{
    if (job_ || run_)
        return;
    if (setup_.ports.isEmpty()) {
        dialogs_.error(this, missingPortsMessage());
        return;
    }
    QStringList skipped;
    std::vector<fleet::AuditItem> items = checkItems(skipped);
    if (items.empty()) {
        dialogs_.error(this, QStringLiteral("Nessuna delle centraline scelte ha una scheda che la chiami: non c'è nulla da controllare."));
        return;
    }
    if (!dialogs_.question(this, QStringLiteral("Chiamare e leggere ora %1 sulle porte %2?")
                                     .arg(items.size() == 1 ? QStringLiteral("1 centralina") : QStringLiteral("%1 centraline").arg(items.size()))
                                     .arg(setup_.ports.join(QStringLiteral(", ")))))
        return;
    std::vector<fleet::Customer> customers;
    for (const fleet::AuditItem& item : items)
        customers.push_back(item.customer);
    try {
        recording_ = fleet::openStore(setup_.store, fleet::OpenMode::Write);
        recordingRun_ = recording_->startRun(setup_.ports, customers, QDateTime::currentDateTimeUtc());
    } catch (const fleet::StoreError& error) {
        recording_.reset();
        dialogs_.error(this, error.message + QStringLiteral("\nIl controllo non è partito."));
        return;
    }
    fleet::AuditSettings settings;
    settings.ports = setup_.ports;
    settings.prefix = setup_.prefix;
    settings.silenceMs = setup_.silenceMs;
    // The operator is waiting: no further rounds; a box not reached is called again by pressing once more.
    settings.rounds = 0;
    settings.paceScale = paceScale();
    settings.host = QSysInfo::machineHostName();
    checkStopped_ = false;
    run_ = std::make_unique<fleet::AuditRun>(*recording_, recordingRun_, settings, std::move(items));
    connect(run_.get(), &fleet::AuditRun::sessionRecorded, this, [this](const fleet::SessionResult& r) { sessionChecked(r); });
    connect(run_.get(), &fleet::AuditRun::portFailed, this, [this](const QString& port, const QString& message) {
        showStatus(QStringLiteral("Porta \"%1\" lasciata: %2").arg(port, message));
    });
    connect(run_.get(), &fleet::AuditRun::finished, this, [this] { checkEnded(); }, Qt::QueuedConnection);
    progress_->setRange(0, std::max(1, run_->callable()));
    progress_->setValue(0);
    showStatus(skipped.isEmpty() ? QStringLiteral("Controllo in corso.")
                                 : QStringLiteral("Controllo in corso; non chiamate, senza una scheda che le chiami: %1.")
                                       .arg(skipped.join(QStringLiteral(", "))));
    updateActions();
    run_->start();
}

void FleetWindow::sessionChecked(const fleet::SessionResult& result)
{
    progress_->setValue(run_->done());
    const int index = model_->rowOf(result.customer.number, 0);
    if (index < 0)
        return;
    try {
        if (const std::optional<fleet::BoxState> box = recording_->box(result.customer.number)) {
            FleetRow row = model_->row(index);
            const int card = row.box.card;
            row.box = *box;
            row.box.card = card;
            model_->updateRow(index, row);
        }
    } catch (const fleet::StoreError&) {
        // The run itself tells a store that fails; the row is read again at the end.
    }
    showStatus(QStringLiteral("Controllate %1 di %2.").arg(run_->done()).arg(run_->callable()));
}

void FleetWindow::stopCheck()
{
    if (!run_)
        return;
    showStatus(QStringLiteral("Fermo il controllo: le chiamate in corso si chiudono."));
    stopButton_->setEnabled(false);
    checkStopped_ = true;
    run_->stop();
}

void FleetWindow::checkEnded()
{
    if (!run_)
        return;
    // Stopped by the operator, it is recorded as a run stopped by a signal is.
    fleet::RunEnd end = fleet::RunEnd::Finished;
    if (!run_->failure().isEmpty())
        end = fleet::RunEnd::Failed;
    else if (checkStopped_)
        end = fleet::RunEnd::Interrupted;
    QString text = QStringLiteral("Controllo %1: %2 di %3 centraline controllate.")
                       .arg(end == fleet::RunEnd::Interrupted ? QStringLiteral("fermato") : QStringLiteral("finito"))
                       .arg(run_->done())
                       .arg(run_->callable());
    if (!run_->failure().isEmpty())
        text += QLatin1Char(' ') + run_->failure();
    try {
        recording_->endRun(recordingRun_, end, QDateTime::currentDateTimeUtc());
    } catch (const fleet::StoreError& error) {
        if (!run_->storeFailed())
            text += QLatin1Char(' ') + error.message;
    }
    run_.reset();
    recording_.reset();
    reload();
    showStatus(text);
    updateActions();
    closeIfAsked();
}

} // namespace fleetui
