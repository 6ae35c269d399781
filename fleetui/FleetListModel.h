#pragma once

#include "fleetui/FleetRows.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <vector>

namespace fleetui {

// The fleet's rows as a table: one row per box, the columns the operator
// sorts by. Qt::DisplayRole is what the cell shows, SortRole what it sorts
// by (dates as dates, counts as numbers), Qt::BackgroundRole the state's colour.
class FleetListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { CardColumn, SurnameColumn, NameColumn, NumberColumn, LastCheckColumn, OutcomeColumn,
                  FailingSinceColumn, DifferingColumn, NoteColumn, ColumnCount };
    static constexpr int SortRole = Qt::UserRole;
    static constexpr int StateRole = Qt::UserRole + 1;

    explicit FleetListModel(QObject* parent = nullptr);

    void setRows(std::vector<FleetRow> rows);
    const FleetRow& row(int index) const { return rows_[size_t(index)]; }
    // The model row of the box with this number, or of the card when the
    // number is empty; -1 when none.
    int rowOf(const QString& number, int card) const;
    // One box's row after a session with it (a restore, a check from the window).
    void updateRow(int index, const FleetRow& row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Local date and time as the window shows it; empty for a null date.
    static QString shownDate(const QDateTime& utc);

private:
    std::vector<FleetRow> rows_;
};

// The outcome filter and the search over the list, and its sorting.
class FleetFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    // In the order of the filter's box: "Tutte", "Diverse", "Non raggiunte", "Mai controllate".
    enum class Show { All, Different, Unreached, NeverChecked };

    explicit FleetFilter(QObject* parent = nullptr);

    void setShow(Show show);
    // A surname that starts so (any case) or a number that holds these digits.
    void setSearch(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    Show show_ = Show::All;
    QString search_;
};

} // namespace fleetui
