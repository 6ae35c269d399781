#pragma once

#include "device/TableGrid.h"

#include <QWidget>

class QLabel;
class BookHost;
class TableGridView;

// The customer address book window, created hidden at start-up.
class TForm2 : public QWidget
{
    Q_OBJECT

public:
    explicit TForm2(BookHost& host, QWidget* parent = nullptr);

    // "Utente" of the main window: the summary takes the main grid while it is
    // being edited there, then the window comes up with an empty status line.
    void showFromMain();

    // While the window is visible, the main window's receive handler keeps
    // the summary in step with the main grid (data cells only).
    void mirrorSummary(const TableGrid& mainGrid);
    const TableGrid& summary() const { return summary_; }

    // The card's programming summary.
    TableGridView* StringGrid2 = nullptr;
    // Status line at the bottom of the window.
    QLabel* Label9 = nullptr;

private:
    BookHost& host_;
    TableGrid summary_;
};
