#pragma once

#include "book/CustomerCard.h"
#include "device/TableGrid.h"
#include "fleet/FleetStore.h"

#include <QSet>
#include <QStyledItemDelegate>
#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class QListWidget;
class QTableWidget;
class TableGridView;

namespace fleetui {

// Cells of the version's grid painted apart: those of the fields that read
// differently on the card.
class MarkedCells : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // Cells by grid column and row.
    void setMarked(QSet<QPoint> cells) { cells_ = std::move(cells); }
    bool isMarked(int column, int row) const { return cells_.contains(QPoint(column, row)); }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    QSet<QPoint> cells_;
};

// One box's history: its sessions and the tables it was seen holding, and
// the chosen table in a grid laid out as the main window's, read only, with
// what differs from the card's summary marked and listed as `diff` words it.
class FleetHistory : public QWidget
{
    Q_OBJECT

public:
    explicit FleetHistory(QWidget* parent = nullptr);

    // The box's sessions and versions, newest first, the newest version
    // chosen. `card` is the card that dials the box today (none when no card
    // does). Throws fleet::StoreError.
    void showBox(fleet::FleetStore& store, const QString& number, const std::optional<CustomerCard>& card);
    // The card's summary changed ("Salva nella scheda"): the marks again.
    void setCard(const std::optional<CustomerCard>& card);
    void clear();

    // The version chosen, if any, and its table.
    const fleet::Version* version() const;
    const TableGrid& versionGrid() const { return grid_; }

signals:
    void versionChosen();

private:
    void buildControls();
    void chooseVersion(int row);
    void sessionChosen(int row);
    void compareWithCard();

    QTableWidget* sessionsView_ = nullptr;
    QTableWidget* versionsView_ = nullptr;
    QLabel* versionTitle_ = nullptr;
    TableGridView* gridView_ = nullptr;
    MarkedCells* marks_ = nullptr;
    QListWidget* differencesList_ = nullptr;

    std::vector<fleet::HistoryEntry> sessions_; // newest first
    std::vector<fleet::Version> versions_;      // newest first
    int chosen_ = -1;
    std::optional<CustomerCard> card_;
    TableGrid grid_;
};

// A stored table in a grid as the main window shows a table: its data cells
// from the table file's bytes (every cell "-" for none, as the main window
// starts), its row numbers and its model's column titles.
void showTableBytes(const QByteArray& bytes, TableGrid& grid);

} // namespace fleetui
