#include "app/Application.h"
#include "app/Program.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    app.setHelpFile(QStringLiteral("Pradix.hlp"));

    Program program(realSeams());
    app.setMainWindow(&program.frmMain);
    program.frmMain.show();
    return app.exec();
}
