#pragma once

#include "fleet/FleetStore.h"
#include "tool/ToolFrame.h"

#include <QString>

#include <memory>

// The fleet store for the commands that read or write it (`audit`, `history`).
namespace tool {

// --store FILE: the fleet store; $XDG_DATA_HOME/pradix/fleet.sqlite unless given.
QCommandLineOption storeOption();
QString storeLocation(const CommandParser& parser);

// The store the command names, opened as `mode` asks. A store that cannot be
// used ends the command with a file error (exit 5) and the store's message.
std::unique_ptr<fleet::FleetStore> openFleetStore(const CommandParser& parser, fleet::OpenMode mode);

// A StoreError as a command's failure: exit 5 with the store's message.
[[noreturn]] void failOnStore(const fleet::StoreError& error);

} // namespace tool
