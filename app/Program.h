#pragma once

#include "app/formMain.h"
#include "book/Unit2.h"

// The program's two windows as start-up builds them: the main window, then
// the address book, hidden, handed what it uses of the main window.
struct Program
{
    explicit Program(const Seams& seams)
        : frmMain(seams)
        , form2(frmMain)
    {
        frmMain.setAddressBook(&form2);
    }

    TfrmMain frmMain;
    TForm2 form2;
};
