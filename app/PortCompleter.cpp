#include "app/PortCompleter.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QScrollBar>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStandardItemModel>

#include <algorithm>

namespace {

// The popup shows name and description; completing and matching use the name alone.
constexpr int NameRole = Qt::UserRole + 1;

} // namespace

PortCompleter::PortCompleter(QLineEdit& box, const PortRoots& roots)
    : QCompleter(&box)
    , box_(box)
    , roots_(roots)
    , ports_(new QStandardItemModel(this))
{
    setObjectName(QStringLiteral("PortCompleter"));
    setModel(ports_);
    setCompletionRole(NameRole);
    setCaseSensitivity(Qt::CaseInsensitive);
    setFilterMode(Qt::MatchContains);
    setCompletionMode(QCompleter::PopupCompletion);
    setMaxVisibleItems(10);
    refresh();
    box_.setCompleter(this);
    box_.installEventFilter(this);
}

void PortCompleter::refresh()
{
    const QList<PortOffer> offers = listSerialPorts(roots_);
    ports_->clear();
    for (const PortOffer& offer : offers) {
        auto* item = new QStandardItem(offer.description.isEmpty()
                                           ? offer.name
                                           : offer.name + QStringLiteral("   ") + offer.description);
        item->setData(offer.name, NameRole);
        item->setToolTip(offer.description);
        item->setEditable(false);
        ports_->appendRow(item);
    }
    // The box is narrow; the list is as wide as its longest line needs (within reason), so the
    // adapter's maker and product can be read.
    QAbstractItemView* list = popup();
    const QFontMetrics metrics(list->font());
    int widest = 0;
    for (int row = 0; row < ports_->rowCount(); ++row)
        widest = std::max(widest, metrics.horizontalAdvance(ports_->item(row)->text()));
    const int frame = 2 * list->frameWidth() + list->verticalScrollBar()->sizeHint().width() + 16;
    list->setMinimumWidth(std::min(widest + frame, 640));
}

bool PortCompleter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &box_) {
        if (event->type() == QEvent::FocusIn) {
            refresh();
        } else if (event->type() == QEvent::KeyPress && !popup()->isVisible()) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier) {
                refresh();
                // Every port on Down, whatever the box holds: its text is often a name that
                // does not exist here.
                setCompletionPrefix(QString());
                complete();
                return true;
            }
        }
    }
    return QCompleter::eventFilter(watched, event);
}
