#include "fleetui/FleetListModel.h"

#include <QBrush>
#include <QColor>

namespace fleetui {

namespace {

// Light enough for black text to stay readable; the "Esito" column says the
// same in words for those who do not tell the colours apart.
QColor stateColour(RowState state)
{
    switch (state) {
    case RowState::Same:
        return QColor(0xd8, 0xf0, 0xd0);
    case RowState::Different:
        return QColor(0xff, 0xdc, 0x9a);
    case RowState::NoSummary:
        return QColor(0xd6, 0xe6, 0xfa);
    case RowState::Unreached:
    case RowState::Refused:
        return QColor(0xf6, 0xb8, 0xb8);
    case RowState::NeverChecked:
        break;
    }
    return QColor(0xe4, 0xe4, 0xe4);
}

// Sorted by outcome, those needing attention come first: a box that cannot
// be reached, then one that differs from its card, and the boxes in order last.
int attentionRank(RowState state)
{
    switch (state) {
    case RowState::Unreached:
        return 0;
    case RowState::Refused:
        return 1;
    case RowState::Different:
        return 2;
    case RowState::NoSummary:
        return 3;
    case RowState::NeverChecked:
        return 4;
    case RowState::Same:
        break;
    }
    return 5;
}

QVariant dateKey(const QDateTime& at)
{
    return at.isValid() ? QVariant(at.toMSecsSinceEpoch()) : QVariant(qint64(0));
}

} // namespace

FleetListModel::FleetListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void FleetListModel::setRows(std::vector<FleetRow> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int FleetListModel::rowOf(const QString& number, int card) const
{
    for (size_t i = 0; i < rows_.size(); ++i) {
        const fleet::BoxState& box = rows_[i].box;
        if (number.isEmpty() ? (box.number.isEmpty() && box.card == card) : box.number == number)
            return int(i);
    }
    return -1;
}

void FleetListModel::updateRow(int index, const FleetRow& row)
{
    rows_[size_t(index)] = row;
    emit dataChanged(this->index(index, 0), this->index(index, ColumnCount - 1));
}

int FleetListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int FleetListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString FleetListModel::shownDate(const QDateTime& utc)
{
    return utc.isValid() ? utc.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")) : QString();
}

QVariant FleetListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return QVariant();
    const FleetRow& row = rows_[size_t(index.row())];
    const fleet::BoxState& box = row.box;
    if (role == StateRole)
        return int(row.state());
    if (role == Qt::BackgroundRole)
        return QBrush(stateColour(row.state()));
    if (role == Qt::TextAlignmentRole)
        return index.column() == CardColumn || index.column() == DifferingColumn
                   ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole && role != SortRole)
        return QVariant();
    const bool sort = role == SortRole;
    switch (index.column()) {
    case CardColumn:
        return box.card;
    case SurnameColumn:
        return box.surname;
    case NameColumn:
        return box.name;
    case NumberColumn:
        return box.number;
    case LastCheckColumn:
        return sort ? dateKey(box.lastAudit) : QVariant(shownDate(box.lastAudit));
    case OutcomeColumn:
        return sort ? QVariant(attentionRank(row.state())) : QVariant(stateWord(row.state()));
    case FailingSinceColumn:
        return sort ? dateKey(box.failingSince) : QVariant(shownDate(box.failingSince));
    case DifferingColumn:
        if (sort)
            return box.differingFields;
        return row.state() == RowState::Different ? QVariant(box.differingFields) : QVariant();
    case NoteColumn:
        return row.cardNote();
    default:
        return QVariant();
    }
}

QVariant FleetListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char* const titles[ColumnCount] = { "Scheda",  "Cognome",      "Nome",          "Numero", "Ultimo controllo",
                                                     "Esito",   "In errore dal", "Campi diversi", "Note" };
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QString();
}

FleetFilter::FleetFilter(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(FleetListModel::SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setSortLocaleAware(true);
}

void FleetFilter::setShow(Show show)
{
    if (show == show_)
        return;
    show_ = show;
    invalidateRowsFilter();
}

void FleetFilter::setSearch(const QString& text)
{
    const QString search = text.trimmed();
    if (search == search_)
        return;
    search_ = search;
    invalidateRowsFilter();
}

bool FleetFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    const auto* model = static_cast<const FleetListModel*>(sourceModel());
    const FleetRow& row = model->row(sourceRow);
    switch (show_) {
    case Show::All:
        break;
    case Show::Different:
        if (row.state() != RowState::Different)
            return false;
        break;
    case Show::Unreached:
        // A box that answered with an error was not reached either: both fail the same way.
        if (row.state() != RowState::Unreached && row.state() != RowState::Refused)
            return false;
        break;
    case Show::NeverChecked:
        if (row.checked())
            return false;
        break;
    }
    if (search_.isEmpty())
        return true;
    return row.box.surname.startsWith(search_, Qt::CaseInsensitive) || row.box.number.contains(search_);
}

} // namespace fleetui
