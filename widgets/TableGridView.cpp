#include "widgets/TableGridView.h"

#include "device/Windows1252.h"

#include <QHash>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>

namespace {

constexpr int CellSize = 20;
const QColor GridYellow(255, 255, 0);

// What a cell looks like: its text and everything the style paints it by
// that differs from cell to cell.
struct CellLook
{
    QString text;
    int state;
    QSize size;
    int direction;
    qint64 palette;
    QImage::Format format;

    bool operator==(const CellLook& other) const
    {
        return text == other.text && state == other.state && size == other.size && direction == other.direction
            && palette == other.palette && format == other.format;
    }
};

size_t qHash(const CellLook& look, size_t seed = 0)
{
    return qHashMulti(seed, look.text, look.state, look.size.width(), look.size.height(), look.palette);
}

} // namespace

// The style lays out and shapes the text of every cell it paints, every time:
// most of what showing a table costs. A table holds a few dozen different
// texts, so each look of a cell is painted by the style once, into an image
// of the window's own pixel format, and copied from there after. A copy at
// whole pixels onto the same format is what the style would have painted.
class CellImageDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QPaintDevice* target = painter->paintEngine() ? painter->paintEngine()->paintDevice() : nullptr;
        const QTransform at = painter->deviceTransform();
        if (!target || target->devType() != QInternal::Image || at.type() > QTransform::TxTranslate
            || at.dx() != std::floor(at.dx()) || at.dy() != std::floor(at.dy()) || painter->opacity() != 1.0
            || painter->compositionMode() != QPainter::CompositionMode_SourceOver) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const CellLook look{ index.data(Qt::DisplayRole).toString(), int(option.state), option.rect.size(),
                             int(option.direction), option.palette.cacheKey(),
                             static_cast<const QImage*>(target)->format() };
        auto found = images_.constFind(look);
        if (found == images_.constEnd()) {
            // The looks of a table are few; a bound all the same.
            if (images_.size() >= 4096)
                images_.clear();
            found = images_.insert(look, paintLook(*painter, look.format, option, index));
        }
        painter->drawImage(option.rect.topLeft(), *found);
    }

    // After a change of font or style, every look is painted anew.
    void forget() { images_.clear(); }

private:
    QImage paintLook(const QPainter& onto, QImage::Format format, const QStyleOptionViewItem& option,
                     const QModelIndex& index) const
    {
        QImage image(option.rect.size(), format);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setFont(onto.font());
        painter.setPen(onto.pen());
        painter.setBrush(onto.brush());
        painter.setBackground(onto.background());
        painter.setBackgroundMode(onto.backgroundMode());
        painter.setRenderHints(onto.renderHints());
        painter.setLayoutDirection(onto.layoutDirection());
        QStyleOptionViewItem atOrigin = option;
        atOrigin.rect.moveTopLeft(QPoint(0, 0));
        QStyledItemDelegate::paint(&painter, atOrigin, index);
        return image;
    }

    mutable QHash<CellLook, QImage> images_;
};

TableGridModel::TableGridModel(TableGrid& grid, QObject* parent)
    : QAbstractTableModel(parent)
    , watch_(grid, [this](int c0, int r0, int c1, int r1) { gridChanged(c0, r0, c1, r1); })
{
}

int TableGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : TableGrid::RowCount - 1;
}

int TableGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : TableGrid::ColumnCount - 1;
}

QString TableGridModel::displayText(const QString& cell)
{
    // Most cells hold neither and are shown as they are, without a copy.
    const auto mapped = [](QChar c) { return c.unicode() == 0 || (c.unicode() >= 0x80 && c.unicode() <= 0x9F); };
    if (std::none_of(cell.cbegin(), cell.cend(), mapped))
        return cell;
    QString shown = cell;
    shown.remove(QChar(0));
    // A byte 0x80..0x9F, which a card's summary can hold, reads as its
    // Windows-1252 character (the code page of the cards) rather than as an
    // invisible control character; the cell keeps the byte.
    for (QChar& c : shown)
        if (c.unicode() >= 0x80 && c.unicode() <= 0x9F)
            c = QChar(windows1252::toUnicode(std::uint8_t(c.unicode())));
    return shown;
}

QVariant TableGridModel::data(const QModelIndex& index, int role) const
{
    const TableGrid* grid = watch_.grid();
    if (!index.isValid() || !grid)
        return {};
    const int c = index.column() + 1;
    const int r = index.row() + 1;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return displayText(grid->cell(c, r));
    case Qt::BackgroundRole:
        return GridYellow;
    case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant TableGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    const TableGrid* grid = watch_.grid();
    if ((role != Qt::DisplayRole && role != Qt::AccessibleTextRole) || !grid)
        return {};
    if (orientation == Qt::Horizontal)
        return displayText(grid->cell(section + 1, 0));
    return displayText(grid->cell(0, section + 1));
}

Qt::ItemFlags TableGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void TableGridModel::gridChanged(int c0, int r0, int c1, int r1)
{
    if (r0 == 0)
        emit headerDataChanged(Qt::Horizontal, std::max(c0 - 1, 0), std::max(c1 - 1, 0));
    if (c0 == 0)
        emit headerDataChanged(Qt::Vertical, std::max(r0 - 1, 0), std::max(r1 - 1, 0));
    const int top = std::max(r0, 1) - 1;
    const int left = std::max(c0, 1) - 1;
    if (r1 >= 1 && c1 >= 1)
        emit dataChanged(index(top, left), index(r1 - 1, c1 - 1), { Qt::DisplayRole });
}

TableGridView::TableGridView(TableGrid& grid, QWidget* parent)
    : QTableView(parent)
    , model_(new TableGridModel(grid, this))
    , delegate_(new CellImageDelegate(this))
{
    setModel(model_);
    setItemDelegate(delegate_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerItem);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);

    QPalette pal = palette();
    pal.setColor(QPalette::Base, GridYellow);
    setPalette(pal);

    for (QHeaderView* header : { horizontalHeader(), verticalHeader() }) {
        header->setSectionResizeMode(QHeaderView::Fixed);
        header->setMinimumSectionSize(CellSize);
        header->setDefaultSectionSize(CellSize);
        header->setSectionsClickable(false);
        header->setHighlightSections(false);
        header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    horizontalHeader()->setFixedHeight(CellSize);
    setFixedColumnWidth(CellSize);
}

void TableGridView::setFixedColumnWidth(int pixels)
{
    verticalHeader()->setFixedWidth(pixels);
}

int TableGridView::currentColumn() const
{
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.column() + 1 : 1;
}

int TableGridView::currentRow() const
{
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : 1;
}

void TableGridView::setCurrentRow(int row)
{
    if (row < 1 || row >= TableGrid::RowCount)
        return;
    setCurrentIndex(model_->index(row - 1, currentColumn() - 1));
}

void TableGridView::setCurrentColumn(int column)
{
    if (column < 1 || column >= TableGrid::ColumnCount)
        return;
    setCurrentIndex(model_->index(currentRow() - 1, column - 1));
}

void TableGridView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        delegate_->forget();
    QTableView::changeEvent(event);
}

void TableGridView::mouseReleaseEvent(QMouseEvent* event)
{
    QTableView::mouseReleaseEvent(event);
    const QModelIndex i = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && i.isValid() && i == currentIndex())
        emit cellSelected(i.column() + 1, i.row() + 1);
}

void TableGridView::keyPressEvent(QKeyEvent* event)
{
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(event);
    const QModelIndex after = currentIndex();
    if (after.isValid() && after != before)
        emit cellSelected(after.column() + 1, after.row() + 1);
}
