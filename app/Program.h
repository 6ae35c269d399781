#pragma once

#include "app/Application.h"
#include "app/formMain.h"
#include "book/Unit2.h"

// The program's two windows as start-up builds them: the main window, then
// the address book, hidden, handed what it uses of the main window and the
// main window's exchange. The
// application object's error hook shows its messages through the same
// dialogs for as long as the windows live.
struct Program
{
    explicit Program(const Seams& seams)
        : frmMain(seams)
        , form2(frmMain, frmMain.session())
    {
        frmMain.setAddressBook(&form2);
        if (auto* app = qobject_cast<TApplication*>(QCoreApplication::instance()))
            app->setDialogs(seams.dialogs);
    }
    ~Program()
    {
        if (auto* app = qobject_cast<TApplication*>(QCoreApplication::instance()))
            app->setDialogs(nullptr);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    TfrmMain frmMain;
    TForm2 form2;
};
