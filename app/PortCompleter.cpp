#include "app/PortCompleter.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QWindow>

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
    // A click outside the open list closes it and goes on to the control under the pointer
    // (passOnPress); the toolkit must not hand it on a second time.
    popup()->setAttribute(Qt::WA_NoMouseReplay);
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
    // The type first: popup() makes the list on its first call, which sends events here.
    if (event->type() == QEvent::MouseButtonPress && watched == popup()) {
        const auto* press = static_cast<QMouseEvent*>(event);
        if (!popup()->rect().contains(popup()->mapFromGlobal(press->globalPosition().toPoint()))) {
            popup()->hide();
            passOnPress(*press);
            return true;
        }
    }
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

void PortCompleter::passOnPress(const QMouseEvent& press)
{
    // The list opens as the operator types a port, and the next thing they do is click a
    // button: that click must do what it says the first time, as if no list had been open.
    // The press is handed to the window under the pointer now, while the list is closed, so
    // the release that follows finds the button pressed.
    QWidget* window = box_.window();
    QWindow* handle = window->windowHandle();
    const QPoint global = press.globalPosition().toPoint();
    if (!handle || !window->isVisible() || !window->rect().contains(window->mapFromGlobal(global)))
        return;
    const QPointF local = handle->mapFromGlobal(press.globalPosition());
    QMouseEvent again(QEvent::MouseButtonPress, local, local, press.globalPosition(), press.button(), press.buttons(),
                      press.modifiers(), press.pointingDevice());
    QCoreApplication::sendEvent(handle, &again);
}
