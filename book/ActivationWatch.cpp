#include "book/ActivationWatch.h"

#include <QApplication>
#include <QEvent>

ActivationWatch::ActivationWatch(QObject* parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

bool ActivationWatch::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow()) {
            previous_ = current_;
            current_ = w;
        }
    }
    return false;
}
