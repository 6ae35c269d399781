#pragma once

#include "help/HelpContext.h"

#include <QApplication>
#include <QPointer>

#include <exception>
#include <functional>

class Dialogs;
class QSocketNotifier;

// The end of the desktop session as the program hears it: SIGTERM (what a
// logout or a shutdown sends), SIGHUP (the terminal it was started from
// going away) and SIGINT, taken from the signal handler to the event loop
// and handed to `end` there, once. One at a time in a process.
class SessionEnd : public QObject
{
    Q_OBJECT

public:
    explicit SessionEnd(std::function<void()> end, QObject* parent = nullptr);
    ~SessionEnd() override;

private:
    std::function<void()> end_;
    QSocketNotifier* notifier_ = nullptr;
};

// The application object. Its notify() is the program's error hook: a serial
// error that a handler lets escape is shown to the operator as
// "Serial error: " + message, followed on a line of its own by advice when
// a port would not open; any other exception ends only the handler that
// raised it. Nothing ever crosses the event loop uncaught, so an unsaved table
// survives every line or file failure. F1 opens the help at the topic of the
// control that has the focus. The toolkit's own texts (context menus, Yes/No,
// file dialogs) speak Italian like the rest of the program.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    void setDialogs(Dialogs* dialogs) { dialogs_ = dialogs; }
    // The program ends when this window closes, whatever other window
    // (address book, help) is still open; and the window closes, putting
    // down an open line as it does, when the desktop session ends.
    void setMainWindow(QWidget* window);
    // Loads the help file found by name next to the program or in its install folder.
    void setHelpFile(const QString& name);
    const HelpFile& helpFile() const { return help_; }
    // Opens (or raises) the help window at a topic; without a help file the
    // operator is told where it was looked for.
    void showHelp(int context);
    HelpViewer* helpViewer() const { return viewer_; }

    // Handlers are guarded where they are connected (serial/HandlerGuard.h)
    // and report to this object, so an exception never has to unwind through
    // the toolkit's own frames; notify() is the last resort for anything that
    // still gets that far.
    bool notify(QObject* receiver, QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reportEscapedError(std::exception_ptr error);
    // The message, and on a line of its own what the operator can do about it.
    void reportSerialError(const QString& message, const QString& hint);

    Dialogs* dialogs_ = nullptr;
    QPointer<QWidget> mainWindow_;
    SessionEnd* sessionEnd_ = nullptr;
    QString helpName_;
    HelpFile help_;
    QPointer<HelpViewer> viewer_;
};
