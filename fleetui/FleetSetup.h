#pragma once

#include <QString>
#include <QStringList>

// Where the fleet window finds the store, the book and the dialling units:
// the nightly audit's configuration ($XDG_CONFIG_HOME/pradix/audit.conf),
// so the window works on what the night's run works on.
namespace fleetui {

struct FleetSetup
{
    QString store;     // the fleet store's file
    QString book;      // the address book
    QStringList ports; // the dialling units, the first for a restore
    QString prefix;    // the digits for an outside line
    int silenceMs = 10000; // a line silent this long while an answer is awaited: given up
    QString problem;   // what was wrong with the configuration, for the status line; empty when nothing
};

// The configuration's "key = value" lines (a line starting with "#" is a
// comment), read as the nightly run reads them; what it
// leaves out is the default: the store in the data folder, RUBRICA.DAT in
// the folder the program was started in, no port. A book named without a
// folder in the file is in the home folder, as the nightly run takes it.
FleetSetup readFleetSetup();
QString fleetSetupPath();
// What the operator is told when no dialling unit is configured.
QString missingPortsMessage();

} // namespace fleetui
