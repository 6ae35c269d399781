#include "fleetui/FleetWindow.h"

#include "book/AddressBookError.h"
#include "book/AddressBookFile.h"
#include "device/WritePlan.h"
#include "fleet/AuditCompare.h"
#include "fleet/FleetStore.h"
#include "fleetui/FleetHistory.h"
#include "fleetui/FleetListModel.h"
#include "fleetui/RestoreJob.h"
#include "widgets/Fonts.h"
#include "widgets/Seams.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSysInfo>
#include <QTableView>
#include <QVBoxLayout>

namespace fleetui {

namespace {

QPushButton* makeButton(QWidget* parent, const QString& text, const char* objectName, const QString& accessible)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(objectName));
    button->setAccessibleName(accessible);
    button->setFont(pixelFont(12));
    return button;
}

} // namespace

FleetWindow::FleetWindow(Dialogs& dialogs, FleetSetup setup, Pacer* pacer, QWidget* parent)
    : QWidget(parent)
    , dialogs_(dialogs)
    , pacer_(pacer)
    , setup_(std::move(setup))
{
    buildControls();
    connectControls();
    reload();
}

FleetWindow::~FleetWindow()
{
    // The job hangs up before it ends; its outcome then cannot be shown.
    delete job_;
}

void FleetWindow::buildControls()
{
    setObjectName(QStringLiteral("FleetWindow"));
    setWindowTitle(QStringLiteral("Centraline dei clienti"));
    setFont(pixelFont(12));
    resize(1180, 760);

    auto* top = new QHBoxLayout;
    auto* filterLabel = new QLabel(QStringLiteral("Mostra:"), this);
    filterBox_ = new QComboBox(this);
    filterBox_->setObjectName(QStringLiteral("FleetFilter"));
    filterBox_->setAccessibleName(QStringLiteral("Quali centraline mostrare, per esito"));
    filterBox_->addItems({ QStringLiteral("Tutte"), QStringLiteral("Diverse"), QStringLiteral("Non raggiunte"),
                           QStringLiteral("Mai controllate") });
    filterLabel->setBuddy(filterBox_);
    auto* searchLabel = new QLabel(QStringLiteral("Cerca:"), this);
    searchBox_ = new QLineEdit(this);
    searchBox_->setObjectName(QStringLiteral("FleetSearch"));
    searchBox_->setAccessibleName(QStringLiteral("Cerca per cognome o numero"));
    searchBox_->setPlaceholderText(QStringLiteral("cognome o numero"));
    searchBox_->setMaxLength(40);
    searchBox_->setClearButtonEnabled(true);
    searchLabel->setBuddy(searchBox_);
    top->addWidget(filterLabel);
    top->addWidget(filterBox_);
    top->addSpacing(16);
    top->addWidget(searchLabel);
    top->addWidget(searchBox_, 1);
    top->addSpacing(16);
    checkButton_ = makeButton(this, QStringLiteral("Controlla ora"), "FleetCheckNow",
                              QStringLiteral("Chiama e legge ora le centraline scelte, o tutte se nessuna è scelta"));
    stopButton_ = makeButton(this, QStringLiteral("Ferma"), "FleetStop", QStringLiteral("Ferma il controllo e chiude le chiamate"));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("FleetProgress"));
    progress_->setAccessibleName(QStringLiteral("Avanzamento del controllo"));
    progress_->setFixedWidth(220);
    progress_->setValue(0);
    top->addWidget(checkButton_);
    top->addWidget(stopButton_);
    top->addWidget(progress_);

    model_ = new FleetListModel(this);
    filter_ = new FleetFilter(this);
    filter_->setSourceModel(model_);
    listView_ = new QTableView(this);
    listView_->setObjectName(QStringLiteral("FleetList"));
    listView_->setAccessibleName(QStringLiteral("Centraline dei clienti"));
    listView_->setModel(filter_);
    listView_->setSortingEnabled(true);
    listView_->sortByColumn(FleetListModel::OutcomeColumn, Qt::AscendingOrder);
    listView_->setSelectionBehavior(QAbstractItemView::SelectRows);
    listView_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    listView_->verticalHeader()->hide();
    listView_->verticalHeader()->setDefaultSectionSize(20);
    listView_->horizontalHeader()->setStretchLastSection(true);
    listView_->setWordWrap(false);
    const int widths[FleetListModel::ColumnCount] = { 56, 150, 110, 120, 120, 110, 110, 96, 200 };
    for (int c = 0; c < FleetListModel::ColumnCount; ++c)
        listView_->setColumnWidth(c, widths[c]);

    history_ = new FleetHistory(this);

    auto* actions = new QHBoxLayout;
    restoreButton_ = makeButton(this, QStringLiteral("Ripristina questa versione"), "FleetRestore",
                                QStringLiteral("Riscrive nella centralina la tabella scelta"));
    saveToCardButton_ = makeButton(this, QStringLiteral("Salva nella scheda"), "FleetSaveToCard",
                                   QStringLiteral("Salva la tabella scelta come riepilogo della scheda"));
    actions->addWidget(restoreButton_);
    actions->addWidget(saveToCardButton_);
    actions->addStretch(1);

    auto* bottom = new QHBoxLayout;
    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("FleetStatus"));
    statusLine_->setAccessibleName(QStringLiteral("Riga di stato"));
    statusLine_->setFrameShape(QFrame::Panel);
    statusLine_->setFrameShadow(QFrame::Sunken);
    statusLine_->setWordWrap(true);
    statusLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    retryButton_ = makeButton(this, QStringLiteral("Riprova"), "FleetRetry",
                              QStringLiteral("Legge di nuovo l'archivio dei controlli e la rubrica"));
    bottom->addWidget(statusLine_, 1);
    bottom->addWidget(retryButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(listView_, 1);
    layout->addWidget(history_);
    layout->addLayout(actions);
    layout->addLayout(bottom);
    for (QLabel* label : { filterLabel, searchLabel })
        label->setFont(pixelFont(12));
}

