#include "app/PortCompleter.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStandardItemModel>

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
