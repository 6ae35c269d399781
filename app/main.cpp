#include "app/Application.h"
#include "app/Program.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TApplication::setApplicationName(QStringLiteral("pradix"));
    TApplication::setApplicationDisplayName(QStringLiteral("Pradix"));
    app.setHelpFile(QStringLiteral("Pradix.hlp"));

    Program program(realSeams());
    program.frmMain.show();
    return app.exec();
}