void FleetWindow::connectControls()
{
    connect(filterBox_, &QComboBox::currentIndexChanged, this,
            [this](int index) { filter_->setShow(FleetFilter::Show(std::max(0, index))); });
    connect(searchBox_, &QLineEdit::textChanged, filter_, &FleetFilter::setSearch);
    connect(listView_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { rowChosen(); });
    connect(history_, &FleetHistory::versionChosen, this, [this] { updateActions(); });
    connect(restoreButton_, &QPushButton::clicked, this, [this] { restoreVersion(); });
    connect(saveToCardButton_, &QPushButton::clicked, this, [this] { saveVersionToCard(); });
    connect(retryButton_, &QPushButton::clicked, this, [this] { reload(); });
    connect(checkButton_, &QPushButton::clicked, this, [this] { checkNow(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { stopCheck(); });
}

void FleetWindow::showStatus(const QString& text, bool offerRetry)
{
    statusLine_->setText(text);
    retryButton_->setVisible(offerRetry);
}

void FleetWindow::reload()
{
    const int chosen = chosenRow();
    const QString number = chosen >= 0 ? model_->row(chosen).box.number : QString();
    const int card = chosen >= 0 ? model_->row(chosen).box.card : 0;

    QStringList problems;
    if (!setup_.problem.isEmpty())
        problems << setup_.problem;
    std::vector<fleet::BoxState> boxes;
    store_.reset();
    try {
        store_ = fleet::openStore(setup_.store, fleet::OpenMode::Read);
        boxes = store_->boxes();
    } catch (const fleet::StoreError& error) {
        store_.reset();
        problems << error.message;
    }
    QString bookProblem;
    const std::optional<std::vector<BookEntry>> book = readBookEntries(setup_.book, bookProblem);
    if (!book)
        problems << bookProblem;
    model_->setRows(fleetRows(boxes, book));

    int controlled = 0;
    for (const fleet::BoxState& box : boxes)
        controlled += box.lastOutcome ? 1 : 0;
    if (problems.isEmpty())
        showStatus(QStringLiteral("%1 centraline controllate, %2 righe in tutto.").arg(controlled).arg(model_->rowCount()));
    else
        showStatus(problems.join(QLatin1Char(' ')), true);

    const int again = number.isEmpty() && card == 0 ? -1 : model_->rowOf(number, card);
    if (again >= 0)
        listView_->setCurrentIndex(filter_->mapFromSource(model_->index(again, 0)));
    else
        rowChosen();
}

int FleetWindow::chosenRow() const
{
    const QModelIndex current = listView_->currentIndex();
    return current.isValid() ? filter_->mapToSource(current).row() : -1;
}

std::optional<CustomerCard> FleetWindow::readCard(int card, QString* problem) const
{
    if (card <= 0)
        return std::nullopt;
    try {
        AddressBookFile file;
        file.open(setup_.book, AddressBookFile::Access::ReadOnly);
        if (card > file.cardCount()) {
            if (problem)
                *problem = QStringLiteral("La scheda %1 non è più nella rubrica.").arg(card);
            return std::nullopt;
        }
        CustomerCard read;
        file.seek(card - 1);
        file.readCard(read);
        return read;
    } catch (const AddressBookError& error) {
        if (problem)
            *problem = error.message();
        return std::nullopt;
    }
}

void FleetWindow::rowChosen()
{
    const int chosen = chosenRow();
    if (chosen < 0 || !store_) {
        history_->clear();
        updateActions();
        return;
    }
    const FleetRow& row = model_->row(chosen);
    try {
        history_->showBox(*store_, row.box.number, readCard(row.bookCard));
    } catch (const fleet::StoreError& error) {
        history_->clear();
        showStatus(error.message, true);
    }
    updateActions();
}

void FleetWindow::updateActions()
{
    const bool chosen = history_->version() != nullptr && chosenRow() >= 0;
    const bool idle = !job_ && !run_;
    restoreButton_->setEnabled(chosen && idle);
    saveToCardButton_->setEnabled(chosen && idle);
    retryButton_->setEnabled(idle);
    checkButton_->setEnabled(idle);
    stopButton_->setEnabled(run_ != nullptr);
}

QString FleetWindow::versionProblem() const
{
    const int chosen = chosenRow();
    if (chosen < 0 || !history_->version())
        return QStringLiteral("Scegliere prima una centralina e una delle sue tabelle.");
    const FleetRow& row = model_->row(chosen);
    const QString cardProblem = row.cardProblem();
    if (!cardProblem.isEmpty())
        return cardProblem;
    // The book may have changed since the list was read.
    QString problem;
    const std::optional<CustomerCard> card = readCard(row.bookCard, &problem);
    if (!card)
        return problem;
    if (card->text(CustomerCard::Field::Numero) != row.box.number)
        return QStringLiteral("La scheda %1 ora chiama il %2, non il %3.")
            .arg(row.bookCard)
            .arg(card->text(CustomerCard::Field::Numero), row.box.number);
    return QString();
}

void FleetWindow::restoreVersion()
{
    if (job_ || run_)
        return;
    if (const QString problem = versionProblem(); !problem.isEmpty()) {
        dialogs_.error(this, problem + QStringLiteral("\nIl ripristino non si può fare."));
        return;
    }
    const FleetRow row = model_->row(chosenRow());
    const fleet::Version version = *history_->version();
    if (setup_.ports.isEmpty()) {
        dialogs_.error(this, missingPortsMessage());
        return;
    }
    // Judged before anything is dialled: a table read from a damaged box
    // must not cost a call.
    const writeplan::Plan plan = writeplan::plan(history_->versionGrid(), writeplan::EditorState{ 1, QString(), QString() });
    if (const std::optional<writeplan::Result> refused = writeplan::refusal(plan)) {
        dialogs_.error(this, QStringLiteral("Questa tabella non si può scrivere nella centralina:\n") + refused->message);
        return;
    }
    const QString date = FleetListModel::shownDate(version.firstSeen);
    const QString who = QStringLiteral("%1 %2").arg(row.box.surname, row.box.name).trimmed();
    if (!dialogs_.cautiousQuestion(this, QStringLiteral("Ripristinare nella centralina di %1 (numero %2) la tabella vista dal %3?\n"
                                                "La tabella sarà scritta con \"Scrivi Dati\" sulla porta %4, poi riletta e confrontata.")
                                     .arg(who, row.box.number, date, setup_.ports.first())))
        return;

    // The outcome must be recorded: a store that cannot take it stops the
    // restore before the call.
    try {
        recording_ = fleet::openStore(setup_.store, fleet::OpenMode::Write);
        recordingRun_ = recording_->startRun({ setup_.ports.first() },
                                             { { row.bookCard, row.box.surname, row.box.name, row.box.number } },
                                             QDateTime::currentDateTimeUtc());
    } catch (const fleet::StoreError& error) {
        recording_.reset();
        dialogs_.error(this, error.message + QStringLiteral("\nIl ripristino non è partito."));
        return;
    }
    restoring_ = row;
    restoredVersion_ = date;
    RestoreRequest request;
    request.port = setup_.ports.first();
    request.prefix = setup_.prefix;
    request.surname = row.box.surname;
    request.number = row.box.number;
    request.table = history_->versionGrid();
    request.pacer = pacer_;
    request.silenceMs = setup_.silenceMs;
    job_ = new RestoreJob(std::move(request));
    connect(job_, &RestoreJob::status, this, [this](const QString& text) { showStatus(text); });
    connect(job_, &QThread::finished, this, [this] { restoreEnded(); });
    showStatus(QStringLiteral("Ripristino in corso: %1").arg(who));
    updateActions();
    job_->start();
}

void FleetWindow::restoreEnded()
{
    const RestoreResult result = job_->result();
    job_->deleteLater();
    job_ = nullptr;

    const FleetRow& row = restoring_;
    fleet::SessionResult session;
    session.customer = { row.bookCard, row.box.surname, row.box.name, row.box.number };
    session.port = setup_.ports.first();
    session.host = QSysInfo::machineHostName();
    session.started = result.started;
    session.ended = result.ended;
    if (result.readBackDone()) {
        session.table = fleet::versionBytes(result.readBackGrid);
        session.clockText = result.readBack.clockText;
        session.deviceText = result.readBack.deviceText;
        // Judged as the audit judges a read: the box against its card.
        const fleet::Judgement judged = fleet::judge(readCard(row.bookCard).value_or(CustomerCard()), result.readBackGrid);
        session.outcome = judged.outcome;
        session.differences = judged.differences;
    } else {
        session.outcome = result.step == RestoreResult::Step::ErrorReply ? fleet::Outcome::Refused : fleet::Outcome::Unreached;
        session.detail = QStringLiteral("ripristino della tabella del %1: %2").arg(restoredVersion_, result.message);
    }
    QString recorded;
    try {
        if (result.step != RestoreResult::Step::NotDialled)
            recording_->recordSession(recordingRun_, session);
        recording_->endRun(recordingRun_, fleet::RunEnd::Finished, QDateTime::currentDateTimeUtc());
    } catch (const fleet::StoreError& error) {
        recorded = QStringLiteral("\nL'esito non si è potuto registrare: ") + error.message;
    }
    recording_.reset();

    // The row and its history read again first, so the outcome stays in the status line.
    refreshBox(row.box.number);
    const QString text = result.message + recorded;
    showStatus(text);
    if (result.step == RestoreResult::Step::Verified && recorded.isEmpty())
        dialogs_.information(this, text);
    else
        dialogs_.error(this, result.mismatches.isEmpty() ? text : text + QLatin1Char('\n') + result.mismatches.mid(0, 10).join(QLatin1Char('\n')));
    updateActions();
    closeIfAsked();
}

void FleetWindow::refreshBox(const QString& number)
{
    reload();
    const int index = model_->rowOf(number, 0);
    if (index >= 0)
        listView_->setCurrentIndex(filter_->mapFromSource(model_->index(index, 0)));
}

void FleetWindow::saveVersionToCard()
{
    if (job_ || run_)
        return;
    if (const QString problem = versionProblem(); !problem.isEmpty()) {
        dialogs_.error(this, problem + QStringLiteral("\nLa scheda non è stata cambiata."));
        return;
    }
    const FleetRow row = model_->row(chosenRow());
    const QString date = FleetListModel::shownDate(history_->version()->firstSeen);
    if (!dialogs_.cautiousQuestion(this, QStringLiteral("Salvare la tabella vista dal %1 come riepilogo della scheda %2 (%3)?")
                                     .arg(date)
                                     .arg(row.bookCard)
                                     .arg(row.box.surname)))
        return;
    // Saving never makes a new book: the card must be there already.
    if (!QFileInfo::exists(setup_.book)) {
        dialogs_.error(this, QStringLiteral("Impossibile aprire la rubrica \"%1\": il file non esiste.").arg(setup_.book));
        return;
    }
    try {
        AddressBookFile file;
        file.open(setup_.book, AddressBookFile::Access::Write);
        const QStringList notices = file.takeNotices();
        if (file.isReadOnly()) {
            dialogs_.error(this, notices.isEmpty()
                                     ? QStringLiteral("La rubrica \"%1\" si può solo leggere: la scheda non si può salvare.").arg(setup_.book)
                                     : notices.join(QLatin1Char('\n')));
            return;
        }
        CustomerCard card;
        file.seek(row.bookCard - 1);
        file.readCard(card);
        card.takeSummaryFrom(history_->versionGrid());
        file.seek(row.bookCard - 1);
        file.writeCard(card);
        history_->setCard(card);
        const QStringList after = notices + file.takeNotices();
        showStatus(QStringLiteral("Riepilogo della scheda %1 salvato.").arg(row.bookCard)
                   + (after.isEmpty() ? QString() : QLatin1Char(' ') + after.join(QLatin1Char(' '))));
    } catch (const AddressBookError& error) {
        dialogs_.error(this, error.message());
    }
}

void FleetWindow::closeEvent(QCloseEvent* event)
{
    // Every call is hung up and its outcome recorded before the window goes:
    // a check is stopped, a restore (one call) is let finish.
    if (job_ || run_) {
        closeAsked_ = true;
        if (run_)
            stopCheck();
        showStatus(QStringLiteral("Attendere: la finestra si chiude appena la chiamata in corso è chiusa."));
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void FleetWindow::closeIfAsked()
{
    if (closeAsked_ && !job_ && !run_)
        close();
}

} // namespace fleetui
