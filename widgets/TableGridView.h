#pragma once

#include "device/TableGrid.h"

#include <QAbstractTableModel>
#include <QTableView>

class CellImageDelegate;

// The data cells of a TableGrid as a Qt table: model row r - 1 is grid row r,
// model column c - 1 is grid column c. Row 0 and column 0 of the grid, the
// fixed cells, are the view's header sections so they stay in place while
// the table scrolls.
//
// The model watches its grid (see TableGrid): the grid may go before the
// model or after it. Once the grid is gone every cell reads empty.
class TableGridModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit TableGridModel(TableGrid& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // What a cell shows: its text with the code 0 left out.
    static QString displayText(const QString& cell);

private:
    void gridChanged(int c0, int r0, int c1, int r1);

    TableGrid::Watch watch_;
};

// A string grid: 20 x 20 cells (column 0 30 pixels wide), yellow, grid lines,
// no editing, one cell selected at a time. It shows a grid it does not own;
// either may be destroyed first.
class TableGridView : public QTableView
{
    Q_OBJECT

public:
    explicit TableGridView(TableGrid& grid, QWidget* parent = nullptr);

    TableGridModel* gridModel() const { return model_; }

    // Current cell in grid coordinates (column >= 1, row >= 1).
    int currentColumn() const;
    int currentRow() const;
    void setCurrentRow(int row);
    void setCurrentColumn(int column);
    // Column 0 width.
    void setFixedColumnWidth(int pixels);

signals:
    // The operator selected a cell, by mouse (also the cell already selected)
    // or by moving the selection with the keyboard. Grid coordinates.
    void cellSelected(int column, int row);

protected:
    void changeEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TableGridModel* model_;
    // Paints each look of a cell once (see TableGridView.cpp).
    CellImageDelegate* delegate_;
};
