#include "fleetui/FleetHistory.h"

#include "device/Codec.h"
#include "fleet/AuditCompare.h"
#include "fleetui/FleetListModel.h"
#include "tables/TableFile.h"
#include "tool/TableDiff.h"
#include "widgets/Fonts.h"
#include "widgets/TableGridView.h"

#include <QBuffer>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>

#include <algorithm>

namespace fleetui {

namespace {

// A field that differs from the card: strong enough to stand out on the grid's yellow.
const QColor MarkedColour(0xf0, 0x80, 0x60);

QTableWidget* makeList(QWidget* parent, const char* objectName, const QString& accessible, const QStringList& titles)
{
    auto* view = new QTableWidget(0, int(titles.size()), parent);
    view->setObjectName(QLatin1String(objectName));
    view->setAccessibleName(accessible);
    view->setHorizontalHeaderLabels(titles);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(20);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setFont(pixelFont(12));
    return view;
}

void setRow(QTableWidget* view, int row, const QStringList& texts)
{
    for (int c = 0; c < texts.size(); ++c)
        view->setItem(row, c, new QTableWidgetItem(texts[c]));
}

} // namespace

void MarkedCells::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (isMarked(index.column() + 1, index.row() + 1)) {
        option->backgroundBrush = MarkedColour;
        option->font.setBold(true);
    }
}

void showTableBytes(const QByteArray& bytes, TableGrid& grid)
{
    TableGrid read;
    read.fillData(QStringLiteral("-"));
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    if (!bytes.isEmpty())
        editor::readTableLines(buffer, read);
    for (int r = 2; r < TableGrid::RowCount; ++r)
        read.setCell(0, r, QString::number(r - 1));
    const codec::Model model = codec::modelOf(read);
    codec::writeColumnLabels(read, model == codec::Model::None ? codec::Model::Kolvar22 : model);
    grid = read;
}

FleetHistory::FleetHistory(QWidget* parent)
    : QWidget(parent)
{
    showTableBytes(QByteArray(), grid_);
    buildControls();
}

