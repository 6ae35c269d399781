#pragma once

#include "help/HelpContext.h"

#include <QApplication>
#include <QPointer>

class Dialogs;

// The application object. Its notify() is the program's error hook: a serial
// error that a handler lets escape is shown to the operator as
// "Serial error: " + message; any other exception ends only the handler that
// raised it. Nothing ever crosses the event loop uncaught, so an unsaved table
// survives every line or file failure. F1 opens the help at the topic of the
// control that has the focus.
class TApplication : public QApplication
{
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    void setDialogs(Dialogs* dialogs) { dialogs_ = dialogs; }
    // Loads the help file found by name next to the program or in its install folder.
    void setHelpFile(const QString& name);
    const HelpFile& helpFile() const { return help_; }
    // Opens (or raises) the help window at a topic.
    void showHelp(int context);
    HelpViewer* helpViewer() const { return viewer_; }

    bool notify(QObject* receiver, QEvent* event) override;

    // The error hook for the exception being handled; call it from a catch
    // block. Handlers are wrapped in it where they are connected, so an
    // exception never has to unwind through the toolkit's own frames; notify()
    // is the last resort for anything that still gets that far.
    static void reportEscaped() noexcept;

private:
    void reportSerialError(const QString& message);

    Dialogs* dialogs_ = nullptr;
    HelpFile help_;
    QPointer<HelpViewer> viewer_;
};
