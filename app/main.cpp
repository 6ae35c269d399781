#include "app/Application.h"
#include "app/formMain.h"
#include "book/Unit2.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TApplication::setApplicationName(QStringLiteral("pradix"));
    TApplication::setApplicationDisplayName(QStringLiteral("Pradix"));
    app.setHelpFile(QStringLiteral("Pradix.hlp"));

    const Seams seams = realSeams();
    app.setDialogs(seams.dialogs);

    TfrmMain frmMain(seams);
    TForm2 form2(frmMain);
    frmMain.setAddressBook(&form2);
    frmMain.show();
    // The address book is a window of its own that lives until the program ends;
    // closing the main window ends the program.
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return app.exec();
}
