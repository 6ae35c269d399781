#pragma once

#include "device/WritePlan.h"

class TableGrid;
struct Seams;

// What the address book window uses of the main window, handed to it at
// start-up: it never includes the main window itself, and never starts the
// main window's steps. The line both windows work is the BoxSession, handed
// to it beside this.
class BookHost
{
public:
    virtual ~BookHost() = default;

    // The device grid: stored into cards, written by "Edita" and "Esci".
    virtual TableGrid& grid() = 0;
    // What a write reads of the main window's editor ("Scrivi Dati" writes
    // as "Scrivi Eeprom" would).
    virtual writeplan::EditorState editorState() const = 0;
    // Set by the address book's "Edita": the main grid then holds the card's
    // summary under edit, and "Utente" carries it back into the summary.
    virtual bool summaryEditing() const = 0;
    virtual void setSummaryEditing(bool editing) = 0;
    // The main window becomes the active window with the keyboard focus.
    virtual void focusWindow() = 0;
    virtual const Seams& seams() const = 0;
};