void FleetHistory::buildControls()
{
    setObjectName(QStringLiteral("FleetHistory"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* sessionsTitle = new QLabel(QStringLiteral("Controlli della centralina:"), this);
    sessionsView_ = makeList(this, "FleetSessions", QStringLiteral("Controlli della centralina scelta"),
                             { QStringLiteral("Data"), QStringLiteral("Esito"), QStringLiteral("Porta"), QStringLiteral("Dettaglio") });
    auto* versionsTitle = new QLabel(QStringLiteral("Tabelle viste nella centralina:"), this);
    versionsView_ = makeList(this, "FleetVersions", QStringLiteral("Tabelle viste nella centralina scelta"),
                             { QStringLiteral("Vista dal"), QStringLiteral("Vista fino al"), QStringLiteral("Volte") });

    versionTitle_ = new QLabel(this);
    versionTitle_->setObjectName(QStringLiteral("FleetVersionTitle"));
    gridView_ = new TableGridView(grid_, this);
    gridView_->setObjectName(QStringLiteral("FleetVersionGrid"));
    gridView_->setAccessibleName(QStringLiteral("Tabella della versione scelta, in sola lettura"));
    gridView_->setFixedColumnWidth(30);
    gridView_->setFixedSize(597, 321);
    marks_ = new MarkedCells(gridView_);
    gridView_->setItemDelegate(marks_);

    auto* differencesTitle = new QLabel(QStringLiteral("Differenze dalla scheda:"), this);
    differencesList_ = new QListWidget(this);
    differencesList_->setObjectName(QStringLiteral("FleetDifferences"));
    differencesList_->setAccessibleName(QStringLiteral("Campi della versione scelta diversi dal riepilogo della scheda"));
    differencesList_->setFont(pixelFont(12));

    for (QLabel* label : { sessionsTitle, versionsTitle, versionTitle_, differencesTitle })
        label->setFont(pixelFont(12));
    layout->addWidget(sessionsTitle, 0, 0);
    layout->addWidget(sessionsView_, 1, 0);
    layout->addWidget(versionsTitle, 2, 0);
    layout->addWidget(versionsView_, 3, 0);
    layout->addWidget(versionTitle_, 0, 1);
    layout->addWidget(gridView_, 1, 1, 3, 1);
    layout->addWidget(differencesTitle, 0, 2);
    layout->addWidget(differencesList_, 1, 2, 3, 1);
    layout->setColumnStretch(0, 3);
    layout->setColumnStretch(2, 2);

    connect(versionsView_, &QTableWidget::currentCellChanged, this, [this](int row) { chooseVersion(row); });
    connect(sessionsView_, &QTableWidget::currentCellChanged, this, [this](int row) { sessionChosen(row); });
}

void FleetHistory::clear()
{
    sessions_.clear();
    versions_.clear();
    card_.reset();
    sessionsView_->setRowCount(0);
    versionsView_->setRowCount(0);
    chooseVersion(-1);
}

void FleetHistory::showBox(fleet::FleetStore& store, const QString& number, const std::optional<CustomerCard>& card)
{
    clear();
    card_ = card;
    if (number.isEmpty())
        return;
    sessions_ = store.history(number);
    versions_ = store.versions(number);
    std::reverse(sessions_.begin(), sessions_.end());
    std::reverse(versions_.begin(), versions_.end());

    QSignalBlocker quietSessions(sessionsView_);
    QSignalBlocker quietVersions(versionsView_);
    sessionsView_->setRowCount(int(sessions_.size()));
    for (size_t i = 0; i < sessions_.size(); ++i) {
        const fleet::HistoryEntry& s = sessions_[i];
        setRow(sessionsView_, int(i),
               { FleetListModel::shownDate(s.ended), fleet::outcomeWord(s.outcome), s.port, s.detail });
    }
    versionsView_->setRowCount(int(versions_.size()));
    for (size_t i = 0; i < versions_.size(); ++i) {
        const fleet::Version& v = versions_[i];
        setRow(versionsView_, int(i),
               { FleetListModel::shownDate(v.firstSeen), FleetListModel::shownDate(v.lastSeen), QString::number(v.timesSeen) });
    }
    sessionsView_->resizeColumnsToContents();
    versionsView_->resizeColumnsToContents();
    quietVersions.unblock();
    // The table the box held at its last good read is the one shown first:
    // after a restore that is an older one than the newest seen.
    int shown = versions_.empty() ? -1 : 0;
    const auto lastRead = std::find_if(sessions_.begin(), sessions_.end(), [](const fleet::HistoryEntry& s) { return s.versionId != 0; });
    for (size_t i = 0; lastRead != sessions_.end() && i < versions_.size(); ++i)
        if (versions_[i].id == lastRead->versionId)
            shown = int(i);
    if (shown >= 0)
        versionsView_->setCurrentCell(shown, 0);
}

void FleetHistory::setCard(const std::optional<CustomerCard>& card)
{
    card_ = card;
    compareWithCard();
}

const fleet::Version* FleetHistory::version() const
{
    return chosen_ >= 0 ? &versions_[size_t(chosen_)] : nullptr;
}

void FleetHistory::sessionChosen(int row)
{
    if (row < 0 || row >= int(sessions_.size()) || sessions_[size_t(row)].versionId == 0)
        return;
    for (size_t i = 0; i < versions_.size(); ++i)
        if (versions_[i].id == sessions_[size_t(row)].versionId)
            versionsView_->setCurrentCell(int(i), 0);
}

void FleetHistory::chooseVersion(int row)
{
    chosen_ = row >= 0 && row < int(versions_.size()) ? row : -1;
    if (chosen_ < 0) {
        showTableBytes(QByteArray(), grid_);
        versionTitle_->setText(QStringLiteral("Nessuna tabella scelta"));
    } else {
        const fleet::Version& v = versions_[size_t(chosen_)];
        showTableBytes(v.table, grid_);
        versionTitle_->setText(QStringLiteral("Tabella vista dal %1").arg(FleetListModel::shownDate(v.firstSeen)));
    }
    compareWithCard();
    emit versionChosen();
}

void FleetHistory::compareWithCard()
{
    differencesList_->clear();
    QSet<QPoint> marked;
    if (chosen_ >= 0) {
        if (!card_) {
            differencesList_->addItem(QStringLiteral("Nessuna scheda chiama questa centralina."));
        } else if (fleet::holdsNoTable(*card_)) {
            differencesList_->addItem(QStringLiteral("La scheda non ha ancora un riepilogo."));
        } else {
            TableGrid cardGrid;
            card_->showSummaryIn(cardGrid);
            const std::vector<tool::Difference> found = tool::differences(cardGrid, grid_);
            QSet<std::pair<int, int>> fields;
            for (const tool::Difference& d : found) {
                differencesList_->addItem(tool::differenceLine(d));
                fields.insert({ d.association, int(d.field) });
            }
            if (found.empty())
                differencesList_->addItem(QStringLiteral("Uguale al riepilogo della scheda."));
            for (int r = 1; r < TableGrid::RowCount && !fields.isEmpty(); ++r)
                for (int c = 1; c < TableGrid::ColumnCount; ++c) {
                    const tool::FieldAt at = tool::fieldAt(grid_, c, r);
                    if (fields.contains({ at.association, int(at.field) }))
                        marked.insert(QPoint(c, r));
                }
        }
    }
    marks_->setMarked(std::move(marked));
    gridView_->viewport()->update();
}

} // namespace fleetui
