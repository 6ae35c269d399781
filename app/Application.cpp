#include "app/Application.h"

#include "device/Seams.h"
#include "serial/CommInt.h"
#include "serial/HandlerGuard.h"

#include <QKeyEvent>
#include <QMenu>

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setEscapedReporter([this](std::exception_ptr error) { reportEscapedError(error); });
}

TApplication::~TApplication()
{
    setEscapedReporter(nullptr);
    delete viewer_;
}

void TApplication::setHelpFile(const QString& name)
{
    help_.load(findHelpFile(name));
}

void TApplication::showHelp(int context)
{
    if (!viewer_)
        viewer_ = new HelpViewer(help_);
    viewer_->showTopic(context);
    viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
}

void TApplication::reportSerialError(const QString& message)
{
    const QString text = QStringLiteral("Serial error: ") + message;
    if (dialogs_)
        dialogs_->information(activeWindow(), text);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // A key reaches the top-level window first and is then passed on to the
    // widget with the focus: the help topic is that widget's.
    if (event->type() == QEvent::KeyPress && receiver->isWidgetType()
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        const QObject* subject = receiver;
        if (auto* menu = qobject_cast<QMenu*>(receiver); menu && menu->activeAction())
            subject = menu->activeAction();
        showHelp(helpContextFor(subject));
        return true;
    }
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportEscaped();
    }
    return false;
}

void TApplication::reportEscapedError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ECommError& e) {
        reportSerialError(e.Message());
    } catch (...) {
        // Any other failure ends only the handler that raised it.
    }
}
