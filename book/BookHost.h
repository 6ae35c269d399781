#pragma once

#include "device/WritePlan.h"

class TableGrid;
struct Seams;

// What the address book window uses of the main window, handed to it at
// start-up: it never includes the main window itself. The line it shares
// with the main window is the Exchange, handed to it beside this.
class BookHost
{
public:
    virtual ~BookHost() = default;

    // The device grid: stored into cards, written by "Edita" and "Esci".
    virtual TableGrid& grid() = 0;
    // Set by the address book's "Edita": the main grid then holds the card's
    // summary under edit, and "Utente" carries it back into the summary.
    virtual bool summaryEditing() const = 0;
    virtual void setSummaryEditing(bool editing) = 0;
    // The main window becomes the active window with the keyboard focus.
    virtual void focusWindow() = 0;
    // The table write, run as "Scrivi Eeprom" would run it but without its
    // message box: the caller tells the operator the result's message over
    // its own window. A port that cannot be opened raises ECommError.
    virtual writeplan::Result writeTable() = 0;
    virtual const Seams& seams() const = 0;
};
