#include "app/Application.h"

#include "widgets/Seams.h"
#include "serial/CommInt.h"
#include "serial/HandlerGuard.h"
#include "serial/PortList.h"

#include <QDir>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QMenu>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>

#include <cerrno>
#include <csignal>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The signal handler's end of the pair writes, the event loop's end reads.
int sessionEndPipe[2] = { -1, -1 };

void sessionEndSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(sessionEndPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

SessionEnd::SessionEnd(std::function<void()> end, QObject* parent)
    : QObject(parent)
    , end_(std::move(end))
{
    if (sessionEndPipe[0] < 0
        && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sessionEndPipe) != 0)
        return;
    notifier_ = new QSocketNotifier(sessionEndPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(sessionEndPipe[0], bytes, sizeof bytes) > 0) {
        }
        if (end_)
            std::exchange(end_, nullptr)();
    });
    struct sigaction action = {};
    action.sa_handler = sessionEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGTERM, SIGHUP, SIGINT })
        ::sigaction(signal, &action, nullptr);
}

SessionEnd::~SessionEnd()
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : { SIGTERM, SIGHUP, SIGINT })
        ::sigaction(signal, &action, nullptr);
}

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setEscapedReporter([this](std::exception_ptr error) { reportEscapedError(error); });
    // No display name: the toolkit would append it to every window title,
    // and the captions are the operator's names for the windows.
    setApplicationName(QStringLiteral("pradix"));
    auto* toolkit = new QTranslator(this);
    if (toolkit->load(QStringLiteral("qtbase_it"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(toolkit);
}

TApplication::~TApplication()
{
    setEscapedReporter(nullptr);
    delete viewer_;
}

void TApplication::setMainWindow(QWidget* window)
{
    if (mainWindow_)
        mainWindow_->removeEventFilter(this);
    mainWindow_ = window;
    setQuitOnLastWindowClosed(window == nullptr);
    delete std::exchange(sessionEnd_, nullptr);
    if (!window)
        return;
    window->installEventFilter(this);
    const auto closeMainWindow = [this] {
        if (mainWindow_)
            mainWindow_->close();
    };
    sessionEnd_ = new SessionEnd(closeMainWindow, this);
    // A logout asks before it ends the program: the line is put down then.
    connect(this, &QGuiApplication::commitDataRequest, sessionEnd_, closeMainWindow);
}

bool TApplication::eventFilter(QObject* watched, QEvent* event)
{
    // The close is decided by the window's own handler, which runs after this
    // filter: look once it has run whether the window went.
    if (watched == mainWindow_ && event->type() == QEvent::Close) {
        QTimer::singleShot(0, this, [this] {
            if (mainWindow_ && !mainWindow_->isVisible())
                quit();
        });
    }
    return QApplication::eventFilter(watched, event);
}

void TApplication::setHelpFile(const QString& name)
{
    helpName_ = name;
    help_.load(findHelpFile(name));
}

void TApplication::showHelp(int context)
{
    if (help_.contexts().isEmpty()) {
        if (dialogs_) {
            QStringList folders;
            for (const QString& folder : helpFolders())
                folders << QDir::toNativeSeparators(QDir::cleanPath(folder));
            const QString text = help_.path().isEmpty()
                ? QStringLiteral("Guida non trovata: il file \"%1\" non c'è in\n%2")
                      .arg(helpName_, folders.join(QLatin1Char('\n')))
                : QStringLiteral("La guida \"%1\" non si può leggere.").arg(QDir::toNativeSeparators(help_.path()));
            dialogs_->information(activeWindow(), text);
        }
        return;
    }
    if (!viewer_)
        viewer_ = new HelpViewer(help_);
    viewer_->showTopic(context);
    viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
}

void TApplication::reportSerialError(const QString& message, const QString& hint)
{
    QString text = QStringLiteral("Serial error: ") + message;
    if (!hint.isEmpty())
        text += QLatin1Char('\n') + hint;
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
        reportSerialError(e.Message(), portOpenHint(e.Device(), e.ErrorCode()));
    } catch (...) {
        // Any other failure ends only the handler that raised it.
    }
}
