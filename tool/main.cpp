// pradix-tool: the tables, files and address book of Pradix from the
// command line, without a display.

#include "tool/StopSignals.h"
#include "tool/ToolFrame.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The toolkit's own warnings (a missing runtime folder on a server, say) are
// no business of whoever runs the tool; its failures still reach stderr.
void toolkitMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "pradix-tool: %s\n", message.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv)
{
    tool::holdStopSignals();
    qInstallMessageHandler(toolkitMessages);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // Only printing needs fonts and a paint device: the Gui part then runs
    // on the offscreen platform, so no display is ever looked for.
    std::unique_ptr<QCoreApplication> app;
    if (tool::needsGui(arguments)) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    app->setApplicationVersion(QStringLiteral(PRADIX_VERSION));
    return tool::runTool(arguments);
}
