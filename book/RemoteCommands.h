#pragma once

#include "device/WritePlan.h"

#include <QString>

#include <cstdint>
#include <functional>

class Exchange;
class Pacer;
class TableGrid;

// The four commands of the address book that work a customer's box through
// the dialling unit on the serial line: dial ("Chiama"), read the remote box
// ("Leggi Dati"), write it ("Scrivi Dati") and hang up ("Sconnetti"). Each
// opens the port itself and keeps no state beyond the port, the LED and the
// status line, so the operator may press any of them at any time. What the
// box sends back (its table, the reply to a write) reaches the exchange,
// which closes the port when it has it.
//
// A port that cannot be opened, or is still open from an earlier exchange,
// raises ECommError to the caller with nothing of the command sent. A frame
// the line does not take in time (-1) stops the command with the port open
// and the LED red.
class RemoteCommands
{
public:
    struct Window
    {
        // The status line, repainted at once.
        std::function<void(const QString& text)> setStatus;
        // Where the operator goes next after a step that went out.
        std::function<void()> focusRead;
        std::function<void()> focusWrite;
        // The main window's table write, as "Scrivi Eeprom" runs it but
        // without its message box. What it raises reaches the caller.
        std::function<writeplan::Result()> writeTable;
        // A plain message box over the window.
        std::function<void(const QString& text)> inform;
    };

    RemoteCommands(Exchange& exchange, Pacer& pacer, Window window);

    // Each command returns whether it went out whole: false after a refusal
    // (told through `inform`) or a frame the line did not take, with the port
    // left as the command left it.

    // "Chiama": the prefix for an outside line (when there is one), a pause
    // for the exchange to give the line, then the customer's number.
    bool call(const QString& surname, const QString& prefix, const QString& number);
    // "Leggi Dati": asks the called box for its table.
    bool readRemote();
    // "Scrivi Dati": the summary goes into the main grid and out through the
    // main window's write, then the called box is told to take it.
    bool writeRemote(const TableGrid& summary, TableGrid& mainGrid);
    // "Sconnetti": the dialling unit releases the line.
    bool hangUp();

private:
    // False when the line did not take the frame within the write time-out.
    bool send(const std::uint8_t* bytes, int count);

    Exchange& exchange_;
    Pacer& pacer_;
    Window window_;
};
