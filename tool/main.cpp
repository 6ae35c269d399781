// pradix-tool: the tables, files and address book of Pradix from the
// command line, without a display.

#include "tool/ToolFrame.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>

#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
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
    return tool::runTool(arguments);
}
